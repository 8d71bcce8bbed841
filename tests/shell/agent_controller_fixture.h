// A controller on a fake clock with test jobs, for the controller tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/log.h"
#include "app/reg_settings.h"
#include "shell/kiv_client_dlg.h"
#include "tests/app/agent_test_support.h"
#include "tests/support/temp_env.h"

namespace agent_test {

class ControllerTest : public ::testing::Test {
 protected:
  ControllerTest() : loop_(clock_) {
    AppSettings().SetCompanyName("KIV");
    AppSettings().SetApplicationName("Windows Client");
    log_path_ = env_.Path("kivclient.log");
    AppLog().SetLogFile(log_path_);
    AppLog().SetLogLevel(LEVEL_VERBOSE);
    CKivClientDlg::Options options;
    options.jobs = &jobs_;
    options.clock = &clock_;
    // The idle class is tested on its own; here it would only make the
    // timing depend on what else the machine is doing.
    options.idle_priority = false;
    dlg_ = std::make_unique<CKivClientDlg>(loop_, view_, options);
    loop_.SetHandler([this](Message& m) { dlg_->OnMessage(m); });
  }
  ~ControllerTest() override {
    dlg_->DestroyWindow();
    dlg_.reset();
  }

  void SetCredentials() {
    AppSettings().WriteStringUtf8(kSubKeySettings, "Username", "ann@example.org");
    AppSettings().WriteStringUtf8(kSubKeySettings, "Password", "secret");
  }
  void Post(UINT id, WPARAM w = 0, LPARAM l = 0) { loop_.PostMessage(id, w, l); }
  void Request(UINT kind, LPARAM delay = 0) {
    loop_.PostMessage(WM_AGENT_REQUEST, AgentCommandId(kind), delay);
  }
  // Dispatches until nothing is waiting (timers that are due included).
  void Drain() {
    while (loop_.ProcessPending() > 0) {
    }
  }
  void Advance(std::uint64_t ms) {
    clock_.Advance(ms);
    Drain();
  }
  ::testing::AssertionResult UntilStarted(UINT kind, int runs) {
    if (PumpUntil(loop_, [&] { return board_.Get(kind).started >= runs; }))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << AgentName(kind) << " started " << board_.Get(kind).started << " times, not " << runs;
  }
  ::testing::AssertionResult UntilStopped(UINT kind) {
    if (PumpUntil(loop_, [&] { return !dlg_->IsAgentRunning(kind); }))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << AgentName(kind) << " still runs";
  }
  std::string LogText() const { return testing_support::ReadFile(log_path_); }

  testing_support::TempEnv env_;
  std::string log_path_;
  platform::FakeClock clock_;
  MessageLoop loop_;
  RecordingView view_;
  JobBoard board_;
  AgentJobRegistry jobs_;
  std::unique_ptr<CKivClientDlg> dlg_;
};

}  // namespace agent_test
