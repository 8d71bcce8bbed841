#include "server/connection_monitor.h"

#include <atomic>
#include <mutex>

#include "app/agent_kinds.h"
#include "app/kiv_client_agent.h"
#include "app/log.h"
#include "app/string_table.h"
#include "platform/network.h"
#include "server/first_run.h"
#include "server/http_session.h"
#include "server/server_session.h"

namespace {

// The monitor's results of its previous pass: -1 unknown.
std::atomic<std::int32_t> g_prev_online{-1};
std::atomic<std::int32_t> g_prev_auth_ok{-1};
// Set until the monitor's first run in the process has begun.
std::atomic<bool> g_first_run{true};

void LogWarning(const char* text) { AppLog().Log(text, LEVEL_WARNING, MODULE_CLIENT_SERVER); }

// The connectivity test itself; the caller holds ServerCallLock.
int ProbeServer() {
  UrlParts parts;
  if (SplitUrl(GetServerUrl(), &parts) != 0) {
    LogWarning("Could not ping server");
    return 0;
  }
  // A server on this machine needs no network, so the interface test only
  // applies to other hosts.
  if (!platform::IsLoopbackHost(parts.host) && !platform::HasConnectedInterface()) {
    LogWarning("No internet connection could be found while checking state");
    return 0;
  }
  // An agent told to stop gives the probe up, so a silent server does not
  // hold up shutdown.
  if (!platform::ProbeTcpConnect(parts.host, parts.port, kServerProbeTimeoutMs, nullptr,
                                 [] { return CKivClientAgent::CurrentStopRequested(); })) {
    LogWarning("Could not ping server");
    return 0;
  }
  return 1;
}

}  // namespace

int IsOnline(int force, MessageLoop* main_window) {
  if (force == 0) {
    const int known = OnlineState;
    if (known != -1) return known;
  }
  std::lock_guard<std::recursive_mutex> lock(ServerCallLock);
  const int result = ProbeServer();
  const int previous = OnlineState;
  if (previous != -1 && previous != result && result == 0 && main_window)
    main_window->PostMessage(WM_STATUS_EVENT, static_cast<WPARAM>(-1), 0,
                             "Connection to KIV not available.");
  OnlineState = result;
  return result;
}

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
  if (g_first_run.exchange(false)) FirstRunNotice();
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
