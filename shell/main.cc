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
#include "server/curl_transfer.h"
#include "server/server_agents.h"
#include "shell/headless_main_window.h"
#include "shell/kiv_client_app.h"
#include "ui/qt_session.h"

int main(int argc, char** argv) {
  // Before any thread: every transfer's buffers are wiped when freed.
  kiv_http::GlobalInit();
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

  // The window and the tray when there is a display; otherwise the
  // controller and the agents run headless. The session exists before the
  // application object, so start-up's message boxes are shown too, and
  // ends after it.
  const CommandLineOptions options = ParseCommandLine(args);
  std::unique_ptr<QtSession> session;
  if (!options.headless && !options.help && !options.version && QtSession::DisplayAvailable())
    session = std::make_unique<QtSession>(argc, argv);
  auto make_view = [&session](MessageLoop& loop,
                              const CommandLineOptions&) -> std::unique_ptr<MainWindowView> {
    if (session) return session->MakeMainWindow(loop);
    return std::make_unique<HeadlessMainWindow>();
  };
  CKivClientApp app(std::move(args), make_view);
  return app.Main();
}
