// The folder monitor under the real agent controller: its index request
// waits while the indexer runs and goes out once the indexer (and the
// agents it chains) have finished.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "app/controller_state.h"
#include "scan/agent_folder_monitor.h"
#include "shell/kiv_client_dlg.h"
#include "tests/app/agent_test_support.h"
#include "tests/scan/collection_fixture.h"

namespace {

using Steady = std::chrono::steady_clock;

// The real monitor job, counting the turns of its loop; it still takes the
// controller's stop through the base CheckQuit.
class CountingMonitor : public AgentFolderMonitor {
 public:
  CountingMonitor(const AgentContext& context, AgentFolderMonitorOptions options,
                  std::atomic<int>& turns)
      : AgentFolderMonitor(context, std::move(options)), turns_(turns) {}
  BOOL CheckQuit() override {
    ++turns_;
    return AgentFolderMonitor::CheckQuit();
  }

 private:
  std::atomic<int>& turns_;
};

// A job that is done at once (the agents the indexer chains).
class DoneJob : public CAgent {
 public:
  int Run() override { return 1; }
};

class FolderMonitorControllerTest : public media_cache::CollectionFixture {
 protected:
  void SetUp() override {
    CollectionFixture::SetUp();
    agent_test::RegisterGatedJob(jobs_, board_, AGENT_INDEXER);
    for (UINT kind : {AGENT_ITUNES, AGENT_MUSICID, AGENT_SERVER})
      jobs_.Register(kind, [](const AgentContext&) { return std::make_unique<DoneJob>(); });
    jobs_.Register(AGENT_FOLDERMON, [this](const AgentContext& context) {
      AgentFolderMonitorOptions options;
      options.wait_ms = 20;
      return std::make_unique<CountingMonitor>(context, options, turns_);
    });
    CKivClientDlg::Options options;
    options.jobs = &jobs_;
    options.clock = &clock_;
    options.idle_priority = false;
    dlg_ = std::make_unique<CKivClientDlg>(main_, view_, options);
    main_.SetHandler([this](Message& m) { dlg_->OnMessage(m); });
  }
  void TearDown() override {
    dlg_->DestroyWindow();
    dlg_.reset();
    CollectionFixture::TearDown();
  }
  void Request(UINT kind) { main_.PostMessage(WM_AGENT_REQUEST, AgentCommandId(kind), 0); }
  // Lets the monitor take `n` more turns while the controller answers.
  void Turns(int n) {
    const int target = turns_ + n;
    ASSERT_TRUE(agent_test::PumpUntil(main_, [&] { return turns_ >= target; }));
  }
  void Quiet() {
    std::uint64_t before;
    do {
      before = clock_.TickMs();
      Turns(5);
    } while (clock_.TickMs() != before);
  }

  agent_test::JobBoard board_;
  AgentJobRegistry jobs_;
  agent_test::RecordingView view_;
  MessageLoop main_{clock_};
  std::unique_ptr<CKivClientDlg> dlg_;
  std::atomic<int> turns_{0};
};

TEST_F(FolderMonitorControllerTest, RequestWaitsUntilTheIndexerHasFinished) {
  Choose({{music_, 1}});
  Request(AGENT_INDEXER);
  ASSERT_TRUE(agent_test::PumpUntil(main_, [&] { return board_.Get(AGENT_INDEXER).started == 1; }));
  Request(AGENT_FOLDERMON);
  Turns(1);

  PutMedia(music_ + "/new.wav");
  Quiet();
  clock_.Advance(10500);
  Turns(3);
  Turns(3);
  EXPECT_TRUE(IsAgentKindRunning(AGENT_INDEXER));
  EXPECT_FALSE(dlg_->IsRelaunchPending(AGENT_INDEXER));  // nothing was asked of it

  board_.Release(AGENT_INDEXER);
  ASSERT_TRUE(agent_test::PumpUntil(main_, [&] {
    return !dlg_->IsAgentRunning(AGENT_INDEXER) && !dlg_->IsAgentRunning(AGENT_ITUNES) &&
           !dlg_->IsAgentRunning(AGENT_MUSICID) && !dlg_->IsAgentRunning(AGENT_SERVER);
  }));
  EXPECT_EQ(board_.Get(AGENT_INDEXER).started, 1);

  // The next try, ten seconds after the last, finds the way clear.
  clock_.Advance(10500);
  ASSERT_TRUE(agent_test::PumpUntil(main_, [&] { return board_.Get(AGENT_INDEXER).started == 2; }));
  board_.Release(AGENT_INDEXER);
}

}  // namespace
