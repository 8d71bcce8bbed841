// AgentJobRegistry: which job each agent kind runs. The agent thread asks it
// for a new job object when its launch request arrives; a kind without a
// factory has no job, and its thread just waits in its loop until it is
// stopped.
//
// Each subsystem that provides a job registers its factory from its own
// folder (for example a RegisterScanAgents(AgentJobRegistry&) called by
// the program's entry point before start-up), so the application core
// never depends on the folders that hold the jobs. Tests use a registry of
// their own.
//
// Thread safety: any thread may register, look up and create; a factory
// runs on the agent thread that creates the job, outside the registry's
// lock.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/agent.h"
#include "app/agent_kinds.h"
#include "app/message_loop.h"
#include "platform/clock.h"

// What a job gets to know about its surroundings when it is created.
struct AgentContext {
  UINT kind = 0;
  // The main window's loop (the agent controller), not owned; null when no
  // main window exists. Jobs post requests and status messages there.
  MessageLoop* main_window = nullptr;
  // The clock for the job's waits and times (a FakeClock in tests).
  platform::Clock* clock = &platform::SystemClock();
  // What the launch request asked of the job; empty for the kind's usual
  // run (the indexer reads an IndexScope payload here).
  std::string request;

  // Posts to the main window; FALSE when there is none.
  BOOL PostToMainWindow(UINT id, WPARAM wParam = 0, LPARAM lParam = 0,
                        std::string payload = {}) const;
  // Posts `messages` in their order with one post; FALSE when there is no
  // main window.
  BOOL PostAllToMainWindow(std::vector<Message> messages) const;
};

// Returns the new job, or null when it cannot be created (the agent then
// reports done with result 1).
using AgentJobFactory = std::function<std::unique_ptr<CAgent>(const AgentContext&)>;

class AgentJobRegistry {
 public:
  AgentJobRegistry() = default;
  AgentJobRegistry(const AgentJobRegistry&) = delete;
  AgentJobRegistry& operator=(const AgentJobRegistry&) = delete;

  // Replaces the kind's earlier factory. FALSE for a kind that is not an
  // agent kind and for AGENT_PLAYLISTS, which has no job by design.
  BOOL Register(UINT kind, AgentJobFactory factory);
  void Unregister(UINT kind);
  bool HasJob(UINT kind) const;

  // FALSE when the kind has no job. Otherwise TRUE, and `job` holds the new
  // job or null when the factory could not create one.
  BOOL Create(const AgentContext& context, std::unique_ptr<CAgent>* job) const;

 private:
  mutable std::mutex mutex_;
  std::array<AgentJobFactory, kAgentKindCount> factories_;
};

// The program's registry.
AgentJobRegistry& AgentJobs();
