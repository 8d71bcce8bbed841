// The database engine on 100,000 records (VORNIC_BENCH_RECORDS for another
// number) against SQLite holding the same records keyed by path (WAL,
// synchronous=OFF: neither side syncs per operation): opening and loading
// the index (and, as a floor, `cat` of the same file to /dev/null), look-up
// by path, one add and one update per transaction. The load reports the
// anonymous resident memory it leaves behind (index_MB).
//
// The log is written to a file at LEVEL_WARNING, so the engine's INFO lines
// per look-up are filtered (BM_KivDB_GetEntryLogInfo shows their cost).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "app/log.h"
#include "app/reg_settings.h"
#include "db/kiv_db.h"

namespace {

int RecordCount() {
  const char* text = std::getenv("VORNIC_BENCH_RECORDS");
  const int count = text ? std::atoi(text) : 0;
  return count > 0 ? count : 100000;
}
const int kRecords = RecordCount();

// Anonymous resident memory of this process, in bytes.
double AnonymousBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("RssAnon:", 0) == 0) return std::atof(line.c_str() + 8) * 1024;
  return 0;
}

// Records in the order an indexing pass adds them, album by album: 12
// tracks per album, 30 albums per artist.
std::string PathOf(int i) {
  return "/home/user/Music/Artist " + std::to_string(i / 360 % 700) + "/Album " +
         std::to_string(i / 12 % 30) + "/" + std::to_string(i) + " Track title.mp3";
}

DBEntry EntryOf(const std::string& path, int i) {
  DBEntry entry = MakeFreshEntry(1700000000);
  SetEntryPath(entry, path);
  entry.flags = DBFLAG_VALID | ((i % 3) ? DBFLAG_IDENTIFIED : 0);
  entry.file_size = 4000000 + i;
  SetEntryText(entry.file_type, "mp3");
  SetEntryText(entry.title, std::to_string(i) + " Track title");
  SetEntryText(entry.artist, "Artist " + std::to_string(i % 700));
  SetEntryText(entry.album, "Album " + std::to_string(i % 53));
  entry.track_number = i % 20;
  return entry;
}

void Check(int rc, sqlite3* db, int want = SQLITE_OK) {
  if (rc != want) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::abort();
  }
}

// The two stores, built once per run in a temporary folder.
struct Stores {
  Stores() {
    std::random_device random;
    dir = std::filesystem::temp_directory_path() / ("vornic-db-bench-" + std::to_string(random()));
    std::filesystem::create_directories(dir / "data");
    ::setenv("HOME", dir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    AppSettings().SetCompanyName("KIV");
    AppSettings().SetApplicationName("Windows Client");
    AppLog().SetLogFile((dir / "kivclient.log").string());
    AppLog().SetLogLevel(LEVEL_WARNING);
    if (!KivDB::Initialise()) std::abort();
    db_path = KivDB::DatabasePath();
    {
      KivDB db;
      for (int i = 0; i < kRecords; ++i) {
        DBEntry entry = EntryOf(PathOf(i), i);
        if (!db.AddEntry(&entry)) std::abort();
      }
      db.Flush();  // so that no timed run pays for writing these out
    }
    sqlite_path = (dir / "bench.sqlite").string();
    Check(sqlite3_open(sqlite_path.c_str(), &sql), sql);
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=OFF");
    Exec("CREATE TABLE entries(path TEXT PRIMARY KEY, data BLOB NOT NULL)");
    Exec("BEGIN");
    sqlite3_stmt* insert = Prepare("INSERT INTO entries(path, data) VALUES(?, ?)");
    for (int i = 0; i < kRecords; ++i) Insert(insert, PathOf(i), EntryOf(PathOf(i), i));
    sqlite3_finalize(insert);
    Exec("COMMIT");
  }
  ~Stores() {
    KivDB::Shutdown();
    sqlite3_close(sql);
    std::filesystem::remove_all(dir);
  }

  void Exec(const char* text) { Check(sqlite3_exec(sql, text, nullptr, nullptr, nullptr), sql); }
  sqlite3_stmt* Prepare(const char* text) {
    sqlite3_stmt* stmt = nullptr;
    Check(sqlite3_prepare_v2(sql, text, -1, &stmt, nullptr), sql);
    return stmt;
  }
  void Insert(sqlite3_stmt* stmt, const std::string& path, const DBEntry& entry) {
    sqlite3_bind_text(stmt, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    sqlite3_bind_blob(stmt, 2, &entry, sizeof entry, SQLITE_STATIC);
    Check(sqlite3_step(stmt), sql, SQLITE_DONE);
    sqlite3_reset(stmt);
  }

  std::filesystem::path dir;
  std::string db_path;
  std::string sqlite_path;
  sqlite3* sql = nullptr;
};

Stores& Shared() {
  static Stores stores;
  return stores;
}

void BM_KivDB_OpenLoad(benchmark::State& state) {
  Shared();
  double index_bytes = 0;
  for (auto _ : state) {
    KivDB::Shutdown();
    state.PauseTiming();
    ::malloc_trim(0);
    const double before = AnonymousBytes();
    state.ResumeTiming();
    if (!KivDB::Initialise()) state.SkipWithError("Initialise failed");
    index_bytes = AnonymousBytes() - before;
  }
  state.counters["records"] = KivDB::ValidCount();
  state.counters["index_MB"] = index_bytes / 1e6;
}
BENCHMARK(BM_KivDB_OpenLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// Children's CPU time (user + system) so far, in seconds.
double ChildrenCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// cat_cpu_ms: the CPU time of cat itself per run (the CPU column is the
// benchmark's own thread, which only waits).
void BM_Cat_DbFile(benchmark::State& state) {
  std::string command = "exec cat '" + Shared().db_path + "' > /dev/null";
  const double start = ChildrenCpuSeconds();
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
  }
  state.counters["cat_cpu_ms"] =
      (ChildrenCpuSeconds() - start) * 1000 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Cat_DbFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_KivDB_GetEntry(benchmark::State& state) {
  Shared();
  KivDB db;
  std::mt19937 random(1);
  DBEntry entry;
  for (auto _ : state) {
    if (!db.GetEntry(PathOf(static_cast<int>(random() % kRecords)), &entry))
      state.SkipWithError("GetEntry failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KivDB_GetEntry);

void BM_KivDB_GetEntryLogInfo(benchmark::State& state) {
  Shared();
  AppLog().SetLogLevel(LEVEL_INFO);
  KivDB db;
  std::mt19937 random(1);
  DBEntry entry;
  for (auto _ : state) db.GetEntry(PathOf(static_cast<int>(random() % kRecords)), &entry);
  AppLog().SetLogLevel(LEVEL_WARNING);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KivDB_GetEntryLogInfo);

void BM_SQLite_Get(benchmark::State& state) {
  Stores& s = Shared();
  sqlite3_stmt* stmt = s.Prepare("SELECT data FROM entries WHERE path = ?");
  std::mt19937 random(1);
  DBEntry entry;
  for (auto _ : state) {
    std::string path = PathOf(static_cast<int>(random() % kRecords));
    sqlite3_bind_text(stmt, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    if (sqlite3_step(stmt) != SQLITE_ROW || sqlite3_column_bytes(stmt, 0) != sizeof entry)
      state.SkipWithError("select failed");
    std::memcpy(&entry, sqlite3_column_blob(stmt, 0), sizeof entry);
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SQLite_Get);

int g_added = 0;

void BM_KivDB_AddEntry(benchmark::State& state) {
  Shared();
  KivDB db;
  for (auto _ : state) {
    int i = kRecords + g_added++;
    DBEntry entry = EntryOf(PathOf(i), i);
    if (!db.AddEntry(&entry)) state.SkipWithError("AddEntry failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KivDB_AddEntry);

int g_inserted = 0;

void BM_SQLite_Insert(benchmark::State& state) {
  Stores& s = Shared();
  sqlite3_stmt* stmt = s.Prepare("INSERT INTO entries(path, data) VALUES(?, ?)");
  for (auto _ : state) {
    int i = kRecords + g_inserted++;
    std::string path = PathOf(i);
    s.Insert(stmt, path, EntryOf(path, i));  // one row per (autocommit) transaction
  }
  sqlite3_finalize(stmt);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SQLite_Insert);

void BM_KivDB_UpdateEntry(benchmark::State& state) {
  Shared();
  KivDB db;
  std::mt19937 random(2);
  for (auto _ : state) {
    int i = static_cast<int>(random() % kRecords);
    DBEntry entry = EntryOf(PathOf(i), i);
    entry.play_count = static_cast<std::int32_t>(state.iterations());
    if (!db.UpdateEntry(&entry, TRUE)) state.SkipWithError("UpdateEntry failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KivDB_UpdateEntry);

void BM_SQLite_Update(benchmark::State& state) {
  Stores& s = Shared();
  sqlite3_stmt* stmt = s.Prepare("UPDATE entries SET data = ? WHERE path = ?");
  std::mt19937 random(2);
  for (auto _ : state) {
    int i = static_cast<int>(random() % kRecords);
    std::string path = PathOf(i);
    DBEntry entry = EntryOf(path, i);
    entry.play_count = static_cast<std::int32_t>(state.iterations());
    sqlite3_bind_blob(stmt, 1, &entry, sizeof entry, SQLITE_STATIC);
    sqlite3_bind_text(stmt, 2, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    if (sqlite3_step(stmt) != SQLITE_DONE || sqlite3_changes(s.sql) != 1)
      state.SkipWithError("update failed");
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SQLite_Update);

}  // namespace
