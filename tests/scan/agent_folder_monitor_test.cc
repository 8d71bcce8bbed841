#include "scan/agent_folder_monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/index_scope.h"
#include "app/kiv_client_agent.h"
#include "scan/agent_indexer.h"
#include "tests/scan/collection_fixture.h"

namespace {

namespace fs = std::filesystem;
using media_cache::CollectionFixture;
using Steady = std::chrono::steady_clock;

// The real job, with a stop flag the test sets and a count of its stop
// tests (one per turn of its loop) to tell how far it got.
class ObservedMonitor : public AgentFolderMonitor {
 public:
  using AgentFolderMonitor::AgentFolderMonitor;
  BOOL CheckQuit() override {
    ++checks;
    return stop ? TRUE : FALSE;
  }
  std::atomic<bool> stop{false};
  std::atomic<int> checks{0};
};

class AgentFolderMonitorTest : public CollectionFixture {
 protected:
  void Start(AgentFolderMonitorOptions options = {}) {
    options.wait_ms = 20;
    monitor_ = std::make_unique<ObservedMonitor>(Context(AGENT_FOLDERMON), std::move(options));
    thread_ = std::thread([this] { result_ = monitor_->Run(); });
    Turns(1);  // watching
  }
  void TearDown() override {
    if (thread_.joinable()) {
      monitor_->stop = true;
      thread_.join();
    }
    CollectionFixture::TearDown();
  }
  // Waits for `n` more turns of the monitor's loop.
  void Turns(int n) {
    const int target = monitor_->checks + n;
    const auto deadline = Steady::now() + std::chrono::seconds(10);
    while (monitor_->checks < target && Steady::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_GE(monitor_->checks, target) << "the monitor's loop stalled";
  }
  // Waits until the monitor has taken in every change (its fake clock stops
  // moving: each change it notices costs 500 ms of fake time).
  void Quiet() {
    std::uint64_t before;
    do {
      before = clock_.TickMs();
      Turns(5);
    } while (clock_.TickMs() != before);
  }
  int Requests() {
    for (const Message& m : Posted())
      if (m.id == WM_AGENT_REQUEST && m.wParam == ID_AGENT_INDEXER && m.lParam == 0) {
        ++requests_;
        last_scope_ = IndexScope::FromPayload(m.payload);
      }
    return requests_;
  }
  void Advance(std::uint64_t ms) {
    clock_.Advance(ms);
    Turns(3);
  }

  std::unique_ptr<ObservedMonitor> monitor_;
  std::thread thread_;
  std::atomic<int> result_{0};
  int requests_ = 0;
  IndexScope last_scope_;
};

TEST_F(AgentFolderMonitorTest, AlbumCopyYieldsOneRequestAfterTheBurstSettles) {
  fs::create_directories(music_ + "/Artist");
  Choose({{music_, 1}});
  AppSettings().WriteDword(kSubKeySettings, kIndexCompleteValue, 1);
  Start();
  const std::uint64_t start = clock_.TickMs();

  // The album folder is new: it is watched as it appears.
  for (int i = 0; i < 4; ++i) PutMedia(music_ + "/Artist/Album/track" + std::to_string(i) + ".wav");
  Quiet();
  EXPECT_GT(clock_.TickMs(), start);
  Advance(9000);
  EXPECT_EQ(Requests(), 0);
  Advance(1500);
  EXPECT_EQ(Requests(), 1);
  // The request names the new folder; the indexer looks at it whatever the
  // complete mark says, so the mark of the last whole run stays.
  ASSERT_EQ(last_scope_.folders().size(), 1u);
  EXPECT_EQ(last_scope_.folders().begin()->first, music_ + "/Artist/Album");
  EXPECT_EQ(ReadDword(kIndexCompleteValue), 1u);
  EXPECT_EQ(ReadDword("iTunesComplete"), 0u);
  Advance(30000);
  EXPECT_EQ(Requests(), 1);

  PutMedia(music_ + "/Artist/Album/bonus.wav");
  Quiet();
  Advance(10001);
  EXPECT_EQ(Requests(), 2);
}

TEST_F(AgentFolderMonitorTest, ChangesInDisabledFoldersRaiseNothing) {
  const std::string other = env_.Path("other");
  fs::create_directories(music_ + "/podcasts");
  fs::create_directories(other);
  Choose({{music_, 1}, {music_ + "/podcasts", 0}, {other, 0}});
  Start();
  const std::uint64_t start = clock_.TickMs();
  PutMedia(music_ + "/podcasts/episode.wav");
  PutMedia(other + "/x.wav");
  Turns(10);
  EXPECT_EQ(clock_.TickMs(), start);
  Advance(20000);
  EXPECT_EQ(Requests(), 0);

  PutMedia(music_ + "/song.wav");  // the monitor was listening all along
  Quiet();
  Advance(10001);
  EXPECT_EQ(Requests(), 1);
}

TEST_F(AgentFolderMonitorTest, RequestWaitsWhileOffline) {
  Choose({{music_, 1}});
  std::atomic<bool> online{false};
  std::atomic<int> asked{0};
  AgentFolderMonitorOptions options;
  options.is_online = [&] {
    ++asked;
    return online.load();
  };
  Start(options);
  PutMedia(music_ + "/new.wav");
  Quiet();
  Advance(10001);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(Requests(), 0);
  Advance(5000);  // the next try is ten seconds later, not sooner
  EXPECT_EQ(asked, 1);
  Advance(5001);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(Requests(), 0);

  online = true;
  Advance(10001);
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(Requests(), 1);
  Advance(20000);
  EXPECT_EQ(Requests(), 1);
}

TEST_F(AgentFolderMonitorTest, EndsAtOnceWithoutAnEnabledExistingFolder) {
  Choose({{env_.Path("missing"), 1}, {music_, 0}});
  ObservedMonitor monitor(Context(AGENT_FOLDERMON));
  EXPECT_EQ(monitor.Run(), 1);
  EXPECT_EQ(monitor.checks, 0);
  Choose({});
  EXPECT_EQ(monitor.Run(), 1);
  EXPECT_EQ(monitor.checks, 0);
}

TEST_F(AgentFolderMonitorTest, StopOnItsAgentThreadIsNoticedWithinASecond) {
  Choose({{music_, 1}});
  AgentJobRegistry jobs;
  RegisterFolderMonitorAgent(jobs);
  CKivClientAgent agent(jobs, &loop_, platform::SystemClock(), {}, false);
  agent.PostThreadMessage(WM_AGENT_REQUEST, AGENT_FOLDERMON, 0);
  ASSERT_TRUE(agent.Start());
  const auto deadline = Steady::now() + std::chrono::seconds(10);
  while (LogText().find("FolderMonitor: watching 1 folders") == std::string::npos &&
         Steady::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto stop_at = Steady::now();
  agent.PostStop();
  while (!agent.Ended() && Steady::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto took = Steady::now() - stop_at;
  agent.Join();
  EXPECT_LT(took, std::chrono::milliseconds(1200));
  bool done = false;
  for (const Message& m : Posted())
    if (m.id == WM_AGENT_DONE && m.wParam == ID_AGENT_FOLDERMON && m.lParam == 1) done = true;
  EXPECT_TRUE(done);
}

}  // namespace
