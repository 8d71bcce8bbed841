#include "server/connection_monitor.h"

#include <atomic>
#include <mutex>

#include "app/agent_kinds.h"
#include "app/log.h"
#include "app/string_table.h"
#include "server/connectivity.h"
#include "server/first_run.h"
#include "server/http_session.h"
#include "server/server_session.h"

namespace {

// The monitor's results of its previous pass: -1 unknown.
std::atomic<std::int32_t> g_prev_online{-1};
std::atomic<std::int32_t> g_prev_auth_ok{-1};
// Set until the monitor's first run in the process has begun.
std::atomic<bool> g_first_run{true};

}  // namespace

void ResetServerState() {
  std::lock_guard<std::recursive_mutex> lock(ServerCallLock);
  AuthState = -4;
  OnlineState = -1;
  g_prev_online = -1;
  g_prev_auth_ok = -1;
  g_first_run = true;
  ClearPendingCredentials();
}

AgentConnectionMon::AgentConnectionMon(const AgentContext& context) : context_(context) {}

int AgentConnectionMon::Run() {
  if (g_first_run.exchange(false)) FirstRunNotice(context_);
  CredentialRefresh(context_);
  if (CheckQuit()) return 1;
  CheckConnection();
  for (;;) {
    context_.PostToMainWindow(WM_CONNECTION_STATUS);
    for (int i = 0; i < kWaitSteps; ++i) {
      context_.clock->SleepMs(kWaitStepMs);
      if (CheckQuit()) return 1;
    }
    CheckConnection();
  }
}

void AgentConnectionMon::CheckConnection() {
  CServerSession session(context_.main_window);
  bool connection_restored = false;
  bool login_restored = false;

  const int online = IsOnline(1, context_.main_window);
  const int prev_online = g_prev_online;
  if (prev_online != -1 && prev_online != online && online == 1) {
    const char* text = LoadStringResource(IDS_ONLINE_RESTORED);
    context_.PostToMainWindow(WM_STATUS_EVENT, static_cast<WPARAM>(-1), 0, text);
    AppLog().Log(text, LEVEL_WARNING, MODULE_CONNECTION);
    connection_restored = true;
  }
  g_prev_online = online;
  if (CheckQuit() || online == 0) return;

  if (AuthState == 0 && !connection_restored) {
    g_prev_auth_ok = 1;
    return;
  }
  const int ok = CheckAuthentication(1, context_.main_window) == 0 ? 1 : 0;
  const int prev_auth_ok = g_prev_auth_ok;
  if (prev_auth_ok != -1 && prev_auth_ok != ok && ok) {
    const char* text = LoadStringResource(IDS_CONNECTION_RESTORED);
    context_.PostToMainWindow(WM_STATUS_EVENT, static_cast<WPARAM>(-1), 0, text);
    AppLog().Log(text, LEVEL_WARNING, MODULE_CONNECTION);
    login_restored = true;
  }
  g_prev_auth_ok = ok;

  if (connection_restored)
    context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_MUSICID, 0);
  else if (login_restored)
    context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_SERVER, 0);
}
