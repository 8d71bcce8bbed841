// vornic: the desktop client of the KIV music-taste service.
#include <string>
#include <vector>

#include "app/agent_registry.h"
#include "app/kiv_client_app.h"
#include "musicid/agent_musicid.h"
#include "scan/agent_itunes.h"
#include "server/server_agents.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  RegisterServerAgents(AgentJobs());
  RegisterITunesAgent(AgentJobs());
  RegisterMusicIdAgent(AgentJobs());
  CKivClientApp app(std::move(args));
  return app.Main();
}
