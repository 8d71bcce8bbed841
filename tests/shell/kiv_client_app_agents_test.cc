// Start-up and shutdown with the agent controller as the main window, using
// the program's own job registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/agent.h"
#include "app/agent_registry.h"
#include "db/kiv_db.h"
#include "platform/folders.h"
#include "shell/headless_main_window.h"
#include "shell/kiv_client_app.h"
#include "tests/support/temp_env.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempEnv;

// Asks the main window to close as soon as it runs, then works in 5 ms steps
// until it is stopped.
class ClosingJob : public CAgent {
 public:
  ClosingJob(const AgentContext& context, std::atomic<int>* stopped)
      : context_(context), stopped_(stopped) {}
  int Run() override {
    context_.PostToMainWindow(WM_CLOSE);
    while (!CheckQuit()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ++*stopped_;
    return 1;
  }

 private:
  AgentContext context_;
  std::atomic<int>* stopped_;
};

TEST(KivClientAppAgentsTest, ShutdownStopsTheRunningAgentsBeforeTheLoopEnds) {
  TempEnv env;
  std::atomic<int> stopped{0};
  // The connection monitor is the agent the main window starts at once.
  ASSERT_TRUE(AgentJobs().Register(AGENT_CONNECTIONMON, [&](const AgentContext& context) {
    return std::make_unique<ClosingJob>(context, &stopped);
  }));
  CKivClientApp app({"--headless"});
  EXPECT_EQ(app.Main(), 0);
  AgentJobs().Unregister(AGENT_CONNECTIONMON);
  EXPECT_EQ(stopped, 1);

  const std::string log = ReadFile(platform::DataDir() + "/kivclient.log");
  const char* expected[] = {"Application Startup Completed, entering background mode",
                            "Vornic ready",
                            "early while in the midst of thread exection",
                            "): thread ended",
                            "Application Shutdown Completed, cleaning up",
                            "******** KIVClient 1.0.3.105 Stopped ********"};
  std::size_t at = 0;
  for (const char* text : expected) {
    std::size_t found = log.find(text, at);
    ASSERT_NE(found, std::string::npos) << text << "\nin:\n" << log;
    at = found + 1;
  }
}

// Adds one record to the program's database, then closes the main window.
class AddingJob : public CAgent {
 public:
  AddingJob(const AgentContext& context, std::string path) : context_(context), path_(path) {}
  int Run() override {
    KivDB db;
    added = db.AddEntry(path_) != FALSE;
    context_.PostToMainWindow(WM_CLOSE);
    while (!CheckQuit()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return 1;
  }
  static inline std::atomic<bool> added{false};

 private:
  AgentContext context_;
  std::string path_;
};

// The headless view, remembering which page messages reached it.
class RecordingView : public HeadlessMainWindow {
 public:
  explicit RecordingView(std::vector<UINT>* seen) : HeadlessMainWindow(stderr), seen_(seen) {}
  void ForwardToPages(Message& message) override {
    seen_->push_back(message.id);
    HeadlessMainWindow::ForwardToPages(message);
  }

 private:
  std::vector<UINT>* seen_;
};

TEST(KivClientAppAgentsTest, AnAddedRecordReachesTheStatusPageAsACountChange) {
  TempEnv env;
  const std::string path = env.Path("a.mp3");
  testing_support::WriteFile(path, std::string(kDbMinFileSize, 'x'));
  ASSERT_TRUE(AgentJobs().Register(AGENT_CONNECTIONMON, [&](const AgentContext& context) {
    return std::make_unique<AddingJob>(context, path);
  }));
  std::vector<UINT> seen;
  CKivClientApp app({"--headless"}, [&](MessageLoop&, const CommandLineOptions&) {
    return std::make_unique<RecordingView>(&seen);
  });
  EXPECT_EQ(app.Main(), 0);
  AgentJobs().Unregister(AGENT_CONNECTIONMON);
  EXPECT_TRUE(AddingJob::added);
  EXPECT_NE(std::find(seen.begin(), seen.end(), WM_STATUS_COUNTS), seen.end());
}

}  // namespace
