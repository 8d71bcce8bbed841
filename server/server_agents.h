// The agent jobs of the server subsystem, registered with the agent
// controller's job registry by the program's entry point.
//
// Call before start-up, from the main thread (the registry itself is safe
// from any thread).
#pragma once

#include "app/agent_registry.h"

// Registers the connection monitor (AGENT_CONNECTIONMON) and the transmit
// agent (AGENT_SERVER).
void RegisterServerAgents(AgentJobRegistry& registry);
