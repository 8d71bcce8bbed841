// KivDB: adding, updating and deleting records.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "db/db_log.h"
#include "db/db_state.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "platform/last_error.h"
#include "platform/text.h"

using kivdb::DbLog;
using kivdb::DbLogDetail;
using kivdb::State;

namespace {

// Least time between two header writes of a burst of adds.
constexpr std::uint64_t kHeaderWriteIntervalMs = 1000;

// Highest position a record may start at: positions are 32-bit.
constexpr std::uint64_t kMaxRecordPos = std::numeric_limits<std::uint32_t>::max() - kDbRecordSize;

// Moves a count by one, never below zero (called under the lock).
void Move(std::atomic<DWORD>& count, bool up) {
  DWORD value = count.load();
  if (up) {
    count = value + 1;
  } else if (value > 0) {
    count = value - 1;
  }
}

// The path keys of one batch of adds, with their index hashes
// (PathIndex::Wide), so that a path listed twice in the batch is found by
// comparing texts only when their hashes agree, and the index is given the
// hash without hashing the path again.
// Says that the record for `path` is not added: the path has one already.
void LogDuplicate(std::string_view path) {
  DbLogDetail(LEVEL_WARNING, path,
              "Warning: not adding duplicate entry, attempted to add already existing DB "
              "entry for");
}

class BatchKeys {
 public:
  bool Contains(std::string_view key, std::uint64_t hash) const {
    for (std::size_t j = 0; j < keys_.size(); ++j)
      if (hashes_[j] == hash && keys_[j] == key) return true;
    return false;
  }
  // `key` stays where it is until the batch is written.
  void Add(std::string_view key, std::uint64_t hash) {
    keys_.push_back(key);
    hashes_.push_back(hash);
  }
  // A key made for the batch, kept by it.
  void AddOwned(std::string key, std::uint64_t hash) {
    owned_.push_back(std::move(key));
    Add(owned_.back(), hash);
  }
  const std::vector<std::string_view>& keys() const { return keys_; }
  const std::vector<std::uint64_t>& hashes() const { return hashes_; }

 private:
  std::deque<std::string> owned_;  // never moves a key it holds
  std::vector<std::string_view> keys_;
  std::vector<std::uint64_t> hashes_;
};

}  // namespace

void KivDB::UpdateCounters(const DBEntry& old_entry, const DBEntry& new_entry) {
  if (!(old_entry.flags & DBFLAG_VALID)) return;
  // A record replaced by an empty slot (deleted) leaves both counts: the
  // status page must not go on counting reported tracks that are gone.
  const bool stays = new_entry.flags & DBFLAG_VALID;
  auto& state = State();
  bool changed = false;
  bool was_identified = old_entry.flags & DBFLAG_IDENTIFIED;
  bool is_identified = stays && (new_entry.flags & DBFLAG_IDENTIFIED);
  if (was_identified != is_identified) {
    Move(state.identified_count, is_identified);
    changed = true;
  }
  const bool has_id = stays && new_entry.kiv_id != 0;
  if ((old_entry.kiv_id != 0) != has_id) {
    Move(state.kiv_id_count, has_id);
    changed = true;
  }
  if (changed) state.NotifyCountsChanged();
}

BOOL KivDB::AddEntry(DBEntry* entry) {
  if (!ValidEntry(entry) || !EntryPathTerminated(*entry) || entry->path[0] == 0) {
    DbLog(LEVEL_ERROR, "Invalid entry passed to AddEntry");
    return FALSE;
  }
  std::string path = EntryPath(*entry);
  if (entry->file_size < kDbMinFileSize) {
    DbLog(LEVEL_INFO, "File %s of size %u smaller than mimimum file size of %u, not adding",
          path.c_str(), entry->file_size, kDbMinFileSize);
    return FALSE;
  }
  entry->flags |= DBFLAG_VALID;
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return FALSE;
  std::string key = platform::PathKey(path);
  DBEntry indexed;
  bool checked = false;
  if (FindIndexed(key, &indexed, &checked) != 0) {
    LogDuplicate(path);
    return FALSE;
  }
  bool reused = !state.free_list.empty();
  std::uint64_t pos = reused ? state.free_list.front() : state.length;
  if (reused) state.free_list.pop_front();
  if (!kivdb::CheckBoundary(pos)) {
    DbLog(LEVEL_CRITICAL, "AddEntry: possible DB corruption");
    return FALSE;
  }
  if (pos > kMaxRecordPos) {
    DbLog(LEVEL_ERROR, "AddEntry: local db file has reached its largest size, not adding %s",
          path.c_str());
    return FALSE;
  }
  if (!file_.WriteAt(pos, entry, sizeof *entry)) {
    kivdb::NoteWrite(pos, nullptr);
    if (kivdb::NoteWriteFailure(WriteErrno(), !reused))
      DbLog(LEVEL_ERROR, "Unable to write new entry in local db: %s, %i", state.path.c_str(),
            WriteErrno());
    // Keep what was there: cut a part-written new record off, put an
    // emptied slot back as it was.
    if (reused) {
      DBEntry empty = MakeFreshEntry(state.Now());
      file_.WriteAt(pos, &empty, sizeof empty);
      state.free_list.push_front(static_cast<std::uint32_t>(pos));
    } else {
      file_.Truncate(pos);
    }
    return FALSE;
  }
  NoteAdded(static_cast<std::uint32_t>(pos), *entry, key, kivdb::PathIndex::Wide(key), reused,
            state.Now());
  return AddedHeader();
}

void KivDB::NoteAdded(std::uint32_t pos, const DBEntry& entry, std::string_view key,
                      std::uint64_t wide, bool reused, std::int64_t now) {
  auto& state = State();
  kivdb::NoteWrite(pos, &entry);
  kivdb::NoteWriteSuccess(!reused);
  kivdb::IndexRecord(key, pos, wide);
  if (entry.flags & DBFLAG_IDENTIFIED) ++state.identified_count;
  if (entry.kiv_id != 0) ++state.kiv_id_count;
  state.last_add_time = now;
  ++state.add_count;
  ++state.header.valid_count;
  if (reused) {
    --state.header.empty_count;
  } else {
    state.length = std::uint64_t{pos} + kDbRecordSize;
  }
  state.PublishCounts();
}

BOOL KivDB::AddedHeader() {
  auto& state = State();
  // A lone add writes the header at once; the adds of a burst (an indexing
  // pass) leave it to the next write a second later, or to Flush.
  state.header_stale = true;
  BOOL result = TRUE;
  if (platform::SystemClock().TickMs() - state.header_written_ms >= kHeaderWriteIntervalMs)
    result = WriteHeader();
  if (!result) {
    DbLog(LEVEL_CRITICAL, "Entry added to db but unable to update db header: DB now inconsistent!");
  }
  state.NotifyCountsChanged();
  return result;
}

BOOL KivDB::AddEntry(const std::string& path) {
  platform::FileInfo info;
  if (!platform::StatFile(path, &info)) {
    DbLog(LEVEL_ERROR,
          "AddEntry: unable to start a new file search for %s during the indexing process, err "
          "%u",
          path.c_str(), platform::GetLastError());
    return FALSE;
  }
  return AddEntry(info);
}

namespace {

// The fresh record of a file found by a directory search; false (logged)
// when the file cannot have one.
bool EntryFromFile(const platform::FileInfo& info, std::int64_t now, DBEntry* entry) {
  const std::string& path = info.path;
  // A relative path would name different files from different folders.
  if (info.is_directory || !info.is_regular || path.empty() || path[0] != '/') {
    DbLog(LEVEL_ERROR,
          "While adding new entry, the file specified: %s is a directory, a temp file, or invalid",
          path.c_str());
    return false;
  }
  if (info.size < kDbMinFileSize) {
    DbLog(LEVEL_WARNING, "Not adding media file: %s, file size too small: %llu", path.c_str(),
          static_cast<unsigned long long>(info.size));
    return false;
  }
  ResetEntry(entry, now);
  entry->flags = DBFLAG_VALID;
  if (!SetEntryPath(*entry, path)) {
    DbLogDetail(LEVEL_ERROR, path,
                "AddEntry: path is too long for a db record or not valid text, not adding");
    return false;
  }
  entry->file_size = static_cast<std::uint32_t>(info.size);
  // The file type field keeps at most 15 bytes and its terminator.
  SetEntryText(entry->file_type, sizeof entry->file_type - 1,
               GetExtension(platform::BaseName(path)));
  entry->file_created = info.created;
  entry->file_accessed = info.accessed;
  entry->file_modified = info.modified;
  return true;
}

}  // namespace

BOOL KivDB::AddEntry(const platform::FileInfo& info) {
  DBEntry entry;
  return EntryFromFile(info, State().Now(), &entry) ? AddEntry(&entry) : FALSE;
}

void KivDB::AddEntries(const std::vector<platform::FileInfo>& files, std::vector<bool>* added,
                       std::optional<std::uint64_t> none_recorded_at) {
  added->assign(files.size(), false);
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return;
  std::vector<DBEntry> appended;
  std::vector<std::size_t> which;
  BatchKeys keys;
  DBEntry indexed;
  appended.reserve(files.size());
  const std::int64_t now = state.Now();
  for (std::size_t i = 0; i < files.size(); ++i) {
    // Made in place: a record is over a kilobyte.
    DBEntry& entry = appended.emplace_back();
    if (!EntryFromFile(files[i], now, &entry)) {
      appended.pop_back();
      continue;
    }
    // A free slot is filled by a write of its own.
    if (!state.free_list.empty()) {
      (*added)[i] = AddEntry(&entry) != FALSE;
      appended.pop_back();
      continue;
    }
    // The files outlive the batch: their paths serve as its keys.
    const std::string_view key = platform::PathKeyView(files[i].path);
    const std::uint64_t hash = kivdb::PathIndex::Wide(key);
    const bool twice = keys.Contains(key, hash);
    bool checked = false;
    // A free slot filled above counts as an add, so from then on every
    // path is looked for.
    const bool known_absent = none_recorded_at && *none_recorded_at == state.add_count;
    if (twice || (!known_absent && FindIndexed(std::string(key), &indexed, &checked) != 0)) {
      LogDuplicate(files[i].path);
      appended.pop_back();
      continue;
    }
    which.push_back(i);
    keys.Add(key, hash);
  }
  AppendEntries(appended, keys.keys(), keys.hashes(), which, now, added);
}

void KivDB::AddEntries(std::vector<DBEntry>* entries, std::vector<bool>* added) {
  added->assign(entries->size(), false);
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return;
  std::vector<DBEntry> appended;
  std::vector<std::size_t> which;
  BatchKeys keys;
  appended.reserve(entries->size());
  for (std::size_t i = 0; i < entries->size(); ++i) {
    DBEntry& entry = (*entries)[i];
    // What AddEntry refuses, with its messages; a free slot is filled by a
    // write of its own.
    if (!ValidEntry(&entry) || !EntryPathTerminated(entry) || entry.path[0] == 0 ||
        entry.file_size < kDbMinFileSize || !state.free_list.empty()) {
      (*added)[i] = AddEntry(&entry) != FALSE;
      continue;
    }
    entry.flags |= DBFLAG_VALID;
    std::string key = platform::PathKey(EntryPath(entry));
    const std::uint64_t hash = kivdb::PathIndex::Wide(key);
    DBEntry indexed;
    bool checked = false;
    if (keys.Contains(key, hash) || FindIndexed(key, &indexed, &checked) != 0) {
      LogDuplicate(EntryPath(entry));
      continue;
    }
    appended.push_back(entry);
    which.push_back(i);
    keys.AddOwned(std::move(key), hash);
  }
  AppendEntries(appended, keys.keys(), keys.hashes(), which, state.Now(), added);
}

void KivDB::AppendEntries(std::vector<DBEntry>& appended, const std::vector<std::string_view>& keys,
                          const std::vector<std::uint64_t>& wides,
                          const std::vector<std::size_t>& which, std::int64_t now,
                          std::vector<bool>* added) {
  auto& state = State();
  if (appended.empty()) return;
  const std::uint64_t pos = state.length;
  if (!kivdb::CheckBoundary(pos)) {
    DbLog(LEVEL_CRITICAL, "AddEntry: possible DB corruption");
    return;
  }
  // Records past the largest position are refused, as AddEntry refuses
  // them one by one.
  std::size_t fit = appended.size();
  while (fit > 0 && pos + (fit - 1) * kDbRecordSize > kMaxRecordPos) --fit;
  for (std::size_t j = fit; j < appended.size(); ++j)
    DbLog(LEVEL_ERROR, "AddEntry: local db file has reached its largest size, not adding %s",
          EntryPath(appended[j]).c_str());
  if (fit == 0) return;
  if (!file_.WriteAt(pos, appended.data(), fit * sizeof(DBEntry))) {
    // Part-written records are cut off, and the records are added one by
    // one: on a nearly full disk as many as fit are stored, and a failure
    // is told as a lone add tells it.
    kivdb::NoteWrite(pos, nullptr);
    file_.Truncate(pos);
    for (std::size_t j = 0; j < fit; ++j) (*added)[which[j]] = AddEntry(&appended[j]) != FALSE;
    return;
  }
  // The index slots of a large collection are far apart in memory: they
  // are fetched for the whole batch before any is written.
  for (std::size_t j = 0; j < fit; ++j) state.index.Prefetch(static_cast<std::uint32_t>(wides[j]));
  for (std::size_t j = 0; j < fit; ++j) {
    NoteAdded(static_cast<std::uint32_t>(pos + j * kDbRecordSize), appended[j], keys[j], wides[j],
              false, now);
    (*added)[which[j]] = true;
  }
  AddedHeader();
}

std::uint32_t KivDB::FindForWrite(const std::string& path, const char* operation, DBEntry* record,
                                  bool* checked) {
  const std::uint32_t pos = FindIndexed(path, record, checked);
  if (pos == 0) {
    DbLogDetail(LEVEL_ERROR, path, "%s: file not found in db", operation);
    return 0;
  }
  if (!kivdb::CheckBoundary(pos)) {
    DbLog(LEVEL_CRITICAL, "%s: possible DB corruption", operation);
    return 0;
  }
  return pos;
}

BOOL KivDB::WriteOver(std::uint32_t pos, const DBEntry& old_entry, const DBEntry& entry,
                      const std::string& path) {
  auto& state = State();
  if (!file_.WriteAt(pos, &entry, sizeof entry)) {
    kivdb::NoteWrite(pos, nullptr);
    if (kivdb::NoteWriteFailure(WriteErrno(), false))
      DbLogDetail(LEVEL_ERROR, path, "UpdateEntry: unable to write entry in local db: %s, %i",
                  state.path.c_str(), WriteErrno());
    return FALSE;
  }
  kivdb::NoteWrite(pos, &entry);
  kivdb::NoteWriteSuccess(false);
  UpdateCounters(old_entry, entry);
  if (old_entry.flags & DBFLAG_VALID) return TRUE;
  // Only a damaged file has an indexed slot without DBFLAG_VALID; keep the
  // header's counts true to what is on disk.
  auto free_it = std::find(state.free_list.begin(), state.free_list.end(), pos);
  if (free_it != state.free_list.end()) {
    state.free_list.erase(free_it);
    --state.header.empty_count;
  }
  ++state.header.valid_count;
  state.PublishCounts();
  return WriteHeader();
}

BOOL KivDB::UpdateEntry(DBEntry* entry, BOOL touch) {
  if (!ValidEntry(entry)) {
    DbLog(LEVEL_ERROR, "Invalid entry passed to UpdateEntry");
    return FALSE;
  }
  entry->flags |= DBFLAG_VALID;
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return FALSE;
  std::string path = EntryPath(*entry);
  DBEntry old_entry;
  bool checked = false;
  std::uint32_t pos = FindForWrite(path, "UpdateEntry", &old_entry, &checked);
  if (pos == 0) return FALSE;
  std::size_t got = 0;
  if (!checked && !ReadRecord(pos, &old_entry, &got)) {
    DbLogDetail(LEVEL_CRITICAL, path, "UpdateEntry: Seek failed to move to offset %u", pos);
    return FALSE;
  }
  if (touch) entry->modified = state.Now();
  return WriteOver(pos, old_entry, *entry, path);
}

BOOL KivDB::ModifyEntry(const std::string& path, const EntryChange& change, BOOL touch) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return FALSE;
  DBEntry old_entry;
  bool checked = false;
  std::uint32_t pos = FindForWrite(path, "ModifyEntry", &old_entry, &checked);
  if (pos == 0) return FALSE;
  std::size_t got = 0;
  if (!checked && (!ReadRecord(pos, &old_entry, &got) || !ValidEntry(&old_entry))) {
    DbLogDetail(LEVEL_CRITICAL, path, "ModifyEntry: unable to read the record at offset %u", pos);
    return FALSE;
  }
  DBEntry entry = old_entry;
  if (!change(entry)) return TRUE;
  if (!ValidEntry(&entry) || !(entry.flags & DBFLAG_VALID) ||
      std::memcmp(entry.path, old_entry.path, sizeof entry.path) != 0) {
    DbLogDetail(LEVEL_ERROR, path, "ModifyEntry: a change may not move or free a record");
    return FALSE;
  }
  if (touch) entry.modified = state.Now();
  return WriteOver(pos, old_entry, entry, path);
}

std::int64_t KivDB::StoredNow() {
  std::lock_guard guard(State().lock);
  return State().Now();
}

BOOL KivDB::UpdateEntry(const platform::FileInfo& file) {
  const std::string& path = file.path;
  if (file.is_directory || !file.is_regular) {
    DbLog(LEVEL_ERROR,
          "While updating entry, the file specified: %s is a directory, a temp file, or invalid",
          path.c_str());
    return FALSE;
  }
  std::lock_guard guard(State().lock);
  if (file.size < kDbMinFileSize) {
    DbLog(LEVEL_INFO, "UpdateEntry: file: %s, it does not exceed min file size of: %llu. Deleting.",
          path.c_str(), static_cast<unsigned long long>(file.size));
    return DeleteEntry(path);
  }
  if (LookupEntry(path) == 0) {
    DbLog(LEVEL_ERROR, "Can't update file: GetEntry failed");
    return FALSE;
  }
  return ModifyEntry(
      path,
      [&file](DBEntry& entry) {
        entry.file_size = static_cast<std::uint32_t>(file.size);
        entry.file_created = file.created;
        entry.file_accessed = file.accessed;
        entry.file_modified = file.modified;
        return true;
      },
      TRUE);
}

BOOL KivDB::DeleteEntry(const std::string& path) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return FALSE;
  DBEntry old_entry;
  bool checked = false;
  const std::uint32_t pos = FindIndexed(path, &old_entry, &checked);
  if (pos == 0) {
    DbLogDetail(LEVEL_INFO, path, "DeleteEntry: file not found in db");
    return TRUE;
  }
  if (!kivdb::CheckBoundary(pos)) {
    DbLog(LEVEL_CRITICAL, "DeleteEntry: possible DB corruption");
    return FALSE;
  }
  std::int64_t now = state.Now();
  DBEntry empty = MakeFreshEntry(now);
  std::size_t got = 0;
  if (!checked && !ReadRecord(pos, &old_entry, &got)) {
    DbLogDetail(LEVEL_CRITICAL, path, "DeleteEntry: Seek failed to move to offset %u", pos);
    return FALSE;
  }
  if (!file_.WriteAt(pos, &empty, sizeof empty)) {
    kivdb::NoteWrite(pos, nullptr);
    if (kivdb::NoteWriteFailure(WriteErrno(), false))
      DbLogDetail(LEVEL_ERROR, path, "DeleteEntry: unable to write entry in local db: %s, %i",
                  state.path.c_str(), WriteErrno());
    return FALSE;
  }
  kivdb::NoteWrite(pos, &empty);
  kivdb::NoteWriteSuccess(false);
  UpdateCounters(old_entry, empty);
  kivdb::UnindexRecord(platform::PathKey(path), pos);
  if (pos + kDbRecordSize == state.length && file_.Truncate(pos)) {
    state.length = pos;
  } else {
    state.free_list.push_back(pos);
    ++state.header.empty_count;
  }
  if (state.header.valid_count > 0) --state.header.valid_count;
  state.last_delete_time = now;
  state.PublishCounts();
  return WriteHeader();
}
