// The iTunes import on a generated library of 50,000 tracks (about 77 MB;
// VORNIC_BENCH_TRACKS for another number)
// whose files exist (hard links of one real media file), against Python's
// plistlib loading the same file in the same run.
//
// The import runs as a process of its own (tools/itunes_import, the agent's
// ParseItunesHistoryFile with the per-track sleep at 0 and the log at its
// default level, INFO), so that the peak memory measured (wait4's maxrss) is
// the whole program's. Its time is the parse and merge alone, as the tool
// measures it; plistlib's is plistlib.load alone, measured inside Python,
// and its memory the Python process's peak.
//
//   NewRecords    empty database: every track is added
//   KnownRecords  the database already holds every file (as after the
//                 indexer): every track is merged, tags filled, plays taken
//   Unchanged     the same library again: look-ups only
//   ParseOnly     in this process: the reader and walk without a database
//   Plistlib      python3 -c "plistlib.load(...)"
//   Summary       the ratios: import time / plistlib time, peak memory /
//                 plistlib's peak memory
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/log.h"
#include "media/tag_reader.h"
#include "scan/itunes_library.h"
#include "tools/itunes_library_writer.h"
#include "tools/test_media.h"

extern char** environ;

namespace {

// VORNIC_BENCH_TRACKS for another size.
int TrackCount() {
  const char* text = std::getenv("VORNIC_BENCH_TRACKS");
  const int count = text ? std::atoi(text) : 0;
  return count > 0 ? count : 50000;
}
const int kTracks = TrackCount();

struct Result {
  double seconds = 0;  // the measured work
  double wall = 0;     // the whole child process
  double peak_mb = 0;  // its maximum resident set
};
std::map<std::string, Result>& Results() {
  static std::map<std::string, Result> results;
  return results;
}

// The generated library and its files, made once per run.
struct Collection {
  Collection() {
    std::random_device random;
    const char* base = std::getenv("VORNIC_BENCH_DIR");
    dir = std::filesystem::path(base ? base : std::filesystem::temp_directory_path().string()) /
          ("vornic-itunes-bench-" + std::to_string(random()));
    music = (dir / "Music").string();
    library = (dir / "iTunes Music Library.xml").string();
    std::filesystem::create_directories(music);
    test_media::MediaPlan plan;
    plan.format = "wav";
    const std::string seed = (dir / "seed.wav").string();
    std::string error = test_media::MakeTestMedia(seed, plan);
    test_media::ItunesCollectionPlan collection;
    collection.root = music;
    collection.media = {seed};
    collection.tracks = kTracks;
    if (error.empty()) error = test_media::MakeItunesCollection(collection, library);
    if (!error.empty()) {
      std::fprintf(stderr, "itunes_bench: %s\n", error.c_str());
      std::abort();
    }
    std::fprintf(stderr, "itunes_bench: %d tracks, library of %.1f MB in %s\n", kTracks,
                 std::filesystem::file_size(library) / 1e6, dir.c_str());
  }
  ~Collection() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  std::filesystem::path dir;
  std::string music;
  std::string library;
};

Collection& Shared() {
  static Collection collection;
  return collection;
}

// Runs `argv` with HOME and the XDG folders inside `home`; returns its
// standard output and fills the wall time and peak memory.
std::string RunChild(const std::vector<std::string>& argv, const std::string& home,
                     Result* result) {
  std::vector<std::string> env_text = {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config",
                                       "XDG_DATA_HOME=" + home + "/.local/share",
                                       "PATH=" + std::string(std::getenv("PATH"))};
  std::vector<char*> env;
  for (std::string& text : env_text) env.push_back(text.data());
  env.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> arg;
  for (std::string& text : args) arg.push_back(text.data());
  arg.push_back(nullptr);

  std::filesystem::create_directories(home);
  const std::string out_path = home + "/child.out";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  const auto start = std::chrono::steady_clock::now();
  const int spawned = posix_spawnp(&pid, arg[0], &actions, nullptr, arg.data(), env.data());
  if (spawned != 0) {
    std::fprintf(stderr, "itunes_bench: cannot run %s: %s\n", arg[0], std::strerror(spawned));
    std::abort();
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  result->wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result->peak_mb = usage.ru_maxrss / 1024.0;
  std::ifstream in(out_path);
  std::stringstream text;
  text << in.rdbuf();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "itunes_bench: %s failed: %s\n", arg[0], text.str().c_str());
    std::abort();
  }
  return text.str();
}

double Field(const std::string& text, const std::string& name) {
  const std::size_t at = text.find(name + "=");
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + name.size() + 1);
}

void Report(benchmark::State& state, const std::string& name, const Result& result) {
  state.SetIterationTime(result.seconds);
  state.counters["wall_s"] = result.wall;
  state.counters["peak_MB"] = result.peak_mb;
  state.counters["tracks_per_s"] = kTracks / result.seconds;
  Results()[name] = result;
}

void RunImport(benchmark::State& state, const std::string& name, const std::string& home,
               bool index) {
  Collection& shared = Shared();
  std::vector<std::string> argv = {ITUNES_IMPORT_TOOL, "--library", shared.library, "--folder",
                                   shared.music};
  if (index) argv.push_back("--index");
  for (auto _ : state) {
    Result result;
    const std::string out = RunChild(argv, home, &result);
    result.seconds = Field(out, "seconds");
    if (Field(out, "records") != kTracks) state.SkipWithError(("import: " + out).c_str());
    Report(state, name, result);
  }
}

void BM_ItunesImport_NewRecords(benchmark::State& state) {
  RunImport(state, "new", (Shared().dir / "home-new").string(), false);
}
void BM_ItunesImport_KnownRecords(benchmark::State& state) {
  RunImport(state, "known", (Shared().dir / "home-known").string(), true);
}
void BM_ItunesImport_Unchanged(benchmark::State& state) {
  // The database of NewRecords, which already took this library.
  RunImport(state, "unchanged", (Shared().dir / "home-new").string(), false);
}

class NullHandler : public ItunesTrackHandler {
 public:
  bool CheckQuit() override { return false; }
  bool BeginTracks() override { return true; }
  void OnTrackElement(int) override {}
  void OnTrack(DBEntry&, const std::string&) override { ++tracks; }
  int tracks = 0;
};

void BM_ItunesParseOnly(benchmark::State& state) {
  Collection& shared = Shared();
  AppLog().SetLogLevel(LEVEL_WARNING);
  CTagReaderRef tag_reader;
  for (auto _ : state) {
    NullHandler handler;
    const auto start = std::chrono::steady_clock::now();
    ParseItunesHistoryFile(shared.library, FALSE, handler, 1);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    if (handler.tracks != kTracks) state.SkipWithError("parse: tracks missing");
  }
}

void BM_Plistlib(benchmark::State& state) {
  Collection& shared = Shared();
  const std::string home = (shared.dir / "home-python").string();
  std::filesystem::create_directories(home);
  const std::string script =
      "import plistlib, sys, time\n"
      "t = time.perf_counter()\n"
      "with open(sys.argv[1], 'rb') as f: d = plistlib.load(f)\n"
      "print('seconds=%f tracks=%d' % (time.perf_counter() - t, len(d['Tracks'])))\n";
  for (auto _ : state) {
    Result result;
    const std::string out = RunChild({"python3", "-c", script, shared.library}, home, &result);
    result.seconds = Field(out, "seconds");
    if (Field(out, "tracks") != kTracks) state.SkipWithError(("plistlib: " + out).c_str());
    Report(state, "plistlib", result);
  }
}

void BM_Summary(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(1e-9);
  auto& results = Results();
  if (!results.count("plistlib")) return;
  const Result& python = results["plistlib"];
  for (const char* name : {"new", "known", "unchanged"}) {
    if (!results.count(name)) continue;
    state.counters[std::string(name) + "_time_vs_plistlib"] =
        results[name].seconds / python.seconds;
    state.counters[std::string(name) + "_peak_vs_plistlib"] =
        results[name].peak_mb / python.peak_mb;
  }
}

BENCHMARK(BM_ItunesImport_NewRecords)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ItunesImport_KnownRecords)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ItunesImport_Unchanged)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ItunesParseOnly)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_Plistlib)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_Summary)->UseManualTime()->Iterations(1);

}  // namespace
