// Whether the client can reach the KIV server: IsOnline, a check any thread
// may call whose answer is cached for the whole process, and the
// connection-monitor agent (AGENT_CONNECTIONMON), which runs the first-run
// notice and the credential refresh when it starts, then re-checks the
// connection and the credentials once a minute, tells the user when either
// comes back and starts the waiting agents.
//
// Threads: IsOnline from any thread (forced checks take ServerCallLock).
// AgentConnectionMon belongs to its agent thread; only it writes the
// previous-pass values.
#pragma once

#include "app/agent.h"
#include "app/agent_registry.h"
#include "app/message_loop.h"

// The time limit of the TCP probe of the server.
inline constexpr int kServerProbeTimeoutMs = 10000;

// 1 online, 0 offline. With `force` 0 and a known OnlineState, the cached
// value without touching the network or the lock. Otherwise, under
// ServerCallLock: offline when no network interface is connected (unless
// the server is on this machine) or the server's host and port do not
// accept a TCP connection, each logged. A change from a known online state
// to offline posts "Connection to KIV not available." to `main_window`
// (when given) as a connection event.
int IsOnline(int force, MessageLoop* main_window = nullptr);

// Back to the values of a fresh process: AuthState -4, OnlineState and the
// monitor's previous-pass values unknown, the first-run notice pending, no
// pending credentials. For tests.
void ResetServerState();

class AgentConnectionMon : public CAgent {
 public:
  // One minute between two checks, as 120 waits of 500 ms.
  static constexpr int kWaitSteps = 120;
  static constexpr int kWaitStepMs = 500;

  explicit AgentConnectionMon(const AgentContext& context);

  // The first-run notice (first run in the process only) and the credential
  // refresh, then one check per minute until a stop is requested; returns
  // 1 then.
  int Run() override;

  // One monitoring pass: logs the server URL's parts, checks the connection
  // and, when it is there and was restored or the credentials were not
  // accepted before, the credentials. Posts "Online connection restored."
  // (and requests the MusicID agent) or "Connection to KIV restored." (and
  // requests the transmit agent) on a transition from a known failure.
  void CheckConnection();

 private:
  AgentContext context_;
};
