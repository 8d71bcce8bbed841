#include "app/kiv_client_agent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "app/agent_kinds.h"
#include "app/log.h"
#include "app/reg_settings.h"
#include "platform/threads.h"
#include "tests/app/agent_test_support.h"
#include "tests/support/temp_env.h"

namespace {

using agent_test::CountOf;
using agent_test::JobBoard;
using agent_test::PumpUntil;
using testing_support::ReadFile;
using testing_support::TempEnv;

constexpr const char* kTerminating = "early while in the midst of thread exection";

class KivClientAgentTest : public ::testing::Test {
 protected:
  KivClientAgentTest() : main_(clock_) {
    AppSettings().SetCompanyName("KIV");
    AppSettings().SetApplicationName("Windows Client");
    log_path_ = env_.Path("kivclient.log");
    AppLog().SetLogFile(log_path_);
    AppLog().SetLogLevel(LEVEL_VERBOSE);
    main_.SetHandler([this](Message& m) {
      if (m.id == WM_AGENT_DONE) done_.emplace_back(m.wParam, m.lParam);
    });
  }
  std::string LogText() const { return ReadFile(log_path_); }
  std::unique_ptr<CKivClientAgent> NewAgent(bool idle = true) {
    return std::make_unique<CKivClientAgent>(
        jobs_, &main_, clock_, [this] { main_.Wake(); }, idle);
  }

  TempEnv env_;
  std::string log_path_;
  platform::FakeClock clock_;
  MessageLoop main_;
  AgentJobRegistry jobs_;
  JobBoard board_;
  std::vector<std::pair<WPARAM, LPARAM>> done_;
};

// Keeps asking CheckQuit after the first TRUE, as a careless job might.
class StubbornJob : public CAgent {
 public:
  explicit StubbornJob(std::vector<BOOL>* answers) : answers_(answers) {}
  int Run() override {
    while (!CheckQuit()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    answers_->push_back(TRUE);
    for (int i = 0; i < 3; ++i) answers_->push_back(CheckQuit());
    return 7;
  }

 private:
  std::vector<BOOL>* answers_;
};

TEST_F(KivClientAgentTest, DoneMessageCarriesTheCommandIdAndTheRunResult) {
  agent_test::RegisterGatedJob(jobs_, board_, AGENT_SERVER);
  board_.SetResult(AGENT_SERVER, 42);
  board_.Release(AGENT_SERVER);
  auto agent = NewAgent();
  agent->PostThreadMessage(WM_AGENT_REQUEST, AGENT_SERVER);
  ASSERT_TRUE(agent->Start());
  EXPECT_NE(agent->thread_id(), 0u);
  ASSERT_TRUE(PumpUntil(main_, [&] { return !done_.empty(); }));
  EXPECT_EQ(done_[0], (std::pair<WPARAM, LPARAM>{ID_AGENT_SERVER, 42}));
  // After its job the thread waits in its loop until it is stopped.
  EXPECT_FALSE(agent->Ended());
  agent->PostStop();
  agent->Join();
  EXPECT_TRUE(agent->Ended());
  EXPECT_EQ(agent->exit_code(), 0);
  EXPECT_EQ(board_.Get(AGENT_SERVER).started, 1);
}

TEST_F(KivClientAgentTest, OnceStoppedEveryCheckQuitAnswersTrueAndLogsItsLine) {
  std::vector<BOOL> answers;
  jobs_.Register(AGENT_MUSICID,
                 [&](const AgentContext&) { return std::make_unique<StubbornJob>(&answers); });
  auto agent = NewAgent();
  agent->PostThreadMessage(WM_AGENT_REQUEST, AGENT_MUSICID);
  ASSERT_TRUE(agent->Start());
  agent->PostStop();
  ASSERT_TRUE(PumpUntil(main_, [&] { return !done_.empty(); }));
  EXPECT_EQ(answers, (std::vector<BOOL>{TRUE, TRUE, TRUE, TRUE}));
  EXPECT_EQ(done_[0], (std::pair<WPARAM, LPARAM>{ID_AGENT_MUSICID, 7}));
  // The quit message stayed queued: the loop ends without another stop.
  agent->Join();
  EXPECT_TRUE(agent->Ended());
  const std::string log = LogText();
  EXPECT_EQ(CountOf(log, kTerminating), 4u) << log;
  EXPECT_NE(log.find("INFO     \tAPPLICATION   \tTerminating thread " +
                     std::to_string(agent->thread_id()) + " early"),
            std::string::npos)
      << log;
}

TEST_F(KivClientAgentTest, StopBeforeTheLaunchRefusesItWithoutADoneMessage) {
  agent_test::RegisterGatedJob(jobs_, board_, AGENT_INDEXER);
  auto agent = NewAgent();
  agent->PostStop();
  agent->PostThreadMessage(WM_AGENT_REQUEST, AGENT_INDEXER);
  ASSERT_TRUE(agent->Start());
  agent->Join();
  main_.ProcessPending();
  EXPECT_TRUE(done_.empty());
  EXPECT_EQ(board_.Get(AGENT_INDEXER).started, 0);
  EXPECT_NE(LogText().find("ERROR    \tAPPLICATION   \tOnAgentLaunch (256): stop running is set. "
                           "Cancelling launch."),
            std::string::npos)
      << LogText();
}

TEST_F(KivClientAgentTest, KindsWithoutAJobIdleUntilStopped) {
  for (UINT kind : {AGENT_PLAYLISTS, AGENT_UPDATER, 999u}) {
    SCOPED_TRACE(kind);
    auto agent = NewAgent();
    agent->PostThreadMessage(WM_AGENT_REQUEST, kind);
    ASSERT_TRUE(agent->Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    main_.ProcessPending();
    EXPECT_FALSE(agent->Ended());
    agent->PostStop();
    agent->Join();
  }
  EXPECT_TRUE(done_.empty());
  // Playlists has no job by design, so it cannot get one.
  EXPECT_FALSE(jobs_.Register(AGENT_PLAYLISTS,
                              [](const AgentContext&) { return std::unique_ptr<CAgent>(); }));
  EXPECT_FALSE(jobs_.Register(AGENT_INDEXER - 1,
                              [](const AgentContext&) { return std::unique_ptr<CAgent>(); }));
  EXPECT_FALSE(jobs_.HasJob(AGENT_PLAYLISTS));
}

class ThrowingJob : public CAgent {
 public:
  int Run() override { throw std::runtime_error("disk on fire"); }
};

TEST_F(KivClientAgentTest, JobThatCannotBeCreatedOrThrowsStillReportsDone) {
  jobs_.Register(AGENT_ITUNES, [](const AgentContext&) { return std::unique_ptr<CAgent>(); });
  jobs_.Register(AGENT_FOLDERMON,
                 [](const AgentContext&) { return std::make_unique<ThrowingJob>(); });
  auto a = NewAgent();
  auto b = NewAgent();
  a->PostThreadMessage(WM_AGENT_REQUEST, AGENT_ITUNES);
  b->PostThreadMessage(WM_AGENT_REQUEST, AGENT_FOLDERMON);
  ASSERT_TRUE(a->Start());
  ASSERT_TRUE(b->Start());
  ASSERT_TRUE(PumpUntil(main_, [&] { return done_.size() == 2; }));
  std::sort(done_.begin(), done_.end());
  // No job object: result 1. A job that throws: result 0, so it is not
  // relaunched, and the process lives on.
  EXPECT_EQ(done_[0], (std::pair<WPARAM, LPARAM>{ID_AGENT_ITUNES, 1}));
  EXPECT_EQ(done_[1], (std::pair<WPARAM, LPARAM>{ID_AGENT_FOLDERMON, 0}));
  EXPECT_NE(LogText().find("the FolderMon job failed: disk on fire"), std::string::npos);
}

class ProbeJob : public CAgent {
 public:
  ProbeJob(std::atomic<int>* idle, const AgentContext& context) : idle_(idle), context_(context) {}
  int Run() override {
    *idle_ = platform::CurrentThreadHasIdlePriority() ? 1 : 0;
    // The thread's name, as the system shows it.
    std::string name = ReadFile("/proc/thread-self/comm");
    if (!name.empty() && name.back() == '\n') name.pop_back();
    context_.PostToMainWindow(WM_STATUS_EVENT, static_cast<WPARAM>(-1), 0, "probe " + name);
    return 1;
  }

 private:
  std::atomic<int>* idle_;
  AgentContext context_;
};

TEST_F(KivClientAgentTest, ThreadRunsInTheIdleClassUnderItsJobsNameAndJobsReachTheMainWindow) {
  std::atomic<int> idle{-1};
  std::vector<std::string> texts;
  main_.SetHandler([&](Message& m) {
    if (m.id == WM_STATUS_EVENT) texts.push_back(m.payload);
    if (m.id == WM_AGENT_DONE) done_.emplace_back(m.wParam, m.lParam);
  });
  jobs_.Register(AGENT_CONNECTIONMON, [&](const AgentContext& context) {
    EXPECT_EQ(context.kind, AGENT_CONNECTIONMON);
    EXPECT_EQ(context.clock, &clock_);
    return std::make_unique<ProbeJob>(&idle, context);
  });
  auto agent = NewAgent(true);
  agent->PostThreadMessage(WM_AGENT_REQUEST, AGENT_CONNECTIONMON);
  ASSERT_TRUE(agent->Start());
  ASSERT_TRUE(PumpUntil(main_, [&] { return !done_.empty(); }));
  EXPECT_EQ(idle, 1);
  EXPECT_EQ(texts, std::vector<std::string>{"probe ConnectionMon"});
  // The main thread itself is untouched.
  EXPECT_FALSE(platform::CurrentThreadHasIdlePriority());
}

TEST_F(KivClientAgentTest, CheckQuitOutsideAnAgentThreadAnswersFalse) {
  std::vector<BOOL> answers;
  StubbornJob job(&answers);
  EXPECT_FALSE(job.CheckQuit());
  EXPECT_EQ(CountOf(LogText(), kTerminating), 0u);
}

TEST_F(KivClientAgentTest, DestroyingARunningAgentStopsAndJoinsIt) {
  agent_test::RegisterGatedJob(jobs_, board_, AGENT_PLAYMON);
  {
    auto agent = NewAgent();
    agent->PostThreadMessage(WM_AGENT_REQUEST, AGENT_PLAYMON);
    ASSERT_TRUE(agent->Start());
    while (board_.Get(AGENT_PLAYMON).started == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(board_.Get(AGENT_PLAYMON).quit_seen, 1);
}

}  // namespace
