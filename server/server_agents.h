// The agent jobs of the server subsystem, registered with the agent
// controller's job registry by the program's entry point.
//
// Call before start-up, from the main thread (the registry itself is safe
// from any thread).
#pragma once

#include "app/agent_registry.h"

// Registers the connection monitor (AGENT_CONNECTIONMON), the transmit
// agent (AGENT_SERVER) and the update checker (AGENT_UPDATER), and installs
// the browser login as the first-run notice's finder.
void RegisterServerAgents(AgentJobRegistry& registry);
