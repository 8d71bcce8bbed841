// vornic: the desktop client of the KIV music-taste service.
#include <memory>
#include <string>
#include <vector>

#include "app/agent_registry.h"
#include "musicid/agent_musicid.h"
#include "playmon/agent_play_monitor.h"
#include "scan/agent_folder_monitor.h"
#include "scan/agent_indexer.h"
#include "scan/agent_itunes.h"
#include "server/connectivity.h"
#include "server/server_agents.h"
#include "shell/headless_main_window.h"
#include "shell/kiv_client_app.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  RegisterServerAgents(AgentJobs());
  RegisterITunesAgent(AgentJobs());
  RegisterIndexerAgent(AgentJobs());
  AgentFolderMonitorOptions folder_monitor;
  folder_monitor.is_online = [] { return IsOnline(0) > 0; };
  RegisterFolderMonitorAgent(AgentJobs(), folder_monitor);
  AgentMusicIDOptions music_id;
  music_id.is_online = [] { return IsOnline(0) > 0; };
  RegisterMusicIdAgent(AgentJobs(), music_id);
  RegisterPlayMonitorAgent(AgentJobs());
  // No display yet: the headless window stands in for the visible one.
  auto make_view = [](MessageLoop&, const CommandLineOptions&) -> std::unique_ptr<MainWindowView> {
    return std::make_unique<HeadlessMainWindow>();
  };
  CKivClientApp app(std::move(args), make_view);
  return app.Main();
}
