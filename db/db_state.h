// The database engine's process-wide state, shared by every KivDB object:
// the header image, the index from path key to record position, the free
// list and the counters. Internal to db/.
//
// Thread safety: everything but the atomics is guarded by `lock`. The
// atomics mirror the counts for readers that take no lock (the status page).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/db_events.h"
#include "db/db_format.h"
#include "db/folder_table.h"
#include "db/kiv_db.h"
#include "db/path_index.h"
#include "platform/clock.h"
#include "platform/file_lock.h"

namespace kivdb {

// What the engine keeps of each slot of the file, in file order.
struct SlotInfo {
  std::int64_t file_modified = 0;
  std::uint32_t flags = 0;  // the record's DBFLAG_*
  // The folder of the record the index holds at this slot, and the check
  // half of its path's hash (PathIndex::Check).
  std::uint32_t folder = FolderTable::kNone;
  std::uint32_t check = 0;
  // False after a failed write: the record is then read whenever a pass
  // asks about it.
  bool known = false;
  bool has_kiv_id = false;
  bool played = false;
};
// One per slot of the file for the whole run: kept small.
static_assert(sizeof(SlotInfo) == 24);

struct DbState {
  std::recursive_mutex lock;
  bool initialised = false;
  // True once the index is loaded: from then on the header image in memory
  // is the authority and opening a handle no longer replaces it.
  bool loaded = false;
  std::string path;
  // The process's exclusive lock on the database file, held from Initialise
  // to Shutdown: a second process reaching the same file (another session's
  // copy, a DBPath shared by two data folders) must never write it too.
  platform::FileLock file_lock;
  DBHeader header = MakeDBHeader();
  // Path hash -> position of every valid record; the folders they are in.
  PathIndex index;
  FolderTable folders;
  std::deque<std::uint32_t> free_list;  // oldest freed slot first
  // Length of the file as the engine's own writes left it.
  std::uint64_t length = 0;
  // Bumped by every write of a record, so that a handle's read-ahead
  // (GetNextEntry) knows when what it holds may be stale.
  std::uint64_t generation = 0;
  // Each slot's record as loaded and as the engine's own writes left it.
  std::vector<SlotInfo> slots;
  // The header image holds adds not yet written to the file, and when (real
  // milliseconds) it was last written. A burst of adds writes it about once
  // a second and once more at Flush or close; a file left with an old
  // header (a crash in between) is repaired at the next load.
  bool header_stale = false;
  std::uint64_t header_written_ms = 0;
  platform::Clock* clock = &platform::SystemClock();
  // The cause (errno) of the writes failing now, 0 while writes succeed,
  // and whether the failing write was one that grows the file: on a full
  // disk records are still overwritten in place, so only a write that grows
  // the file again tells that space came back.
  int write_failure = 0;
  bool write_failure_grows = false;
  // Message-box texts waiting to be shown once the lock is released (a box
  // may wait for the user interface thread, which may want the lock).
  std::vector<std::string> messages;

  std::atomic<bool> ready{false};
  std::atomic<DWORD> valid_count{0};
  std::atomic<DWORD> empty_count{0};
  std::atomic<DWORD> identified_count{0};
  std::atomic<DWORD> kiv_id_count{0};
  std::atomic<std::int64_t> last_add_time{0};
  std::atomic<std::int64_t> last_delete_time{0};
  std::atomic<DbEventSink*> sink{nullptr};
  std::atomic<bool> writes_failing{false};
  // Records added and index loads since the process started, over every
  // connection (see KivDB::AddCount).
  std::atomic<std::uint64_t> add_count{0};

  // The program's "now" for record times.
  std::int64_t Now() const { return platform::NowAsStoredTime(clock->WallTime()); }
  // Copies the header image's counts to the lock-free mirrors.
  void PublishCounts() {
    valid_count = header.valid_count;
    empty_count = header.empty_count;
  }
  void NotifyCountsChanged() {
    if (DbEventSink* s = sink.load()) s->OnCountsChanged();
  }
};

DbState& State();

RecordSummary Summarise(const DBEntry& entry);
// The summary kept of slot `slot`; nullopt when it is not known. Inline:
// the passes ask it of every slot of the file.
inline std::optional<RecordSummary> KeptSummary(const DbState& state, std::size_t slot) {
  if (slot >= state.slots.size() || !state.slots[slot].known) return std::nullopt;
  const SlotInfo& info = state.slots[slot];
  return RecordSummary{info.flags, info.has_kiv_id, info.played, info.file_modified};
}
inline std::size_t SlotOf(std::uint64_t pos) { return (pos - kDbHeaderSize) / kDbRecordSize; }

// Enters the valid record of `path` (whose PathIndex::Wide hash is `wide`)
// at `pos` into the index, and takes it out again (with the lock held).
void IndexRecord(std::string_view path, std::uint32_t pos, std::uint64_t wide);
void UnindexRecord(std::string_view path, std::uint32_t pos);
// The folder part of those: counts the record at `pos` in the folder of
// `path`, and out of its folder.
void KeepFolder(std::string_view path, std::uint32_t pos);
void DropFolder(std::uint32_t pos);
// Empties the index, the folders, the free list and the slots.
void ClearIndex();

// Keeps the summary of the record at `pos` as read by the load.
void NoteLoaded(std::uint64_t pos, const DBEntry& entry);
// After a write of the record at `pos` (with the lock held): bumps the
// write generation and keeps the slot's summary; `written` is the record
// now on disk, null when the write failed and left the slot unknown.
void NoteWrite(std::uint64_t pos, const DBEntry* written);

// After a write failed with `err` (with the lock held): true when it is the
// first failure of a run, or one of another cause, and so is to be logged;
// a run of failures of one cause is logged once, not once per write.
// `grows`: the write was to extend the file.
bool NoteWriteFailure(int err, bool grows);
// After a write succeeded (with the lock held): logs once that writes work
// again when they were failing.
void NoteWriteSuccess(bool grows);

// Shows the texts in DbState::messages. Call without holding the lock.
void ShowPendingMessages();

// Logs "DB cursor not on record boundary" when `pos` is not a record
// boundary of the file as the engine knows it.
bool CheckBoundary(std::uint64_t pos);

}  // namespace kivdb
