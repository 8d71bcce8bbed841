// The transmit agent describing 10,000 new records to the development
// server on loopback, batches of 100, no rate limit: the whole job as the
// program runs it (database passes, tags read from each file, IndexStart,
// 100 IndexBatch calls, each accepted record written back, IndexStop).
//
// Reported: tracks reported per second; the client's share of that time
// (this process's CPU time over the wall time; the server is another
// process); and, as the baseline of the same run, the server's own time per
// IndexBatch call (arrival to last byte of its answer, from its record)
// against the client's wall time per call.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/log.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "platform/folders.h"
#include "server/agent_transmit.h"
#include "server/connectivity.h"
#include "server/server_session.h"
#include "tools/kiv_devserver_process.h"
#include "tools/test_media.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 10000;
constexpr int kBatch = 100;
constexpr int kDistinctFiles = 10;

// A temporary home with settings, log, database, a music folder of 10,000
// names (hard links to ten tagged mp3 files, so every record's tags are
// really read from its own path) and the running development server.
class BenchRoad {
 public:
  BenchRoad() {
    std::string tmpl = (fs::temp_directory_path() / "vornic-transmit-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return;
    dir_ = tmpl;
    ::setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
    AppSettings().SetCompanyName("KIV");
    AppSettings().SetApplicationName("Windows Client");
    fs::create_directories(platform::DataDir());
    AppLog().SetLogFile(dir_ + "/bench.log");
    AppLog().SetLogLevel(LEVEL_WARNING);
    server_ = std::make_unique<kiv_devserver::DevServer>(dir_ + "/server");
    server_->SetConfig(
        "{\"accounts\": [{\"username\": \"bench@example.org\", \"password\": \"pw\", "
        "\"client_password\": \"bench-client\"}], \"batch_size\": 100, \"rate_limit\": 0}");
    AppSettings().WriteStringUtf8(kSubKeySettings, "ServerUrl", server_->Url());
    AppSettings().WriteStringUtf8(kSubKeySettings, "Username", "bench@example.org");
    AppSettings().WriteStringUtf8(kSubKeySettings, "Password", "bench-client");
    music_ = dir_ + "/music";
    fs::create_directories(music_);
    SaveSearchPaths({{music_, 1}});
    for (int i = 0; i < kDistinctFiles; ++i) {
      test_media::MediaPlan plan;
      plan.format = "mp3";
      plan.seconds = 0.5;
      plan.tags = {"Title " + std::to_string(i),
                   "Artist " + std::to_string(i % 3),
                   "Album",
                   "Pop",
                   "2009",
                   std::to_string(i + 1),
                   "",
                   ""};
      const std::string base = dir_ + "/base-" + std::to_string(i) + ".mp3";
      error_ = test_media::MakeTestMedia(base, plan);
      if (!error_.empty()) return;
      bases_.push_back(base);
    }
    for (int i = 0; i < kRecords; ++i) {
      std::error_code ec;
      fs::create_hard_link(bases_[static_cast<std::size_t>(i % kDistinctFiles)], Path(i), ec);
      if (ec) {
        error_ = "cannot link " + Path(i) + ": " + ec.message();
        return;
      }
    }
  }
  ~BenchRoad() {
    server_.reset();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  std::string error() const {
    if (!server_ || !server_->ok()) return "the development server did not start";
    return error_;
  }
  kiv_devserver::DevServer& server() { return *server_; }

  std::string Path(int i) const { return music_ + "/" + std::to_string(i) + ".mp3"; }

  // A fresh database of 10,000 records as the indexer leaves them: path,
  // size, file type, no tags but a title of their own (so each record is a
  // track of its own to the server), never reported.
  bool FreshDatabase() {
    KivDB::Shutdown();
    std::error_code ec;
    fs::remove(platform::DataDir() + "/kivclient.db", ec);
    if (!KivDB::Initialise()) return false;
    KivDB db;
    for (int i = 0; i < kRecords; ++i) {
      DBEntry entry = MakeFreshEntry(1700000000);
      SetEntryPath(entry, Path(i));
      SetEntryText(entry.file_type, "mp3");
      SetEntryText(entry.title, "Bench Song " + std::to_string(i));
      entry.file_size = kDbMinFileSize;
      if (!db.AddEntry(&entry)) return false;
    }
    return true;
  }

 private:
  std::string dir_;
  std::string music_;
  std::string error_;
  std::vector<std::string> bases_;
  std::unique_ptr<kiv_devserver::DevServer> server_;
};

BenchRoad& Road() {
  static BenchRoad road;
  return road;
}

double Seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9; }

double ProcessCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return Seconds(t);
}

double WallSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return Seconds(t);
}

void BM_TransmitTenThousandNewRecords(benchmark::State& state) {
  BenchRoad& road = Road();
  if (!road.error().empty()) {
    state.SkipWithError(road.error().c_str());
    return;
  }
  CTagReaderRef tag_reader;
  AuthState = 0;
  OnlineState = 1;
  double wall_total = 0;
  double cpu_total = 0;
  double server_total = 0;
  int server_calls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!road.FreshDatabase()) {
      state.SkipWithError("cannot build the database");
      break;
    }
    AgentTransmit::ResetProcessState();
    const std::size_t calls_before = road.server().Calls().size();
    state.ResumeTiming();

    const double wall0 = WallSeconds();
    const double cpu0 = ProcessCpuSeconds();
    AgentTransmit agent(AgentContext{AGENT_SERVER, nullptr, &platform::SystemClock(), {}});
    const int result = agent.Run();
    const double wall = WallSeconds() - wall0;
    const double cpu = ProcessCpuSeconds() - cpu0;

    state.PauseTiming();
    state.SetIterationTime(wall);
    wall_total += wall;
    cpu_total += cpu;
    const std::vector<kiv_devserver::DevServer::Call> calls = road.server().Calls();
    int batches = 0;
    for (std::size_t i = calls_before; i < calls.size(); ++i) {
      if (calls[i].method != "IndexBatch") continue;
      ++batches;
      server_total += calls[i].seconds;
    }
    server_calls += batches;
    KivDB db;
    DBEntry entry;
    const bool stored = db.GetEntry(road.Path(kRecords - 1), &entry) && entry.kiv_id != 0;
    state.ResumeTiming();
    if (result != 1 || batches != kRecords / kBatch || !stored) {
      state.SkipWithError("the job did not report every record");
      break;
    }
  }
  if (state.iterations() == 0 || wall_total <= 0) return;
  const double iterations = static_cast<double>(state.iterations());
  state.counters["tracks/s"] = kRecords * iterations / wall_total;
  state.counters["client_cpu_share"] = cpu_total / wall_total;
  state.counters["client_ms/call"] = wall_total / (iterations * kRecords / kBatch) * 1000;
  if (server_calls > 0) {
    const double server_ms = server_total / server_calls * 1000;
    state.counters["server_ms/call"] = server_ms;
    state.counters["client/server"] =
        (wall_total / (iterations * kRecords / kBatch) * 1000) / server_ms;
  }
  KivDB::Shutdown();
}
BENCHMARK(BM_TransmitTenThousandNewRecords)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
