// The connection monitor's passes against the development server, and the
// monitor job on a real agent thread.
#include "server/connection_monitor.h"

#include <gtest/gtest.h>

#include <chrono>

#include "app/agent_kinds.h"
#include "app/kiv_client_agent.h"
#include "server/connectivity.h"
#include "server/server_agents.h"
#include "server/server_session.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

class ConnectionMonitorTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    context_.kind = AGENT_CONNECTIONMON;
    context_.main_window = &window_.loop();
    context_.clock = &clock_;
  }
  void GoOffline() { SetSetting("ServerUrl", "http://127.0.0.1:" + std::to_string(dead_port_)); }
  void GoOnline() { SetSetting("ServerUrl", server_->Url()); }

  const int dead_port_ = UnusedPort();
  platform::FakeClock clock_;
  PostedMessages window_;
  AgentContext context_;
};

TEST_F(ConnectionMonitorTest, RestoredConnectionLaunchesTheMusicIdAgent) {
  UseAccount();
  AgentConnectionMon monitor(context_);
  monitor.CheckConnection();
  EXPECT_EQ(AuthState, 0);
  EXPECT_TRUE(window_.Events().empty());
  EXPECT_NE(LogText().find("Connection Server URL Path: /kiv_backend/api"), std::string::npos);

  GoOffline();
  monitor.CheckConnection();
  EXPECT_EQ(window_.Events(), std::vector<std::string>{"Connection to KIV not available."});
  EXPECT_TRUE(window_.Requests().empty());

  GoOnline();
  const std::size_t validations = server_->Calls().size();
  monitor.CheckConnection();
  EXPECT_EQ(window_.Events(), (std::vector<std::string>{"Connection to KIV not available.",
                                                        "Online connection restored."}));
  EXPECT_EQ(window_.Requests(), (std::vector<std::pair<WPARAM, LPARAM>>{{ID_AGENT_MUSICID, 0}}));
  // A restored connection has the credentials checked again.
  EXPECT_EQ(server_->Calls().size(), validations + 1);
  EXPECT_EQ(LogCount("Online connection restored."), 1);

  // Accepted and unchanged: no server call at all.
  monitor.CheckConnection();
  EXPECT_EQ(server_->Calls().size(), validations + 1);
  EXPECT_EQ(window_.Requests().size(), 1u);
}

TEST_F(ConnectionMonitorTest, FixedCredentialsLaunchTheTransmitAgent) {
  UseAccount();
  SetSetting("Password", "wrong");
  AgentConnectionMon monitor(context_);
  monitor.CheckConnection();
  EXPECT_EQ(AuthState, -2);
  monitor.CheckConnection();  // still refused: nothing to say
  EXPECT_TRUE(window_.Events().empty());

  SetSetting("Password", kClientPassword);
  monitor.CheckConnection();
  EXPECT_EQ(AuthState, 0);
  EXPECT_EQ(window_.Events(), std::vector<std::string>{"Connection to KIV restored."});
  EXPECT_EQ(window_.Requests(), (std::vector<std::pair<WPARAM, LPARAM>>{{ID_AGENT_SERVER, 0}}));
  EXPECT_EQ(LogCount("Connection to KIV restored."), 1);
}

TEST_F(ConnectionMonitorTest, OfflineLeavesTheCredentialStateAlone) {
  UseAccount();
  AuthState = -2;
  GoOffline();
  AgentConnectionMon monitor(context_);
  monitor.CheckConnection();
  EXPECT_EQ(AuthState, -2);
  EXPECT_TRUE(server_->Calls().empty());
}

// Runs `done` checks while dispatching the window's messages.
bool PumpUntil(PostedMessages& window, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < end) {
    window.Take();
    if (done()) return true;
    window.loop().WaitForInput(20);
  }
  return false;
}

bool Has(const std::vector<Message>& messages, UINT id) {
  for (const Message& m : messages)
    if (m.id == id) return true;
  return false;
}

TEST_F(ConnectionMonitorTest, JobRunsOnItsThreadAndStopsWithinHalfASecond) {
  RecordingMessageBox boxes;
  AgentJobRegistry jobs;
  RegisterServerAgents(jobs);
  ASSERT_TRUE(jobs.HasJob(AGENT_CONNECTIONMON));
  CKivClientAgent agent(
      jobs, &window_.loop(), platform::SystemClock(), [this] { window_.loop().Wake(); }, false);
  agent.PostThreadMessage(WM_AGENT_REQUEST, AGENT_CONNECTIONMON);
  ASSERT_TRUE(agent.Start());
  ASSERT_TRUE(PumpUntil(window_, [&] { return Has(window_.Take(), WM_CONNECTION_STATUS); }));
  EXPECT_EQ(OnlineState, 1);
  EXPECT_EQ(AuthState, -4);  // no credentials

  const auto stop = std::chrono::steady_clock::now();
  agent.PostStop();
  ASSERT_TRUE(PumpUntil(window_, [&] { return agent.Ended(); }));
  EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::milliseconds(1500));
  agent.Join();
  bool done = false;
  for (const Message& m : window_.Take())
    if (m.id == WM_AGENT_DONE && m.wParam == ID_AGENT_CONNECTIONMON && m.lParam == 1) done = true;
  EXPECT_TRUE(done);
  // The first run of the process welcomed the user.
  EXPECT_EQ(boxes.texts.size(), 1u);
}

TEST_F(ConnectionMonitorTest, JobChecksOncePerMinuteOfItsClock) {
  RecordingMessageBox boxes;
  UseAccount();
  AgentJobRegistry jobs;
  RegisterServerAgents(jobs);
  CKivClientAgent agent(
      jobs, &window_.loop(), clock_, [this] { window_.loop().Wake(); }, false);
  agent.PostThreadMessage(WM_AGENT_REQUEST, AGENT_CONNECTIONMON);
  const std::uint64_t start = clock_.TickMs();
  ASSERT_TRUE(agent.Start());
  int statuses = 0;
  ASSERT_TRUE(PumpUntil(window_, [&] {
    statuses = 0;
    for (const Message& m : window_.Take()) statuses += m.id == WM_CONNECTION_STATUS;
    return statuses >= 3;
  }));
  agent.PostStop();
  ASSERT_TRUE(PumpUntil(window_, [&] { return agent.Ended(); }));
  agent.Join();
  // The fake clock only moves in the monitor's waits: 60 s between passes.
  EXPECT_GE(clock_.TickMs() - start, 2u * 60000u);
  EXPECT_EQ((clock_.TickMs() - start) % 500, 0u);
  EXPECT_TRUE(boxes.texts.empty());  // credentials were there
}

}  // namespace
}  // namespace server_test
