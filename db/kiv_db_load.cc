// KivDB: start-up (Initialise, LoadIndex, the repair) and Shutdown.
#include <algorithm>

#include "app/format.h"
#include "app/reg_settings.h"
#include "db/db_log.h"
#include "db/db_state.h"
#include "db/kiv_db.h"
#include "db/record_scanner.h"
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/text.h"

using kivdb::DbLog;
using kivdb::DbLogDetail;
using kivdb::State;

namespace {

// A load that still disagrees with its header after this many repairs
// fails instead of repairing for ever.
constexpr int kMaxRepairs = 2;

// Slots kept free beyond an eighth more than the loaded records.
constexpr std::uint64_t kSlotsRoom = 1024;

// The database file: kivclient.db in the DBPath folder when that setting
// names an existing folder, else in the data folder.
std::string DatabaseFilePath() {
  std::string dir;
  if (AppSettings().ReadString(kSubKeySettings, "DBPath", dir) && !dir.empty()) {
    platform::FileInfo info;
    if (platform::StatFile(dir, &info) && info.is_directory)
      return dir.back() == '/' ? dir + kDbFileName : dir + "/" + kDbFileName;
  }
  std::string data = platform::DataDir();
  platform::EnsureDir(data);
  return data + "/" + kDbFileName;
}

// Takes the process's lock on the database file. False when another
// process holds it: the file is then left exactly as it is.
bool LockDatabaseFile(kivdb::DbState& state) {
  using platform::FileLock;
  switch (state.file_lock.Take(state.path)) {
    case FileLock::State::kHeld:
      return true;
    case FileLock::State::kHeldElsewhere: {
      const int pid = state.file_lock.holder_pid();
      const std::string holder =
          pid > 0 ? StrFormat("another process (pid %d)", pid) : std::string("another process");
      const std::string text = StrFormat(
          "The local db file %s is in use by %s, probably another copy of Vornic. This copy "
          "will not open it.",
          state.path.c_str(), holder.c_str());
      DbLog(LEVEL_ERROR, "%s", text.c_str());
      state.messages.push_back(text);
      return false;
    }
    default:
      // A file system without locks: nothing can tell a second copy apart.
      DbLog(LEVEL_WARNING, "Unable to lock local db file: %s, %s; continuing without the lock",
            state.path.c_str(), platform::ErrnoText(state.file_lock.error()).c_str());
      return true;
  }
}

}  // namespace

bool KivDB::SamePath(std::uint32_t earlier, std::uint32_t later) {
  DBEntry a;
  DBEntry b;
  std::size_t got = 0;
  return ReadRecord(earlier, &a, &got) && ReadRecord(later, &b, &got) &&
         platform::PathKey(EntryPath(a)) == platform::PathKey(EntryPath(b));
}

BOOL KivDB::Initialise(platform::Clock& clock) {
  BOOL ok = InitialiseLocked(clock);
  kivdb::ShowPendingMessages();
  return ok;
}

BOOL KivDB::InitialiseLocked(platform::Clock& clock) {
  auto& state = State();
  std::lock_guard guard(state.lock);
  state.initialised = true;
  state.loaded = false;
  state.ready = false;
  state.clock = &clock;
  state.header = MakeDBHeader();
  state.identified_count = 0;
  state.kiv_id_count = 0;
  state.PublishCounts();
  state.path = DatabaseFilePath();
  DbLogDetail(LEVEL_INFO, state.path, "Setting database file");
  if (!LockDatabaseFile(state)) {
    state.initialised = false;
    return FALSE;
  }
  BOOL loaded;
  {
    KivDB loader;
    loaded = loader.LoadIndex();
  }
  if (!loaded) {
    DbLog(LEVEL_ERROR, "Unable to load kiv DB index");
    kivdb::ClearIndex();
    state.initialised = false;
    state.file_lock.Release();
    return FALSE;
  }
  state.loaded = true;
  state.ready = true;
  return TRUE;
}

void KivDB::Shutdown() {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!state.initialised) return;
  kivdb::ClearIndex();
  state.initialised = false;
  state.loaded = false;
  state.ready = false;
  state.write_failure = 0;
  state.writes_failing = false;
  state.file_lock.Release();
}

BOOL KivDB::LoadIndex() {
  auto& state = State();
  std::lock_guard guard(state.lock);
  if (!IsReady()) return FALSE;
  // The file is read in place; a file shrinking meanwhile (something other
  // than this program writing it) makes the load start over reading it.
  bool in_place = true;
  for (int repairs = 0;; ++repairs) {
    kivdb::ClearIndex();
    state.identified_count = 0;
    state.kiv_id_count = 0;
    DWORD valid = 0;
    DWORD empty = 0;
    std::int64_t length = file_.Size();
    if (length < 0) {
      DbLog(LEVEL_ERROR, "Failure loading index (recordCount=%d): %s, %i", 0, state.path.c_str(),
            file_.last_errno());
      return FALSE;
    }
    state.length = static_cast<std::uint64_t>(length);
    // With room for the records added next: filled to the brim, the first
    // add after the load would move every slot (megabytes on a large file).
    const std::uint64_t records = length / kDbRecordSize;
    state.slots.reserve(records + records / 8 + kSlotsRoom);
    std::vector<kivdb::PathIndex::Entry> indexed;
    indexed.reserve(std::min<std::uint64_t>(state.header.valid_count, length / kDbRecordSize));
    DWORD identified = 0;
    DWORD with_kiv_id = 0;

    // The whole file must be whole, valid records for the load to stand.
    bool clean = true;
    kivdb::RecordScanner scanner(file_, state.length, in_place);
    std::uint32_t pos = 0;
    std::string path;
    while (const DBEntry* entry = scanner.Next(&pos)) {
      if (!ValidEntry(entry)) {
        // Zeros of a page lost to a shrinking file are no damaged record.
        if (scanner.lost()) break;
        DbLog(LEVEL_CRITICAL, "Invalid record found at offset %u", pos);
        clean = false;
        break;
      }
      kivdb::NoteLoaded(pos, *entry);
      if (entry->flags & DBFLAG_VALID) {
        EntryPathInto(*entry, &path);
        const std::string_view key = platform::PathKeyView(path);
        const std::uint64_t wide = kivdb::PathIndex::Wide(key);
        indexed.push_back({static_cast<std::uint32_t>(wide), pos});
        state.slots[kivdb::SlotOf(pos)].check = kivdb::PathIndex::Check(wide);
        kivdb::KeepFolder(key, pos);
        ++valid;
        if (entry->flags & DBFLAG_IDENTIFIED) ++identified;
        if (entry->kiv_id != 0) ++with_kiv_id;
      } else {
        state.free_list.push_back(pos);
        ++empty;
      }
    }
    if (scanner.lost()) {
      DbLog(LEVEL_WARNING, "The db file shrank while its index was loaded; loading it again");
      in_place = false;
      --repairs;
      continue;
    }
    state.identified_count = identified;
    state.kiv_id_count = with_kiv_id;
    // Two records of one path (a file written by something else): the later
    // one is the path's record, as the index always kept it.
    std::vector<std::uint32_t> dropped;
    state.index.Build(
        indexed,
        [this](std::uint32_t earlier, std::uint32_t later) { return SamePath(earlier, later); },
        &dropped);
    for (std::uint32_t earlier : dropped) kivdb::DropFolder(earlier);
    if (scanner.failed()) {
      DbLog(LEVEL_ERROR, "Failure loading index (recordCount=%d): %s, %i", static_cast<int>(valid),
            state.path.c_str(), scanner.error());
      return FALSE;
    }
    if (clean && scanner.hit_end()) {
      DbLog(LEVEL_VERBOSE, "Hit end of file while generating index");
      clean = false;
    } else if (clean && scanner.partial_bytes() > 0) {
      DbLog(LEVEL_ERROR,
            "Unable to read entire record from db file while loading index, wanted %d but could "
            "only read %d",
            static_cast<int>(kDbRecordSize), static_cast<int>(scanner.partial_bytes()));
      clean = false;
    } else if (clean) {
      DbLog(LEVEL_VERBOSE, "End of file reached while generating index and scanning %s",
            state.path.c_str());
    }
    DbLog(LEVEL_INFO, "LoadIndex loaded %u records into index", valid);
    if (clean && state.header.valid_count == valid && state.header.empty_count == empty) {
      state.PublishCounts();
      return TRUE;
    }
    DbLog(LEVEL_CRITICAL,
          "DB Error: DB header indicates %u valid, %u empty - index load found %u valid and %u "
          "empty",
          state.header.valid_count, state.header.empty_count, valid, empty);
    if (repairs == kMaxRepairs) {
      DbLog(LEVEL_CRITICAL, "LoadIndex: DB still inconsistent after %d repairs", repairs);
      return FALSE;
    }
    if (!Repair()) return FALSE;
  }
}

// Keeps every whole, valid record. A damaged record inside the file becomes
// an empty slot (so one torn write does not cost the records after it);
// only a partial record at the very end is cut off.
BOOL KivDB::Repair() {
  auto& state = State();
  CloseFile();
  DbLog(LEVEL_CRITICAL, "Repairing DB...");
  std::string backup = state.path + ".bak";
  platform::RemoveFile(backup);
  if (platform::CopyFileOverwrite(state.path, backup) != 0)
    DbLog(LEVEL_ERROR, "Could not make backup of current DB - continuing...");
  if (!OpenLocked()) return FALSE;
  std::int64_t length = file_.Size();
  if (length < 0) {
    DbLog(LEVEL_ERROR, "Repairing DB: unable to read local db file: %s, %i", state.path.c_str(),
          file_.last_errno());
    return FALSE;
  }
  state.length = static_cast<std::uint64_t>(length);

  DWORD valid = 0;
  DWORD empty = 0;
  std::uint64_t end = kDbHeaderSize;
  kivdb::RecordScanner scanner(file_, state.length);
  std::uint32_t pos = 0;
  while (const DBEntry* entry = scanner.Next(&pos)) {
    end = pos + kDbRecordSize;
    if (ValidEntry(entry)) {
      ++((entry->flags & DBFLAG_VALID) ? valid : empty);
      continue;
    }
    DBEntry blank = MakeFreshEntry(state.Now());
    ++state.generation;
    if (!file_.WriteAt(pos, &blank, sizeof blank)) {
      DbLog(LEVEL_ERROR, "Repairing DB: unable to write local db file: %s, %i", state.path.c_str(),
            file_.last_errno());
      return FALSE;
    }
    DbLog(LEVEL_ERROR, "Repairing DB: damaged record at offset %u is now an empty slot", pos);
    ++empty;
  }
  if (scanner.failed()) {
    DbLog(LEVEL_ERROR, "Repairing DB: unable to read local db file: %s, %i", state.path.c_str(),
          scanner.error());
    return FALSE;
  }
  std::int64_t now_length = file_.Size();
  if (now_length >= 0 && static_cast<std::uint64_t>(now_length) != end) {
    if (!file_.Truncate(end)) {
      DbLog(LEVEL_ERROR, "Repairing DB: unable to truncate local db file: %s, %i",
            state.path.c_str(), file_.last_errno());
      return FALSE;
    }
    DbLog(LEVEL_ERROR, "Truncated %lld bytes from DB file.",
          static_cast<long long>(now_length - static_cast<std::int64_t>(end)));
  }
  state.length = end;
  state.header = MakeDBHeader();
  state.header.valid_count = valid;
  state.header.empty_count = empty;
  state.PublishCounts();
  return WriteHeader();
}
