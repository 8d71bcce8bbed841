// Log lines per second: CLog::Log (filter, format, size and name checks,
// append) from one and two threads, against two floors for an already
// formatted line of the same length: the open-append-close of a file that
// is not kept open, and the single append to a file held open.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

#include "app/log.h"
#include "app/reg_settings.h"
#include "platform/append_file.h"
#include "platform/file_io.h"

namespace {

struct BenchLog {
  BenchLog() {
    std::random_device random;
    dir = std::filesystem::temp_directory_path() / ("vornic-log-bench-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
    path = (dir / "kivclient.log").string();
    log.SetLogFile(path);
    line = FormatLogLine(0, kMessage, LEVEL_INFO, MODULE_DATABASE);
  }
  ~BenchLog() { std::filesystem::remove_all(dir); }

  static constexpr const char* kMessage =
      "GetEntry: Seek failed to move to offset 1296: /home/user/Music/Artist/Album/01 Track.mp3";
  std::filesystem::path dir;
  std::string path;
  std::string line;
  CRegSettings settings;  // never written: the log path is usable
  CLog log{platform::SystemClock(), settings};
};

BenchLog& Shared() {
  static BenchLog bench;
  return bench;
}

void BM_RawAppend(benchmark::State& state) {
  BenchLog& bench = Shared();
  for (auto _ : state) benchmark::DoNotOptimize(platform::AppendToFile(bench.path, bench.line));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawAppend)->Threads(1)->Threads(2)->UseRealTime();

void BM_RawWrite(benchmark::State& state) {
  BenchLog& bench = Shared();
  static platform::AppendFile file;  // shared by the threads, as the log's
  if (state.thread_index() == 0) file.Open(bench.path);
  for (auto _ : state) benchmark::DoNotOptimize(file.Write(bench.line));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawWrite)->Threads(1)->Threads(2)->UseRealTime();

void BM_LogLine(benchmark::State& state) {
  BenchLog& bench = Shared();
  for (auto _ : state) bench.log.Log(BenchLog::kMessage, LEVEL_INFO, MODULE_DATABASE);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogLine)->Threads(1)->Threads(2)->UseRealTime();

void BM_FilteredLine(benchmark::State& state) {
  BenchLog& bench = Shared();
  for (auto _ : state) bench.log.Log(BenchLog::kMessage, LEVEL_VERBOSE + 1, MODULE_DATABASE);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FilteredLine)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
