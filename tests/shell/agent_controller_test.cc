// The agent controller's rules, on a fake clock with real agent threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "app/controller_state.h"
#include "app/index_scope.h"
#include "shell/kiv_client_dlg.h"
#include "tests/shell/agent_controller_fixture.h"

namespace {

using agent_test::CountOf;
using agent_test::PumpFor;
using agent_test::PumpUntil;
using agent_test::RegisterGatedJob;

class AgentControllerTest : public agent_test::ControllerTest {};

TEST_F(AgentControllerTest, SecondDelayedRequestReplacesTheFirstTimer) {
  RegisterGatedJob(jobs_, board_, AGENT_INDEXER);
  Request(AGENT_INDEXER, 5000);
  Drain();
  clock_.Advance(100);
  Request(AGENT_INDEXER, 10000);
  Drain();
  EXPECT_TRUE(loop_.HasTimer(ID_AGENT_INDEXER));
  EXPECT_EQ(loop_.MsUntilNextTimer(), 10000);
  Advance(4900);  // the first request's deadline passes unnoticed
  Advance(5099);
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_INDEXER));
  Advance(1);
  EXPECT_TRUE(dlg_->IsAgentRunning(AGENT_INDEXER));
  EXPECT_FALSE(loop_.HasTimer(ID_AGENT_INDEXER));
  EXPECT_TRUE(UntilStarted(AGENT_INDEXER, 1));
  // A request for something that is not an agent is not handled.
  EXPECT_FALSE(dlg_->OnAgentRequest(ID_AGENT_INDEXER - 1, 0));
  EXPECT_FALSE(dlg_->OnAgentRequest(ID_AGENT_UPDATER + 1, 500));
  EXPECT_FALSE(loop_.HasTimer(ID_AGENT_UPDATER + 1));
}

TEST_F(AgentControllerTest, IndexerRequestedWhileRunningFinishesThenRunsOnceMoreWithoutChain) {
  RegisterGatedJob(jobs_, board_, AGENT_INDEXER);
  RegisterGatedJob(jobs_, board_, AGENT_ITUNES);
  Request(AGENT_INDEXER);
  ASSERT_TRUE(UntilStarted(AGENT_INDEXER, 1));
  Request(AGENT_INDEXER);
  Drain();
  EXPECT_TRUE(dlg_->IsRelaunchPending(AGENT_INDEXER));
  PumpFor(loop_, 30);
  // The indexer is left to finish its pass.
  EXPECT_EQ(board_.Get(AGENT_INDEXER).quit_seen, 0);

  board_.Release(AGENT_INDEXER);
  ASSERT_TRUE(UntilStarted(AGENT_INDEXER, 2));
  EXPECT_FALSE(dlg_->IsRelaunchPending(AGENT_INDEXER));
  EXPECT_EQ(board_.Get(AGENT_ITUNES).started, 0);
  // The relaunched pass completes normally and chains the iTunes import.
  board_.Release(AGENT_INDEXER);
  EXPECT_TRUE(UntilStarted(AGENT_ITUNES, 1));
  EXPECT_EQ(board_.Get(AGENT_INDEXER).started, 2);
}

TEST_F(AgentControllerTest, RelaunchOnlyAfterANonZeroResult) {
  RegisterGatedJob(jobs_, board_, AGENT_PLAYMON);
  board_.SetResult(AGENT_PLAYMON, 0);
  Request(AGENT_PLAYMON);
  ASSERT_TRUE(UntilStarted(AGENT_PLAYMON, 1));
  Request(AGENT_PLAYMON);
  Drain();
  board_.Release(AGENT_PLAYMON);
  ASSERT_TRUE(UntilStopped(AGENT_PLAYMON));
  PumpFor(loop_, 30);
  EXPECT_EQ(board_.Get(AGENT_PLAYMON).started, 1);
  EXPECT_FALSE(dlg_->IsRelaunchPending(AGENT_PLAYMON));
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_PLAYMON));
}

TEST_F(AgentControllerTest, KindsThatAreAskedToStopWhenRequestedAgain) {
  for (UINT kind : {AGENT_MUSICID, AGENT_SERVER, AGENT_CONNECTIONMON, AGENT_FOLDERMON})
    RegisterGatedJob(jobs_, board_, kind);
  for (UINT kind : {AGENT_MUSICID, AGENT_SERVER, AGENT_CONNECTIONMON, AGENT_FOLDERMON}) {
    SCOPED_TRACE(AgentName(kind));
    Request(kind);
    ASSERT_TRUE(UntilStarted(kind, 1));
    Request(kind);
    // Stopped by the second request and relaunched, since the stopped run
    // returned 1.
    ASSERT_TRUE(UntilStarted(kind, 2));
    EXPECT_EQ(board_.Get(kind).quit_seen, 1);
    // Stopped again, now with result 0: not relaunched.
    board_.SetResult(kind, 0);
    Request(kind);
    ASSERT_TRUE(UntilStopped(kind));
    PumpFor(loop_, 20);
    EXPECT_EQ(board_.Get(kind).started, 2);
    EXPECT_EQ(board_.Get(kind).quit_seen, 2);
  }
  // No chain after MusicID when the pass was relaunched or stopped:
  // the transmit agent ran only for its own requests.
  EXPECT_EQ(board_.Get(AGENT_SERVER).started, 2);
}

TEST_F(AgentControllerTest, CompletedPassesChainIndexerITunesMusicIdTransmit) {
  const UINT chain[] = {AGENT_INDEXER, AGENT_ITUNES, AGENT_MUSICID, AGENT_SERVER};
  for (UINT kind : chain) RegisterGatedJob(jobs_, board_, kind);
  Request(AGENT_INDEXER);
  for (UINT kind : chain) {
    SCOPED_TRACE(AgentName(kind));
    ASSERT_TRUE(UntilStarted(kind, 1));
    for (UINT other : chain) {
      if (other != kind) {
        EXPECT_FALSE(dlg_->IsAgentRunning(other));
      }
    }
    board_.Release(kind);
    ASSERT_TRUE(UntilStopped(kind));
  }
  PumpFor(loop_, 20);
  for (UINT kind : chain) EXPECT_EQ(board_.Get(kind).started, 1);
  const std::string log = LogText();
  EXPECT_EQ(CountOf(log, "): waiting for thread to die"), 4u);
  EXPECT_EQ(CountOf(log, "): thread ended"), 4u);
}

TEST_F(AgentControllerTest, DisablingStopsAllButTheUpdaterAndDropsRequests) {
  SetCredentials();
  const UINT kinds[] = {AGENT_INDEXER,   AGENT_PLAYMON,       AGENT_SERVER,
                        AGENT_FOLDERMON, AGENT_CONNECTIONMON, AGENT_UPDATER};
  for (UINT kind : kinds) {
    RegisterGatedJob(jobs_, board_, kind);
    Request(kind);
    ASSERT_TRUE(UntilStarted(kind, 1));
  }
  Request(AGENT_MUSICID, 5000);
  Drain();
  Post(WM_COMMAND, ID_CMD_AGENTS_TOGGLE);
  Drain();
  EXPECT_TRUE(dlg_->disabled());
  for (UINT kind : kinds) {
    SCOPED_TRACE(AgentName(kind));
    EXPECT_EQ(dlg_->IsAgentRunning(kind), kind == AGENT_UPDATER);
  }
  EXPECT_FALSE(loop_.HasTimer(ID_AGENT_MUSICID));
  EXPECT_EQ(view_.button, "Enable");
  EXPECT_EQ(view_.tooltip, "Currently Disabled");
  EXPECT_EQ(view_.events, std::vector<std::string>{"Vornic Disabled by user"});

  // While disabled only the connection monitor starts.
  Request(AGENT_INDEXER);
  Request(AGENT_PLAYMON);
  Request(AGENT_CONNECTIONMON);
  ASSERT_TRUE(UntilStarted(AGENT_CONNECTIONMON, 2));
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_INDEXER));
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_PLAYMON));

  Post(WM_COMMAND, ID_CMD_AGENTS_TOGGLE);
  Drain();
  EXPECT_FALSE(dlg_->disabled());
  EXPECT_EQ(view_.button, "Disable");
  EXPECT_EQ(view_.events.back(), "Vornic Enabled by user");
  // Enabling asks for them again after their delays.
  EXPECT_TRUE(loop_.HasTimer(ID_AGENT_PLAYMON));
  EXPECT_TRUE(loop_.HasTimer(ID_AGENT_INDEXER));
  EXPECT_TRUE(loop_.HasTimer(ID_AGENT_FOLDERMON));
  EXPECT_TRUE(loop_.HasTimer(ID_AGENT_CONNECTIONMON));
  EXPECT_TRUE(loop_.HasTimer(ID_AGENT_UPDATER));
  Advance(2000);
  EXPECT_TRUE(UntilStarted(AGENT_PLAYMON, 2));
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_INDEXER));
  Advance(3000);
  EXPECT_TRUE(UntilStarted(AGENT_INDEXER, 2));
}

TEST_F(AgentControllerTest, UpdaterRunsAtMostOnceAndComesBackAfterAnHour) {
  RegisterGatedJob(jobs_, board_, AGENT_UPDATER);
  Request(AGENT_UPDATER);
  ASSERT_TRUE(UntilStarted(AGENT_UPDATER, 1));
  Request(AGENT_UPDATER);
  Drain();
  PumpFor(loop_, 20);
  EXPECT_FALSE(dlg_->IsRelaunchPending(AGENT_UPDATER));
  EXPECT_EQ(board_.Get(AGENT_UPDATER).quit_seen, 0);

  board_.Release(AGENT_UPDATER);
  ASSERT_TRUE(UntilStopped(AGENT_UPDATER));
  Drain();
  EXPECT_EQ(loop_.MsUntilNextTimer(), 3600000);
  Advance(3599999);
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_UPDATER));
  Advance(1);
  EXPECT_TRUE(UntilStarted(AGENT_UPDATER, 2));
  EXPECT_EQ(board_.Get(AGENT_UPDATER).started, 2);
}

// Never looks at its queue; ends only when the board releases it.
class DeafJob : public CAgent {
 public:
  DeafJob(agent_test::JobBoard& board, UINT kind) : board_(board), kind_(kind) {}
  int Run() override {
    board_.Started(kind_);
    while (!board_.TakeRelease(kind_)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    board_.Finished(kind_, false);
    return 1;
  }

 private:
  agent_test::JobBoard& board_;
  UINT kind_;
};

TEST_F(AgentControllerTest, KillThreadWaitsForADeafJobWhileTheControllerAnswersMessages) {
  jobs_.Register(AGENT_FOLDERMON, [this](const AgentContext&) {
    return std::make_unique<DeafJob>(board_, AGENT_FOLDERMON);
  });
  Request(AGENT_FOLDERMON);
  ASSERT_TRUE(UntilStarted(AGENT_FOLDERMON, 1));

  // While KillThread waits, another thread talks to the controller: status
  // lines, each answered before the next is sent, then a stray done message
  // for the agent being stopped.
  std::atomic<bool> answered{true};
  std::thread other([&] {
    for (int i = 0; i < 5; ++i) {
      const int before = view_.page_messages;
      loop_.PostMessage(WM_STATUS_EVENT, static_cast<WPARAM>(-1), 0, "tick " + std::to_string(i));
      const auto end = std::chrono::steady_clock::now() + agent_test::kPatience;
      while (view_.page_messages == before && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (view_.page_messages == before) answered = false;
    }
    loop_.PostMessage(WM_AGENT_DONE, ID_AGENT_FOLDERMON, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    board_.Release(AGENT_FOLDERMON);
  });
  dlg_->KillThread(AGENT_FOLDERMON);
  other.join();
  EXPECT_TRUE(answered);
  EXPECT_EQ(view_.events.size(), 5u);
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_FOLDERMON));
  EXPECT_EQ(board_.Get(AGENT_FOLDERMON).finished, 1);
  Drain();  // the job's own done message finds nothing left to stop
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_FOLDERMON));
  const std::string log = LogText();
  EXPECT_EQ(CountOf(log, "): waiting for thread to die"), 1u) << log;
  EXPECT_EQ(CountOf(log, "): thread ended"), 1u) << log;
}

TEST_F(AgentControllerTest, ShutdownWithEightBusyAgentsEndsSoonAfterTheirNextCheckQuit) {
  constexpr int kStepMs = 200;
  const UINT kinds[] = {AGENT_INDEXER, AGENT_ITUNES,    AGENT_MUSICID, AGENT_SERVER,
                        AGENT_PLAYMON, AGENT_FOLDERMON, AGENT_UPDATER, AGENT_CONNECTIONMON};
  for (UINT kind : kinds) {
    RegisterGatedJob(jobs_, board_, kind, kStepMs);
    Request(kind);
  }
  for (UINT kind : kinds) ASSERT_TRUE(UntilStarted(kind, 1));
  Request(AGENT_PLAYLISTS);  // an idle thread without a job
  Drain();
  ASSERT_TRUE(dlg_->IsAgentRunning(AGENT_PLAYLISTS));

  const auto begin = std::chrono::steady_clock::now();
  Post(WM_CLOSE);
  Drain();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - begin)
                        .count();
  EXPECT_TRUE(loop_.QuitRequested());
  EXPECT_TRUE(dlg_->shutting_down());
  EXPECT_TRUE(view_.tray_removed);
  EXPECT_LT(took, kStepMs + 1000);
  for (UINT kind : kinds) {
    SCOPED_TRACE(AgentName(kind));
    EXPECT_FALSE(dlg_->IsAgentRunning(kind));
    EXPECT_EQ(board_.Get(kind).quit_seen, 1);
    // Every agent was told at once and stopped at its next CheckQuit, not
    // one after the other (which would add up to about four steps).
    EXPECT_LT(board_.Get(kind).finished_at - begin, std::chrono::milliseconds(kStepMs + 250));
  }
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_PLAYLISTS));
  // Nothing starts any more.
  loop_.Run();  // consumes the quit request
  Request(AGENT_INDEXER);
  Drain();
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_INDEXER));
}

TEST_F(AgentControllerTest, ITunesNotificationClearsItsRelaunchWhenITunesStops) {
  RegisterGatedJob(jobs_, board_, AGENT_ITUNES);
  Request(AGENT_ITUNES);
  ASSERT_TRUE(UntilStarted(AGENT_ITUNES, 1));
  Request(AGENT_ITUNES);
  Post(WM_AGENT_DONE, ID_NOTIFY_ITUNES_RUNNING, 1);
  Drain();
  // Recorded where the iTunes import's own thread reads it.
  EXPECT_TRUE(ITunesRunning());
  EXPECT_TRUE(dlg_->IsRelaunchPending(AGENT_ITUNES));
  Post(WM_AGENT_DONE, ID_NOTIFY_ITUNES_RUNNING, 0);
  Drain();
  EXPECT_FALSE(ITunesRunning());
  EXPECT_FALSE(dlg_->IsRelaunchPending(AGENT_ITUNES));
  // Not a done message: the import itself goes on.
  EXPECT_TRUE(dlg_->IsAgentRunning(AGENT_ITUNES));

  Post(WM_AGENT_DONE, ID_NOTIFY_NEW_VERSION, 0);
  Drain();
  EXPECT_EQ(view_.balloons, std::vector<std::string>{
                                "A new version of Vornic is available.\r\nClick for details."});
  EXPECT_EQ(view_.counted_balloons, 1);  // a click on it accepts the update
}

}  // namespace

namespace {

// The indexer's scope as each launch handed it over, in launch order.
class IndexScopeTest : public agent_test::ControllerTest {
 protected:
  IndexScopeTest() {
    jobs_.Register(AGENT_INDEXER, [this](const AgentContext& context) {
      std::lock_guard guard(mutex_);
      scopes_.push_back(IndexScope::FromPayload(context.request));
      return std::make_unique<agent_test::GatedJob>(board_, AGENT_INDEXER, 1);
    });
  }
  void RequestFolders(const std::string& folder, LPARAM delay = 0) {
    IndexScope scope;
    scope.Add(folder, IndexScope::Depth::kFolderOnly);
    loop_.PostMessage(WM_AGENT_REQUEST, ID_AGENT_INDEXER, delay, scope.ToPayload());
  }
  IndexScope Launched(std::size_t i) {
    std::lock_guard guard(mutex_);
    return i < scopes_.size() ? scopes_[i] : IndexScope();
  }
  static std::vector<std::string> Folders(const IndexScope& scope) {
    std::vector<std::string> folders;
    for (const auto& entry : scope.folders()) folders.push_back(entry.first);
    return folders;
  }

  std::mutex mutex_;
  std::vector<IndexScope> scopes_;
};

TEST_F(IndexScopeTest, ChangedFoldersWaitingForOneLaunchUniteAndReachTheJob) {
  RequestFolders("/m/a", 3000);
  RequestFolders("/m/b", 2000);
  Drain();
  Advance(2000);
  ASSERT_TRUE(UntilStarted(AGENT_INDEXER, 1));
  EXPECT_FALSE(Launched(0).whole());
  EXPECT_EQ(Folders(Launched(0)), (std::vector<std::string>{"/m/a", "/m/b"}));

  // Asked again while it runs: the relaunch keeps the new folders alone.
  RequestFolders("/m/c");
  Drain();
  board_.Release(AGENT_INDEXER);
  ASSERT_TRUE(UntilStarted(AGENT_INDEXER, 2));
  EXPECT_EQ(Folders(Launched(1)), std::vector<std::string>{"/m/c"});
  board_.Release(AGENT_INDEXER);
}

TEST_F(IndexScopeTest, ARequestWithoutFoldersMakesTheWaitingOnesAWholeRun) {
  // Start-up's delayed request, then a change that asks for one folder at
  // once: the launch runs over the whole collection.
  Request(AGENT_INDEXER, 5000);
  RequestFolders("/m/a");
  ASSERT_TRUE(UntilStarted(AGENT_INDEXER, 1));
  EXPECT_TRUE(Launched(0).whole());

  // Folders first, then a request that names none (Search All Now, a new
  // folder list), while the indexer runs: the relaunch is whole too.
  RequestFolders("/m/b");
  Request(AGENT_INDEXER);
  Drain();
  board_.Release(AGENT_INDEXER);
  ASSERT_TRUE(UntilStarted(AGENT_INDEXER, 2));
  EXPECT_TRUE(Launched(1).whole());
  board_.Release(AGENT_INDEXER);
}

}  // namespace
