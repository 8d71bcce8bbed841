// KivDB: opening a handle, the header, look-ups, reads and iteration.
#include "db/kiv_db.h"

#include <algorithm>
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
  return RecordSummary{entry.flags, entry.kiv_id, entry.play_count};
}

void NoteWrite(std::uint64_t pos, const DBEntry* written) {
  DbState& state = State();
  ++state.generation;
  if (pos < kDbHeaderSize) return;
  const std::size_t slot = (pos - kDbHeaderSize) / kDbRecordSize;
  if (slot >= state.summaries.size()) state.summaries.resize(slot + 1);
  if (written)
    state.summaries[slot] = Summarise(*written);
  else
    state.summaries[slot].reset();
}

bool NoteWriteFailure(int err, bool grows) {
  DbState& state = State();
  const bool is_new = state.write_failure != err;
  state.write_failure_grows = grows || (!is_new && state.write_failure_grows);
  state.write_failure = err;
  state.writes_failing = true;
  if (is_new)
    DbLog(LEVEL_ERROR,
          "Writes to the local db fail (%s): nothing is lost, and failures of this kind are "
          "not logged again until a write succeeds",
          platform::ErrnoText(err).c_str());
  return is_new;
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
  if (State().initialised) WriteHeader();
  file_.Flush();
  file_.Close();
}

DWORD KivDB::ValidCount() { return State().ready ? State().valid_count.load() : 0; }
DWORD KivDB::EmptyCount() { return State().ready ? State().empty_count.load() : 0; }
DWORD KivDB::IdentifiedCount() { return State().identified_count; }
DWORD KivDB::KivIdCount() { return State().kiv_id_count; }
std::int64_t KivDB::LastAddTime() { return State().last_add_time; }
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
  if (!file_.OpenReadWrite(path)) {
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
    if (kivdb::NoteWriteFailure(file_.last_errno(), false))
      DbLog(LEVEL_ERROR, "Unable to write file header in local db: %s, %i", state.path.c_str(),
            file_.last_errno());
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

std::uint32_t KivDB::LookupEntry(const std::string& path) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady() || path.empty()) return 0;
  auto it = state.index.find(platform::PathKey(path));
  if (it == state.index.end()) return 0;
  if (!kivdb::CheckBoundary(it->second)) {
    DbLog(LEVEL_CRITICAL, "LookupEntry: index came up with insane position (offset %u)",
          it->second);
    return 0;
  }
  return it->second;
}

BOOL KivDB::GetEntry(const std::string& path, DBEntry* entry) {
  if (path.empty() || !entry) return FALSE;
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return FALSE;
  std::uint32_t pos = LookupEntry(path);
  if (pos == 0) {
    DbLogDetail(LEVEL_INFO, path, "GetEntry: Entry not found in local db for file");
    return FALSE;
  }
  std::size_t got = 0;
  if (!ReadRecord(pos, entry, &got)) {
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
    const std::size_t slot = (cursor_ - kDbHeaderSize) / kDbRecordSize;
    if (slot >= state.summaries.size()) break;
    const std::optional<RecordSummary>& summary = state.summaries[slot];
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
    std::optional<RecordSummary> summary;
    if (slot < state.summaries.size()) summary = state.summaries[slot];
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

DWORD KivDB::CountInPaths(const PathTest& wanted, const SummaryTest& test, bool* busy) {
  auto& state = State();
  std::unique_lock guard(state.lock, std::defer_lock);
  if (busy == nullptr) {
    guard.lock();
  } else {
    *busy = !guard.try_lock();
    if (*busy) return 0;
  }
  if (!state.initialised || !state.loaded) return 0;
  DWORD count = 0;
  for (const auto& [key, pos] : state.index) {
    if (!wanted(key)) continue;
    const std::size_t slot = (pos - kDbHeaderSize) / kDbRecordSize;
    if (slot >= state.summaries.size() || !state.summaries[slot]) continue;
    const RecordSummary& summary = *state.summaries[slot];
    if ((summary.flags & DBFLAG_VALID) && test(summary)) ++count;
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

BOOL KivDB::GetEntriesWhere(const PathTest& wanted, PositionedEntries* found) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return FALSE;
  std::vector<std::uint32_t> positions;
  for (const auto& [key, pos] : state.index)
    if (wanted(key)) positions.push_back(pos);
  std::sort(positions.begin(), positions.end());
  BOOL all = TRUE;
  for (std::uint32_t pos : positions) {
    DBEntry entry;
    std::size_t got = 0;
    if (!kivdb::CheckBoundary(pos) || !ReadRecord(pos, &entry, &got) || !ValidEntry(&entry) ||
        !(entry.flags & DBFLAG_VALID)) {
      DbLog(LEVEL_ERROR, "GetEntriesWhere: unable to read the record at offset %u", pos);
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
    if (kivdb::NoteWriteFailure(file_.last_errno(), false))
      DbLog(LEVEL_ERROR, "Flush: unable to flush local db file: %s, %i", State().path.c_str(),
            file_.last_errno());
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
