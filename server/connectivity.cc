#include "server/connectivity.h"

#include <mutex>

#include "app/kiv_client_agent.h"
#include "app/log.h"
#include "app/login_check.h"
#include "platform/network.h"
#include "server/http_session.h"
#include "server/kiv_protocol.h"
#include "server/server_session.h"

std::atomic<std::int32_t> AuthState{-4};
std::atomic<std::int32_t> OnlineState{-1};

namespace {

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

int CheckAuthentication(int force, MessageLoop* main_window) {
  if (force == 0) return AuthState;
  if (!IsOnline(force, main_window)) return AuthState;
  if (!IsLoginAvailable()) {
    AuthState = -4;
  } else {
    AuthState = ValidateAuthentication(GetUsername(), GetPassword());
  }
  return AuthState;
}

bool IsAuthenticated() { return AuthState == 0 && IsOnline(0); }
