// The agents' plumbing:
// - messages per second through the controller's queue (posted from 1 and
//   from 8 threads, dispatched by CKivClientDlg on the main thread); the
//   baseline is the same traffic from one posting thread;
// - the time from WM_AGENT_STOP to the end of an agent thread whose job
//   calls CheckQuit every 5 ms (KillThread, launch excluded), against the
//   baseline of a bare std::thread that polls an atomic flag every 5 ms.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "app/agent.h"
#include "app/log.h"
#include "shell/headless_main_window.h"
#include "shell/kiv_client_dlg.h"

namespace {

// Keeps settings and log lines inside a temporary folder.
struct BenchEnv {
  BenchEnv() {
    std::random_device random;
    dir = std::filesystem::temp_directory_path() /
          ("vornic-agents-bench-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    AppLog().SetLogFile((dir / "kivclient.log").string());
  }
  ~BenchEnv() { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
};

BenchEnv& Env() {
  static BenchEnv env;
  return env;
}

constexpr int kMessagesPerThread = 20000;

void BM_ControllerQueue(benchmark::State& state) {
  Env();
  const int posters = static_cast<int>(state.range(0));
  MessageLoop loop;
  std::FILE* sink = std::fopen("/dev/null", "w");
  HeadlessMainWindow view(sink);
  AgentJobRegistry jobs;
  CKivClientDlg::Options options;
  options.jobs = &jobs;
  CKivClientDlg dlg(loop, view, options);
  std::atomic<long> seen{0};
  loop.SetHandler([&](Message& m) {
    dlg.OnMessage(m);
    seen.fetch_add(1, std::memory_order_relaxed);
  });
  const long total = static_cast<long>(posters) * kMessagesPerThread;
  for (auto _ : state) {
    seen = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < posters; ++t)
      threads.emplace_back([&loop, t] {
        for (int i = 0; i < kMessagesPerThread; ++i)
          loop.PostMessage(WM_STATUS_PROGRESS_POS, static_cast<WPARAM>(t), i);
      });
    while (seen < total) {
      if (loop.ProcessPending() == 0) loop.WaitForInput(1);
    }
    for (auto& thread : threads) thread.join();
  }
  state.SetItemsProcessed(state.iterations() * total);
  dlg.DestroyWindow();
  std::fclose(sink);
}
BENCHMARK(BM_ControllerQueue)->Arg(1)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);

class FiveMsJob : public CAgent {
 public:
  explicit FiveMsJob(std::atomic<bool>* running) : running_(running) {}
  int Run() override {
    *running_ = true;
    while (!CheckQuit()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return 1;
  }

 private:
  std::atomic<bool>* running_;
};

void BM_StopAgentThread(benchmark::State& state) {
  Env();
  MessageLoop loop;
  std::FILE* sink = std::fopen("/dev/null", "w");
  HeadlessMainWindow view(sink);
  AgentJobRegistry jobs;
  std::atomic<bool> running{false};
  jobs.Register(AGENT_SERVER,
                [&](const AgentContext&) { return std::make_unique<FiveMsJob>(&running); });
  CKivClientDlg::Options options;
  options.jobs = &jobs;
  // 1: the agent thread runs in the idle scheduling class, as the program's
  // do; 0: at normal priority, to show what a busy machine adds.
  options.idle_priority = state.range(0) != 0;
  CKivClientDlg dlg(loop, view, options);
  loop.SetHandler([&](Message& m) { dlg.OnMessage(m); });
  std::mt19937 random(7);
  for (auto _ : state) {
    running = false;
    dlg.LaunchAgent(AGENT_SERVER);
    while (!running) std::this_thread::sleep_for(std::chrono::microseconds(100));
    // Stop at a random point of the job's 5 ms step.
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));
    const auto begin = std::chrono::steady_clock::now();
    dlg.KillThread(AGENT_SERVER);
    const auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
    loop.ProcessPending();  // its done message
  }
  dlg.DestroyWindow();
  std::fclose(sink);
}
BENCHMARK(BM_StopAgentThread)
    ->ArgName("idle")
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

void BM_StopBarePollingThread(benchmark::State& state) {
  std::mt19937 random(7);
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    std::atomic<bool> running{false};
    std::thread thread([&] {
      running = true;
      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    while (!running) std::this_thread::sleep_for(std::chrono::microseconds(100));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));
    const auto begin = std::chrono::steady_clock::now();
    stop = true;
    thread.join();
    const auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
  }
}
BENCHMARK(BM_StopBarePollingThread)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

}  // namespace
