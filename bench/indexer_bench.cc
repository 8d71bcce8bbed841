// The indexer over 20,000 files in 2,000 folders (VORNIC_BENCH_FILES for
// another number, in steps of 200: 20 albums of 10 files per artist; sparse
// files of 140,000 bytes; the indexer reads no tags) against the baseline
// `find DIR -type f -size +127k` over the same tree, and the folder
// monitor's idle cost on that tree.
//
// - BM_Find: the baseline, run as a child process.
// - BM_IndexFirstRun: a run into an empty database (the database is made
//   anew outside the timed part of each iteration).
// - BM_IndexSecondRun: a run with nothing changed since the last one
//   ("IndexComplete" cleared, so the run does all three passes).
// Both with the per-item pauses set to zero (user_ms and sys_ms: the runs'
// processor time split, against BM_Find's child_cpu_ms and child_sys_ms),
// and with the log at
// LEVEL_WARNING (the indexer's own cost) or at the program's default,
// LEVEL_VERBOSE (arg 1: every added file and every folder is logged).
// - BM_Index*DesignedSleeps: the same runs with the designed pauses (5 ms
//   per record, 10 ms per file) on the first tenth of the tree (2,000
//   files, 200 folders); set VORNIC_BENCH_FULL_SLEEPS=1 for the whole tree
//   (about 8 minutes).
// - BM_IndexChangedAlbum: a run asked for one new album's folder alone.
// - BM_FolderMonitorIdle: the monitor watching the whole tree, idle for
//   VORNIC_BENCH_IDLE_SECONDS (default 10; 60 for the full minute): CPU
//   time of the process per wall second, watches, and the resident memory
//   that setting them up added.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/times.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "app/index_scope.h"
#include "app/log.h"
#include "app/message_loop.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "scan/agent_folder_monitor.h"
#include "scan/agent_indexer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kAlbumsPerArtist = 20;
constexpr int kFilesPerAlbum = 10;

int ArtistCount() {
  const char* text = std::getenv("VORNIC_BENCH_FILES");
  const int files = text ? std::atoi(text) : 0;
  return files >= kAlbumsPerArtist * kFilesPerAlbum ? files / (kAlbumsPerArtist * kFilesPerAlbum)
                                                    : 100;
}
const int kArtists = ArtistCount();
constexpr std::uintmax_t kFileBytes = 140000;

std::string ArtistDir(const fs::path& root, int artist) {
  return (root / ("Artist " + std::to_string(artist))).string();
}

// The tree, settings, log and database, made once per process.
struct Bench {
  Bench() {
    std::random_device random;
    dir = fs::temp_directory_path() / ("vornic-indexer-bench-" + std::to_string(random()));
    // VORNIC_BENCH_TREE names a folder to keep the tree in between runs
    // (made when missing): making 20,000 files takes longer than the runs.
    const char* keep = std::getenv("VORNIC_BENCH_TREE");
    music = keep && *keep ? fs::path(keep) : dir / "music";
    fs::create_directories(dir / "data");
    ::setenv("HOME", dir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    // The engine's process-wide state is made now, so that it outlives this
    // object and the destructor's Shutdown finds it.
    KivDB::Shutdown();
    AppSettings().SetCompanyName("KIV");
    AppSettings().SetApplicationName("Windows Client");
    AppLog().SetLogFile((dir / "kivclient.log").string());
    for (int a = 0; a < kArtists; ++a) {
      for (int b = 0; b < kAlbumsPerArtist; ++b) {
        fs::path album = fs::path(ArtistDir(music, a)) / ("Album " + std::to_string(b));
        fs::create_directories(album);
        for (int t = 0; t < kFilesPerAlbum; ++t) {
          fs::path file = album / (std::to_string(t + 1) + " Track title.mp3");
          if (fs::exists(file)) continue;
          std::ofstream(file).close();
          fs::resize_file(file, kFileBytes);
        }
      }
    }
  }
  ~Bench() {
    KivDB::Shutdown();
    fs::remove_all(dir);
  }

  // Only the first `artists` artists are chosen.
  void Choose(int artists) {
    SearchPathMap map;
    if (artists == kArtists) {
      map[music.string()] = 1;
    } else {
      for (int a = 0; a < artists; ++a) map[ArtistDir(music, a)] = 1;
    }
    SaveSearchPaths(map);
  }
  void FreshDatabase() {
    KivDB::Shutdown();
    fs::remove(dir / "data" / "kiv" / "kivclient.db");
    KivDB::Initialise();
  }
  void RunIndexer(std::uint32_t record_ms, std::uint32_t file_ms, const IndexScope& scope = {}) {
    AppSettings().WriteDword(kSubKeySettings, kIndexCompleteValue, 0);
    const UserSystem before = Now();
    AgentContext context;
    context.kind = AGENT_INDEXER;
    context.main_window = &loop;
    context.request = scope.ToPayload();
    AgentIndexerOptions options;
    options.record_sleep_ms = record_ms;
    options.file_sleep_ms = file_ms;
    AgentIndexer indexer(context, options);
    indexer.Run();
    const UserSystem after = Now();
    user_ms += after.user_ms - before.user_ms;
    system_ms += after.system_ms - before.system_ms;
  }
  // The runs' processor time split into user and system (kernel) time,
  // summed since the last Split: the walk's system time is what `find`
  // pays too, the user time is the indexer's own.
  void Split(benchmark::State& state) {
    state.counters["user_ms"] = user_ms / static_cast<double>(state.iterations());
    state.counters["sys_ms"] = system_ms / static_cast<double>(state.iterations());
  }
  void ResetSplit() { user_ms = system_ms = 0; }
  // The status messages, dropped: the main thread's work, not timed.
  void Drain(benchmark::State& state) {
    state.PauseTiming();
    loop.ProcessPending();
    state.ResumeTiming();
  }

  struct UserSystem {
    double user_ms = 0;
    double system_ms = 0;
  };
  static UserSystem Now() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return {ms(usage.ru_utime), ms(usage.ru_stime)};
  }

  double user_ms = 0;
  double system_ms = 0;
  fs::path dir;
  fs::path music;
  CTagReaderRef tag_reader;
  MessageLoop loop;
};

Bench& Shared() {
  static Bench bench;
  return bench;
}

void SetLogLevel(const benchmark::State& state) {
  AppLog().SetLogLevel(state.range(0) ? LEVEL_VERBOSE : LEVEL_WARNING);
}

void BM_Find(benchmark::State& state) {
  Bench& bench = Shared();
  const std::string command = "find '" + bench.music.string() + "' -type f -size +127k > /dev/null";
  struct tms before {};
  ::times(&before);
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("find failed");
  }
  struct tms after {};
  ::times(&after);
  // find's own processor time (user + system), comparable with the CPU
  // column of the indexer's runs when the machine is busy with other work.
  const double ticks = static_cast<double>(after.tms_cutime + after.tms_cstime - before.tms_cutime -
                                           before.tms_cstime);
  const double tick_ms = 1000.0 / ::sysconf(_SC_CLK_TCK) / state.iterations();
  state.counters["child_cpu_ms"] = ticks * tick_ms;
  state.counters["child_sys_ms"] =
      static_cast<double>(after.tms_cstime - before.tms_cstime) * tick_ms;
  state.SetItemsProcessed(state.iterations() * kArtists * kAlbumsPerArtist * kFilesPerAlbum);
}
BENCHMARK(BM_Find)->MinTime(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IndexFirstRun(benchmark::State& state) {
  Bench& bench = Shared();
  SetLogLevel(state);
  bench.Choose(kArtists);
  bench.ResetSplit();
  for (auto _ : state) {
    state.PauseTiming();
    bench.FreshDatabase();
    state.ResumeTiming();
    bench.RunIndexer(0, 0);
    bench.Drain(state);
  }
  bench.Split(state);
  state.counters["records"] = KivDB::ValidCount();
  state.SetItemsProcessed(state.iterations() * KivDB::ValidCount());
}
BENCHMARK(BM_IndexFirstRun)
    ->Arg(0)
    ->Arg(1)
    ->MinTime(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_IndexSecondRun(benchmark::State& state) {
  Bench& bench = Shared();
  SetLogLevel(state);
  bench.Choose(kArtists);
  bench.FreshDatabase();
  bench.RunIndexer(0, 0);
  bench.loop.ProcessPending();
  bench.ResetSplit();
  for (auto _ : state) {
    bench.RunIndexer(0, 0);
    bench.Drain(state);
  }
  bench.Split(state);
  state.counters["records"] = KivDB::ValidCount();
  state.SetItemsProcessed(state.iterations() * KivDB::ValidCount());
}
BENCHMARK(BM_IndexSecondRun)
    ->Arg(0)
    ->Arg(1)
    ->MinTime(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A new album of 12 files in one artist's folder, looked at as the folder
// monitor hands it over (that folder alone), after a whole run: the cost
// of one change, to compare with BM_IndexSecondRun's.
void BM_IndexChangedAlbum(benchmark::State& state) {
  Bench& bench = Shared();
  AppLog().SetLogLevel(LEVEL_WARNING);
  bench.Choose(kArtists);
  bench.FreshDatabase();
  bench.RunIndexer(0, 0);
  bench.loop.ProcessPending();
  int album = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path folder =
        fs::path(ArtistDir(bench.music, 0)) / ("New " + std::to_string(album++));
    fs::create_directories(folder);
    for (int t = 0; t < 12; ++t) {
      const fs::path file = folder / (std::to_string(t + 1) + ".mp3");
      std::ofstream(file).close();
      fs::resize_file(file, kFileBytes);
    }
    IndexScope scope;
    scope.Add(folder.string(), IndexScope::Depth::kWholeTree);
    state.ResumeTiming();
    bench.RunIndexer(0, 0, scope);
    bench.Drain(state);
    state.PauseTiming();
    fs::remove_all(folder);
    state.ResumeTiming();
  }
  state.counters["records"] = KivDB::ValidCount();
}
BENCHMARK(BM_IndexChangedAlbum)->MinTime(2)->Unit(benchmark::kMillisecond)->UseRealTime();

int SleepArtists() {
  const char* full = std::getenv("VORNIC_BENCH_FULL_SLEEPS");
  return (full && *full == '1') ? kArtists : kArtists / 10;
}

void BM_IndexFirstRunDesignedSleeps(benchmark::State& state) {
  Bench& bench = Shared();
  AppLog().SetLogLevel(LEVEL_WARNING);
  bench.Choose(SleepArtists());
  for (auto _ : state) {
    state.PauseTiming();
    bench.FreshDatabase();
    state.ResumeTiming();
    bench.RunIndexer(kIndexerRecordSleepMs, kIndexerFileSleepMs);
    bench.Drain(state);
  }
  state.counters["records"] = KivDB::ValidCount();
  state.SetItemsProcessed(state.iterations() * KivDB::ValidCount());
}
BENCHMARK(BM_IndexFirstRunDesignedSleeps)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_IndexSecondRunDesignedSleeps(benchmark::State& state) {
  Bench& bench = Shared();
  AppLog().SetLogLevel(LEVEL_WARNING);
  bench.Choose(SleepArtists());
  bench.FreshDatabase();
  bench.RunIndexer(0, 0);
  bench.loop.ProcessPending();
  for (auto _ : state) {
    bench.RunIndexer(kIndexerRecordSleepMs, kIndexerFileSleepMs);
    bench.Drain(state);
  }
  state.counters["records"] = KivDB::ValidCount();
  state.SetItemsProcessed(state.iterations() * KivDB::ValidCount());
}
BENCHMARK(BM_IndexSecondRunDesignedSleeps)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

long ResidentKib() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 20, '\n');
  }
  return 0;
}

// Stops when the benchmark says so.
class BenchMonitor : public AgentFolderMonitor {
 public:
  using AgentFolderMonitor::AgentFolderMonitor;
  BOOL CheckQuit() override {
    started = true;
    return stop ? TRUE : FALSE;
  }
  std::atomic<bool> started{false};
  std::atomic<bool> stop{false};
};

void BM_FolderMonitorIdle(benchmark::State& state) {
  Bench& bench = Shared();
  AppLog().SetLogLevel(LEVEL_WARNING);
  bench.Choose(kArtists);
  const char* env = std::getenv("VORNIC_BENCH_IDLE_SECONDS");
  const int seconds = env ? std::atoi(env) : 10;
  for (auto _ : state) {
    AgentContext context;
    context.kind = AGENT_FOLDERMON;
    context.main_window = &bench.loop;
    const long rss_before = ResidentKib();
    const auto setup_start = std::chrono::steady_clock::now();
    BenchMonitor monitor(context);
    std::thread thread([&] { monitor.Run(); });
    while (!monitor.started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double setup_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - setup_start)
            .count();
    const long rss_after = ResidentKib();
    const std::clock_t cpu_start = std::clock();
    const auto wall_start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu_s = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    const double wall_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    monitor.stop = true;
    thread.join();
    state.counters["idle_cpu_percent"] = 100.0 * cpu_s / wall_s;
    state.counters["idle_seconds"] = wall_s;
    state.counters["setup_ms"] = setup_ms;
    state.counters["watch_rss_kib"] = static_cast<double>(rss_after - rss_before);
  }
}
BENCHMARK(BM_FolderMonitorIdle)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
