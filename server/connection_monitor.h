// The connection-monitor agent (AGENT_CONNECTIONMON), which runs the first-run
// notice and the credential refresh when it starts, then re-checks the
// connection and the credentials once a minute, tells the user when either
// comes back and starts the waiting agents.
//
// Threads: AgentConnectionMon belongs to its agent thread; only it writes the
// previous-pass values.
#pragma once

#include "app/agent.h"
#include "app/agent_registry.h"
#include "app/message_loop.h"

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
