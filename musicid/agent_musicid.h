// AgentMusicID: the agent job of AGENT_MUSICID. One run walks the whole
// database, picks the records that have never been through
// identification, marks the ones that must not be identified (protected
// m4p files are given an identified time; spoken-word genres are marked
// never to report), queues up to 1000 files with the identification
// wrapper, runs one library identification over them, and then asks the
// controller for the transmit agent or for another run of its own.
//
// With the UseMusicID setting 0 (its default) it only asks for the
// transmit agent. When identification cannot run it says why in the log
// and on the status page. A lasting reason (no client key, a key the
// service refuses, the component missing) lets the transmit agent send the
// tracks unidentified at once; a passing one (the service unreachable,
// failing or busy) keeps them held and asks for another run after a
// growing delay, until the failures have lasted a day
// (app/identification_state.h).
//
// Thread safety: a job runs on its agent thread only.
#pragma once

#include <cstdint>
#include <functional>

#include "app/agent.h"
#include "app/agent_registry.h"
#include "app/reg_settings.h"

// The status page's activity number of identification.
inline constexpr WPARAM kJobMusicId = 4;
// The most files one run queues.
inline constexpr int kMusicIdMaxQueued = 1000;

struct AgentMusicIDOptions {
  // Settings store (not owned); the program's by default.
  CRegSettings* settings = &AppSettings();
  // Whether the service can be reached; a connected network interface by
  // default (the program installs the connection monitor's test).
  std::function<bool()> is_online;
  // The folder the component is told about (empty: the program folder).
  std::string component_folder;
};

// What one run did, for its log line and for tests.
struct MusicIdRunCounts {
  int queued = 0;
  int updated = 0;
  int candidates = 0;
  int deferred = 0;
};

class AgentMusicID : public CAgent {
 public:
  explicit AgentMusicID(const AgentContext& context, AgentMusicIDOptions options = {});

  // Returns 1 in every case.
  int Run() override;
  const MusicIdRunCounts& counts() const { return counts_; }

 private:
  // Identifies what was queued and tears the wrapper down; false when
  // identification could not run.
  bool IdentifyQueued(class KivDB& db);
  // Says why identification cannot run and lets the tracks go unidentified.
  void ReportUnavailable(const std::string& reason);
  // A passing failure: says so and asks for the next attempt; the tracks
  // stay held until the failures have lasted a day.
  void ScheduleRetry(const std::string& reason, std::int64_t retry_after);
  // An attempt ran: tracks wait for identification again.
  void NoteRan();

  AgentContext context_;
  AgentMusicIDOptions options_;
  MusicIdRunCounts counts_;
};

// Registers the MusicID job for AGENT_MUSICID.
void RegisterMusicIdAgent(AgentJobRegistry& jobs, AgentMusicIDOptions options = {});
