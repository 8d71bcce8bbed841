#include "musicid/agent_musicid.h"

#include <memory>

#include "app/log.h"

namespace {

constexpr const char* kUseMusicIdValue = "UseMusicID";

}  // namespace

AgentMusicID::AgentMusicID(const AgentContext& context, AgentMusicIDOptions options)
    : context_(context), options_(options) {
  if (!options_.settings) options_.settings = &AppSettings();
}

int AgentMusicID::Run() {
  DWORD use_music_id = 0;
  options_.settings->ReadDword(kSubKeySettings, kUseMusicIdValue, use_music_id);
  if (use_music_id == 0) {
    AppLog().Log("AgentMusicID: Not using MusicID. Cancelling identification.", LEVEL_INFO,
                 MODULE_GRACENOTE);
    context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_SERVER, 0);
    return 1;
  }
  AppLog().Log("AgentMusicID: Starting identification", LEVEL_INFO, MODULE_GRACENOTE);
  return 1;
}

void RegisterMusicIdAgent(AgentJobRegistry& jobs, AgentMusicIDOptions options) {
  jobs.Register(AGENT_MUSICID, [options](const AgentContext& context) -> std::unique_ptr<CAgent> {
    return std::make_unique<AgentMusicID>(context, options);
  });
}
