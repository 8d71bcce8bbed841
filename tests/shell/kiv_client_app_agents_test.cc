// Start-up and shutdown with the agent controller as the main window, using
// the program's own job registry.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/agent.h"
#include "app/agent_registry.h"
#include "shell/kiv_client_app.h"
#include "platform/folders.h"
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

}  // namespace
