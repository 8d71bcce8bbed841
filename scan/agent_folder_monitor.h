// AgentFolderMonitor: the long-running agent job that watches the enabled
// chosen music folders, subfolders included, and asks the controller to run
// the indexer once changes have settled: a request goes out only after ten
// seconds without a further change, so copying an album yields one request.
// While an index run cannot start (offline, or the indexer, iTunes import or
// transmit agent running) the request is put off by another ten seconds,
// again and again. The set of chosen folders is fixed for the run; a stop is
// noticed within about a second.
//
// The request carries the folders that changed (an IndexScope payload), so
// the indexer looks at those alone. When the list of changes cannot be
// trusted the request asks for the whole collection, and the monitor first
// clears "IndexComplete": an indexer told to run while that mark is set
// would do nothing. Either way it clears "iTunesComplete", as the play
// monitor does for a file it adds. The program's own files (its log and
// database) inside a chosen folder are no change.
//
// Thread safety: a job runs on its agent thread only and talks to the rest
// of the program only by posting to the main window.
#pragma once

#include <cstdint>
#include <functional>

#include "app/agent.h"
#include "app/agent_registry.h"
#include "app/reg_settings.h"

class FolderTreeWatch;

// Quiet time after the last change before the indexer is requested, and the
// pause after each notification (lets a burst of changes land first).
inline constexpr std::uint64_t kFolderMonitorSettleMs = 10000;
inline constexpr std::uint32_t kFolderMonitorAfterChangeMs = 500;
// Longest wait for notifications between two stop checks.
inline constexpr int kFolderMonitorWaitMs = 500;

struct AgentFolderMonitorOptions {
  // Whether the client is online (the program wires the server session's
  // IsOnline here, keeping scan free of a dependency on server). Called on
  // the agent thread, so it must be thread-safe. Empty: always online.
  std::function<bool()> is_online;
  // Real-time bound of one wait for notifications (tests shorten it).
  int wait_ms = kFolderMonitorWaitMs;
  // Settings store (not owned); the program's by default.
  CRegSettings* settings = &AppSettings();
};

class AgentFolderMonitor : public CAgent {
 public:
  explicit AgentFolderMonitor(const AgentContext& context, AgentFolderMonitorOptions options = {});
  ~AgentFolderMonitor() override;

  // Watches until stopped; returns 1. Returns at once when no chosen
  // folder exists, none is enabled, or none could be watched.
  int Run() override;

 private:
  // Posts the index request for what `watch` gathered, or puts it off when
  // no run can start now. Returns the new "pending since" tick (0 = nothing
  // pending).
  std::uint64_t Answer(std::uint64_t now, FolderTreeWatch& watch);

  AgentContext context_;
  AgentFolderMonitorOptions options_;
};

// Whether the controller can start an index run now as far as its agents
// go: none of the indexer, iTunes import and transmit agents runs. Any
// thread.
bool NoIndexBlockingAgentRuns();

// Registers the folder monitor job for AGENT_FOLDERMON.
void RegisterFolderMonitorAgent(AgentJobRegistry& jobs, AgentFolderMonitorOptions options = {});
