// AgentMusicID: the agent job of AGENT_MUSICID, which identifies the
// records that have never been through identification and then hands over
// to the transmit agent. With the UseMusicID setting 0 (its default) it
// only logs that identification is off and asks the controller to start
// the transmit agent at once. The identification run itself joins with the
// identification component; until then a run with UseMusicID set logs its
// start and ends (the controller chains the transmit agent on completion).
//
// Thread safety: a job runs on its agent thread only.
#pragma once

#include "app/agent.h"
#include "app/agent_registry.h"
#include "app/reg_settings.h"

// The status page's activity number of identification.
inline constexpr WPARAM kJobMusicId = 4;

struct AgentMusicIDOptions {
  // Settings store (not owned); the program's by default.
  CRegSettings* settings = &AppSettings();
};

class AgentMusicID : public CAgent {
 public:
  explicit AgentMusicID(const AgentContext& context, AgentMusicIDOptions options = {});

  // Returns 1 in every case.
  int Run() override;

 private:
  AgentContext context_;
  AgentMusicIDOptions options_;
};

// Registers the MusicID job for AGENT_MUSICID.
void RegisterMusicIdAgent(AgentJobRegistry& jobs, AgentMusicIDOptions options = {});
