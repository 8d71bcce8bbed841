#include "server/server_agents.h"

#include <memory>

#include "server/agent_transmit.h"
#include "server/agent_updater.h"
#include "server/browser_login.h"
#include "server/connection_monitor.h"

void RegisterServerAgents(AgentJobRegistry& registry) {
  registry.Register(AGENT_CONNECTIONMON, [](const AgentContext& context) {
    return std::unique_ptr<CAgent>(new AgentConnectionMon(context));
  });
  RegisterTransmitAgent(registry);
  RegisterUpdaterAgent(registry);
  InstallBrowserLogin();
}
