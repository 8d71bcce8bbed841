// KivDB: opening a handle, the header, look-ups, reads and iteration.
#include "db/kiv_db.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/format.h"
#include "app/message_box.h"
#include "db/db_log.h"
#include "db/db_state.h"
#include "platform/file_io.h"
#include "platform/text.h"

using kivdb::DbLog;
using kivdb::DbLogDetail;
using kivdb::State;

namespace {

// How a pass in file order ended: at a short or failed read (`partial`
// bytes of the last record), or at the end of the file.
void LogPassEnd(bool short_read, std::size_t partial) {
  if (short_read) {
    DbLog(LEVEL_ERROR,
          "Unable to read entire record from db file while loading index, wanted %d but could "
          "only read %d",
          static_cast<int>(kDbRecordSize), static_cast<int>(partial));
  } else {
    DbLog(LEVEL_VERBOSE, "End of file reached while generating index and scanning %s",
          State().path.c_str());
  }
}

}  // namespace

namespace kivdb {

DbState& State() {
  static DbState state;
  return state;
}

bool CheckBoundary(std::uint64_t pos) {
  std::uint64_t length = State().length;
  if (IsRecordBoundary(pos, length)) return true;
  DbLog(LEVEL_ERROR, "DB cursor not on record boundary: pos=%llu, dbsize=%llu",
        static_cast<unsigned long long>(pos), static_cast<unsigned long long>(length));
  return false;
}

RecordSummary Summarise(const DBEntry& entry) {
  return RecordSummary{entry.flags, entry.kiv_id != 0, entry.play_count != 0, entry.file_modified};
}

namespace {

SlotInfo& Slot(std::uint64_t pos) {
  DbState& state = State();
  const std::size_t slot = SlotOf(pos);
  if (slot >= state.slots.size()) state.slots.resize(slot + 1);
  return state.slots[slot];
}

}  // namespace

void NoteLoaded(std::uint64_t pos, const DBEntry& entry) {
  SlotInfo& info = Slot(pos);
  info.known = true;
  info.flags = entry.flags;
  info.has_kiv_id = entry.kiv_id != 0;
  info.played = entry.play_count != 0;
  info.file_modified = entry.file_modified;
}

void NoteWrite(std::uint64_t pos, const DBEntry* written) {
  ++State().generation;
  if (pos < kDbHeaderSize) return;
  if (written)
    NoteLoaded(pos, *written);
  else
    Slot(pos).known = false;
}

void KeepFolder(std::string_view path, std::uint32_t pos) {
  Slot(pos).folder = State().folders.Acquire(FolderTable::FolderOf(path));
}

void DropFolder(std::uint32_t pos) {
  SlotInfo& info = Slot(pos);
  State().folders.Release(info.folder);
  info.folder = FolderTable::kNone;
}

void IndexRecord(std::string_view path, std::uint32_t pos, std::uint64_t wide) {
  State().index.Insert(static_cast<std::uint32_t>(wide), pos);
  Slot(pos).check = PathIndex::Check(wide);
  KeepFolder(path, pos);
}

void UnindexRecord(std::string_view path, std::uint32_t pos) {
  State().index.Erase(PathIndex::Hash(path), pos);
  DropFolder(pos);
}

void ClearIndex() {
  DbState& state = State();
  // A path may have a record in the index loaded next that it lacked here.
  ++state.add_count;
  state.index.Clear();
  state.folders.Clear();
  state.free_list.clear();
  std::vector<SlotInfo>().swap(state.slots);
}

bool NoteWriteFailure(int err, bool grows) {
  DbState& state = State();
  const bool is_new = state.write_failure != err;
  state.write_failure_grows = grows || (!is_new && state.write_failure_grows);
  state.write_failure = err;
  state.writes_failing = true;
  if (!is_new) return false;
  DbLog(LEVEL_ERROR,
        "Writes to the local db fail (%s): nothing is lost, and failures of this kind are "
        "not logged again until a write succeeds",
        platform::ErrnoText(err).c_str());
  // A folder that turned read-only usually holds the log too: the user is
  // told once, the next time a KivDB opens.
  if (err == EROFS || err == EACCES)
    state.messages.push_back(StrFormat("Unable to write to local db file: %s, %s",
                                       state.path.c_str(), platform::ErrnoText(err).c_str()));
  return true;
}

void NoteWriteSuccess(bool grows) {
  DbState& state = State();
  if (state.write_failure == 0 || (state.write_failure_grows && !grows)) return;
  state.write_failure = 0;
  state.writes_failing = false;
  DbLog(LEVEL_WARNING, "Writes to the local db succeed again");
}

void ShowPendingMessages() {
  std::vector<std::string> messages;
  {
    std::lock_guard guard(State().lock);
    messages.swap(State().messages);
  }
  for (const std::string& text : messages) AppMessageBox(text, MB_OK | MB_ICONERROR);
}

}  // namespace kivdb

KivDB::KivDB() {
  {
    std::lock_guard guard(State().lock);
    OpenLocked();
  }
  kivdb::ShowPendingMessages();
}

KivDB::~KivDB() {
  std::lock_guard guard(State().lock);
  CloseFile();
}

void KivDB::CloseFile() {
  if (!file_.is_open()) return;
  // What this handle wrote since its last flush reaches the disk, with a
  // header that is behind the counts; a handle that only read (or flushed
  // already) costs no write and no sync.
  if (State().initialised && (State().header_stale || file_.written_since_flush())) WriteHeader();
  if (file_.written_since_flush()) file_.Flush();
  file_.Close();
}

DWORD KivDB::ValidCount() { return State().ready ? State().valid_count.load() : 0; }
DWORD KivDB::EmptyCount() { return State().ready ? State().empty_count.load() : 0; }
DWORD KivDB::IdentifiedCount() { return State().identified_count; }
DWORD KivDB::KivIdCount() { return State().kiv_id_count; }
std::int64_t KivDB::LastAddTime() { return State().last_add_time; }
std::uint64_t KivDB::AddCount() { return State().add_count; }
std::int64_t KivDB::LastDeleteTime() { return State().last_delete_time; }
bool KivDB::IsInitialised() { return State().ready; }
bool KivDB::WritesFailing() { return State().writes_failing; }
void KivDB::SetEventSink(DbEventSink* sink) { State().sink = sink; }

std::string KivDB::DatabasePath() {
  std::lock_guard guard(State().lock);
  return State().path;
}

BOOL KivDB::IsReady() {
  std::lock_guard guard(State().lock);
  if (!State().initialised) {
    DbLog(LEVEL_ERROR, "Call to DB failed: DB not initialized");
    return FALSE;
  }
  if (!file_.is_open()) {
    DbLog(LEVEL_ERROR, "Call to DB failed: DB file failed to open");
    return FALSE;
  }
  return TRUE;
}

BOOL KivDB::_openDB() {
  BOOL opened;
  {
    std::lock_guard guard(State().lock);
    opened = OpenLocked();
  }
  kivdb::ShowPendingMessages();
  return opened;
}

BOOL KivDB::OpenLocked() {
  auto& state = State();
  if (file_.is_open()) return TRUE;
  const std::string& path = state.path;
  read_only_error_ = 0;
  if (!file_.OpenReadWrite(path)) {
    const int err = file_.last_errno();
    // The folder turned read-only (or lost its write permission) after the
    // start: the records stay readable, and the writes fail as on a full
    // disk, told once rather than at every open.
    if (state.loaded && (err == EROFS || err == EACCES) && file_.OpenRead(path)) {
      read_only_error_ = err;
      kivdb::NoteWriteFailure(err, false);
      return TRUE;
    }
    std::string text = StrFormat("Unable to create or open local db file: %s, %s", path.c_str(),
                                 platform::ErrnoText(file_.last_errno()).c_str());
    DbLog(LEVEL_ERROR, "%s", text.c_str());
    state.messages.push_back(text);
    return FALSE;
  }
  std::int64_t size = file_.Size();
  if (size == 0) {
    if (!WriteHeader()) {
      std::string text = StrFormat("Unable to write header for local db file: %s, (%d)",
                                   path.c_str(), file_.last_errno());
      DbLog(LEVEL_ERROR, "%s", text.c_str());
      state.messages.push_back(text);
      file_.Close();
      return FALSE;
    }
    // A new file, its header and its name reach the disk before any record
    // is written to it: a record flushed later must not sit in a file that
    // a power cut leaves without a name.
    if (!file_.Flush() || platform::SyncParentFolder(path) != 0)
      DbLog(LEVEL_WARNING, "Unable to make the new local db file durable: %s", path.c_str());
    return TRUE;
  }
  DBHeader header;
  std::size_t got = 0;
  bool read = size > 0 && file_.ReadAt(0, &header, sizeof header, &got);
  bool ok = false;
  if (!read || got < sizeof header) {
    DbLog(LEVEL_ERROR, "The number of bytes read from file (%d) do not equal the header size(%d)",
          static_cast<int>(got), static_cast<int>(kDbHeaderSize));
  } else if (std::memcmp(header.magic, "KIVDB", 5) != 0) {
    DbLog(LEVEL_ERROR, "DB header magic value invalid. Bad DB!");
  } else if (header.header_size != kDbHeaderSize) {
    DbLog(LEVEL_ERROR, "DB header size invalid. Bad DB!");
  } else {
    ok = true;
  }
  if (!ok) {
    DbLog(LEVEL_ERROR, "Unable to read in local db file: %s, (%d)", path.c_str(),
          file_.last_errno());
    file_.Close();  // without writing: a file that is not ours stays untouched
    return FALSE;
  }
  // Once the index is loaded the image in memory is newer than any header
  // that a failed write may have left on disk.
  if (!state.loaded) {
    state.header = header;
    state.PublishCounts();
  }
  return TRUE;
}

BOOL KivDB::WriteHeader() {
  auto& state = State();
  if (!file_.WriteAt(0, &state.header, sizeof state.header)) {
    if (kivdb::NoteWriteFailure(WriteErrno(), false))
      DbLog(LEVEL_ERROR, "Unable to write file header in local db: %s, %i", state.path.c_str(),
            WriteErrno());
    return FALSE;
  }
  kivdb::NoteWriteSuccess(false);
  state.header_stale = false;
  state.header_written_ms = platform::SystemClock().TickMs();
  return TRUE;
}

bool KivDB::ReadRecord(std::uint32_t pos, DBEntry* entry, std::size_t* got, bool* failed) {
  bool read = file_.ReadAt(pos, entry, sizeof *entry, got);
  if (failed) *failed = !read;
  return read && *got == sizeof *entry;
}

bool KivDB::ReadRecordAhead(std::uint32_t pos, DBEntry* entry, std::size_t* got, bool* failed) {
  // Enough records per read to make the system call cheap next to the
  // records' own handling, few enough to stay in the processor's cache.
  constexpr std::size_t kAheadRecords = 32;
  if (ahead_count_ == 0 || State().generation != ahead_generation_ || pos < ahead_from_ ||
      pos >= ahead_from_ + ahead_count_ * kDbRecordSize) {
    std::size_t read_bytes = 0;
    // Nothing whole to keep: the single read reports what it finds.
    if (!FillAhead(pos, kAheadRecords, &read_bytes) || ahead_count_ == 0)
      return ReadRecord(pos, entry, got, failed);
  }
  *entry = ahead_[(pos - ahead_from_) / kDbRecordSize];
  *got = sizeof *entry;
  if (failed) *failed = false;
  return true;
}

bool KivDB::FillAhead(std::uint32_t pos, std::size_t max, std::size_t* got) {
  ahead_.resize(std::max(ahead_.size(), max));
  const bool read = file_.ReadAt(pos, ahead_.data(), max * sizeof(DBEntry), got);
  ahead_from_ = pos;
  ahead_count_ = read ? *got / sizeof(DBEntry) : 0;
  ahead_generation_ = State().generation;
  return read;
}

std::uint32_t KivDB::FindIndexed(const std::string& path, DBEntry* record, bool* checked) {
  *checked = false;
  const std::string key = platform::PathKey(path);
  return State().index.Find(kivdb::PathIndex::Hash(key), [&](std::uint32_t pos) {
    std::size_t got = 0;
    // A position outside the file is the caller's to report.
    if (!IsRecordBoundary(pos, State().length) || !ReadRecord(pos, record, &got) ||
        !ValidEntry(record))
      return true;
    if (platform::PathKey(EntryPath(*record)) != key) return false;
    *checked = true;
    return true;
  });
}

namespace {

// The position the index holds for the path whose hash is `wide`, or 0
// (lock held). No read: a position is taken when its slot's check matches
// too, so two paths are mistaken only when all 64 bits of their hashes
// agree. Reads and writes check the path on the record.
std::uint32_t IndexedPosition(kivdb::DbState& state, std::uint64_t wide) {
  const std::uint32_t check = kivdb::PathIndex::Check(wide);
  const std::uint32_t pos =
      state.index.Find(static_cast<std::uint32_t>(wide), [&](std::uint32_t at) {
        const std::size_t slot = kivdb::SlotOf(at);
        return slot >= state.slots.size() || state.slots[slot].check == check;
      });
  if (pos == 0) return 0;
  if (!kivdb::CheckBoundary(pos)) {
    DbLog(LEVEL_CRITICAL, "LookupEntry: index came up with insane position (offset %u)", pos);
    return 0;
  }
  return pos;
}

}  // namespace

std::uint32_t KivDB::LookupEntry(const std::string& path) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady() || path.empty()) return 0;
  return IndexedPosition(state, kivdb::PathIndex::Wide(platform::PathKeyView(path)));
}

void KivDB::LookupEntries(const std::vector<std::string_view>& paths,
                          std::vector<std::uint32_t>* positions) {
  positions->assign(paths.size(), 0);
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return;
  std::vector<std::uint64_t> wide(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    wide[i] = kivdb::PathIndex::Wide(platform::PathKeyView(paths[i]));
    state.index.Prefetch(static_cast<std::uint32_t>(wide[i]));
  }
  for (std::size_t i = 0; i < paths.size(); ++i)
    if (!paths[i].empty()) (*positions)[i] = IndexedPosition(state, wide[i]);
}

BOOL KivDB::GetEntry(const std::string& path, DBEntry* entry) {
  if (path.empty() || !entry) return FALSE;
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return FALSE;
  bool checked = false;
  std::uint32_t pos = FindIndexed(path, entry, &checked);
  if (pos == 0) {
    DbLogDetail(LEVEL_INFO, path, "GetEntry: Entry not found in local db for file");
    return FALSE;
  }
  if (!kivdb::CheckBoundary(pos)) {
    DbLog(LEVEL_CRITICAL, "LookupEntry: index came up with insane position (offset %u)", pos);
    return FALSE;
  }
  std::size_t got = 0;
  if (!checked && !ReadRecord(pos, entry, &got)) {
    DbLog(LEVEL_ERROR, "Error while reading %s for filename %s System Error=%d, bytes read=%d",
          state.path.c_str(), path.c_str(), file_.last_errno(), static_cast<int>(got));
    return FALSE;
  }
  if (!ValidEntry(entry)) {
    DbLog(LEVEL_CRITICAL, "GetEntry: Entry for: %s at file position: %u is invalid!", path.c_str(),
          pos);
    return FALSE;
  }
  DbLog(LEVEL_INFO, "Found entry for: %s at file position: %u", path.c_str(), pos);
  return TRUE;
}

std::uint32_t KivDB::GetFirstEntry(DBEntry* entry, BOOL include_invalid) {
  std::lock_guard guard(State().lock);
  if (!IsReady()) return 0;
  cursor_ = kDbHeaderSize;
  return GetNextEntry(entry, include_invalid);
}

std::uint32_t KivDB::GetNextEntry(DBEntry* entry, BOOL include_invalid) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return 0;
  if (!kivdb::CheckBoundary(cursor_)) {
    DbLog(LEVEL_CRITICAL, "GetNextEntry: possible DB corruption");
    return 0;
  }
  for (;;) {
    DBEntry record;
    std::size_t got = 0;
    bool failed = false;
    std::uint32_t pos = cursor_;
    if (!ReadRecordAhead(pos, &record, &got, &failed)) {
      LogPassEnd(got > 0 || failed, got);
      return 0;
    }
    cursor_ = pos + kDbRecordSize;
    if (!ValidEntry(&record)) {
      DbLog(LEVEL_CRITICAL, "Invalid record found at offset %u", pos);
      return 0;
    }
    if ((record.flags & DBFLAG_VALID) || include_invalid) {
      if (entry) *entry = record;
      return pos;
    }
    if (!kivdb::CheckBoundary(cursor_)) {
      DbLog(LEVEL_CRITICAL, "GetNextEntry: possible DB corruption");
      return 0;
    }
  }
}

std::uint32_t KivDB::GetFirstEntry(DBEntry* entry, const SummaryTest& worth_reading) {
  std::lock_guard guard(State().lock);
  if (!IsReady()) return 0;
  cursor_ = kDbHeaderSize;
  return GetNextEntry(entry, worth_reading);
}

std::uint32_t KivDB::GetNextEntry(DBEntry* entry, const SummaryTest& worth_reading) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return 0;
  // Steps over the slots that are empty or turned down by their summary; a
  // slot without a known summary is read. The record found is read as the
  // plain pass reads it, with its checks and its read-ahead.
  while (cursor_ < state.length && IsRecordBoundary(cursor_, state.length)) {
    const std::optional<RecordSummary> summary = kivdb::KeptSummary(state, kivdb::SlotOf(cursor_));
    if (!summary || ((summary->flags & DBFLAG_VALID) && worth_reading(*summary))) break;
    cursor_ += kDbRecordSize;
  }
  return GetNextEntry(entry, FALSE);
}

DWORD KivDB::CountWhere(const SummaryTest& test, const std::vector<std::uint32_t>& except) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return 0;
  DWORD count = 0;
  std::size_t slot = 0;
  for (std::uint64_t pos = kDbHeaderSize; pos + kDbRecordSize <= state.length;
       pos += kDbRecordSize, ++slot) {
    std::optional<RecordSummary> summary = kivdb::KeptSummary(state, slot);
    if (!summary) {
      DBEntry record;
      std::size_t got = 0;
      if (!ReadRecord(static_cast<std::uint32_t>(pos), &record, &got) || !ValidEntry(&record))
        break;
      summary = kivdb::Summarise(record);
    }
    if ((summary->flags & DBFLAG_VALID) && test(*summary) &&
        !std::binary_search(except.begin(), except.end(), static_cast<std::uint32_t>(pos)))
      ++count;
  }
  return count;
}

DWORD KivDB::CountInFolders(const FolderTest& wanted, const SummaryTest& test, bool* busy) {
  auto& state = State();
  std::unique_lock guard(state.lock, std::defer_lock);
  if (busy == nullptr) {
    guard.lock();
  } else {
    *busy = !guard.try_lock();
    if (*busy) return 0;
  }
  if (!state.initialised || !state.loaded) return 0;
  const std::vector<bool> chosen = state.folders.Select(wanted);
  DWORD count = 0;
  for (std::size_t slot = 0; slot < state.slots.size(); ++slot) {
    const std::uint32_t folder = state.slots[slot].folder;
    if (folder >= chosen.size() || !chosen[folder]) continue;
    const std::optional<RecordSummary> summary = kivdb::KeptSummary(state, slot);
    if (summary && (summary->flags & DBFLAG_VALID) && test(*summary)) ++count;
  }
  return count;
}

std::uint32_t KivDB::GetEntryBlock(std::uint32_t from, std::size_t max, PositionedEntries* found) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady() || max == 0) return 0;
  if (from == 0) from = kDbHeaderSize;
  if (!kivdb::CheckBoundary(from)) {
    DbLog(LEVEL_CRITICAL, "GetNextEntry: possible DB corruption");
    return 0;
  }
  std::size_t got = 0;
  const bool read = FillAhead(from, max, &got);
  const std::size_t whole = got / sizeof(DBEntry);
  for (std::size_t i = 0; i < whole; ++i) {
    const std::uint32_t pos = from + static_cast<std::uint32_t>(i * kDbRecordSize);
    if (!ValidEntry(&ahead_[i])) {
      DbLog(LEVEL_CRITICAL, "Invalid record found at offset %u", pos);
      return 0;
    }
    if (ahead_[i].flags & DBFLAG_VALID) found->emplace_back(pos, ahead_[i]);
  }
  if (read && whole == max) return from + static_cast<std::uint32_t>(whole * kDbRecordSize);
  LogPassEnd(!read || got % sizeof(DBEntry) != 0, got % sizeof(DBEntry));
  return 0;
}

std::uint32_t KivDB::GetSummaryBlock(std::uint32_t from, std::size_t max,
                                     PositionedSummaries* found) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady() || max == 0) return 0;
  if (from == 0) from = kDbHeaderSize;
  if (!kivdb::CheckBoundary(from)) return 0;
  std::uint64_t pos = from;
  for (std::size_t n = 0; n < max; ++n, pos += kDbRecordSize) {
    if (pos + kDbRecordSize > state.length) return 0;
    std::optional<RecordSummary> summary = kivdb::KeptSummary(state, kivdb::SlotOf(pos));
    if (!summary) {
      DBEntry record;
      std::size_t got = 0;
      if (!ReadRecord(static_cast<std::uint32_t>(pos), &record, &got) || !ValidEntry(&record)) {
        DbLog(LEVEL_ERROR, "GetSummaryBlock: unable to read the record at offset %llu",
              static_cast<unsigned long long>(pos));
        return 0;
      }
      summary = kivdb::Summarise(record);
    }
    if (summary->flags & DBFLAG_VALID)
      found->emplace_back(static_cast<std::uint32_t>(pos), *summary);
  }
  return static_cast<std::uint32_t>(pos);
}

BOOL KivDB::GetEntriesIn(const FolderTest& wanted, PositionedEntries* found) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return FALSE;
  const std::vector<bool> chosen = state.folders.Select(wanted);
  std::vector<std::uint32_t> positions;
  for (std::size_t slot = 0; slot < state.slots.size(); ++slot) {
    const std::uint32_t folder = state.slots[slot].folder;
    if (folder < chosen.size() && chosen[folder])
      positions.push_back(static_cast<std::uint32_t>(kDbHeaderSize + slot * kDbRecordSize));
  }
  BOOL all = TRUE;
  for (std::uint32_t pos : positions) {
    DBEntry entry;
    std::size_t got = 0;
    if (!kivdb::CheckBoundary(pos) || !ReadRecord(pos, &entry, &got) || !ValidEntry(&entry) ||
        !(entry.flags & DBFLAG_VALID)) {
      DbLog(LEVEL_ERROR, "GetEntriesIn: unable to read the record at offset %u", pos);
      all = FALSE;
      continue;
    }
    found->emplace_back(pos, entry);
  }
  return all;
}

BOOL KivDB::Flush() {
  std::lock_guard guard(State().lock);
  if (!IsReady()) return FALSE;
  if (State().header_stale && !WriteHeader()) return FALSE;
  if (!file_.Flush()) {
    if (kivdb::NoteWriteFailure(WriteErrno(), false))
      DbLog(LEVEL_ERROR, "Flush: unable to flush local db file: %s, %i", State().path.c_str(),
            WriteErrno());
    return FALSE;
  }
  return TRUE;
}

std::int64_t KivDB::GetLength() {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady() || state.path.empty()) return -1;
  platform::FileInfo info;
  if (!platform::StatFile(state.path, &info)) return -1;
  return static_cast<std::int64_t>(info.size);
}
