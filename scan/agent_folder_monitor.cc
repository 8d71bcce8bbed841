#include "scan/agent_folder_monitor.h"

#include <memory>
#include <string>
#include <vector>

#include "app/controller_state.h"
#include "app/format.h"
#include "app/index_scope.h"
#include "app/log.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "platform/dir_walk.h"
#include "platform/file_io.h"
#include "scan/agent_indexer.h"
#include "scan/collection_rules.h"
#include "scan/folder_tree_watch.h"

namespace {

constexpr const char* kITunesCompleteValue = "iTunesComplete";

void LogMonitor(const std::string& text, DWORD level) {
  AppLog().Log(text, level, MODULE_FOLDER_MON);
}

}  // namespace

AgentFolderMonitor::AgentFolderMonitor(const AgentContext& context,
                                       AgentFolderMonitorOptions options)
    : context_(context), options_(std::move(options)) {}

AgentFolderMonitor::~AgentFolderMonitor() = default;

int AgentFolderMonitor::Run() {
  SearchPathMap map;
  LoadSearchPaths(map, *options_.settings);
  // A folder on a mount that hangs is left out: watching it would hang the
  // monitor where no stop request reaches it.
  std::erase_if(map, [](const auto& entry) {
    FolderProbe probe = ProbeFolder(entry.first);
    if (!probe.answered)
      LogMonitor(StrFormat("FolderMonitor: %s is not answering, not watched", entry.first.c_str()),
                 LEVEL_WARNING);
    return !probe.is_directory;
  });
  if (map.empty()) return 1;

  FolderTreeWatch watch(map);
  if (!watch.ok()) {
    LogMonitor("FolderMonitor: unable to create a change notification instance", LEVEL_ERROR);
    return 1;
  }
  for (const auto& [folder, enabled] : map)
    if (enabled != 0) watch.AddTree(folder);
  if (watch.watched() == 0) return 1;
  const std::string log_file = AppLog().LogFile();
  std::vector<std::string> own_files = {KivDB::DatabasePath()};
  if (!log_file.empty()) {
    own_files.push_back(log_file);
    own_files.push_back(log_file + ".old");
  }
  watch.IgnoreFiles(own_files);
  LogMonitor(StrFormat("FolderMonitor: watching %zu folders", watch.watched()), LEVEL_INFO);

  platform::Clock& clock = *context_.clock;
  std::uint64_t pending_since = 0;
  for (;;) {
    const bool changed = watch.Wait(options_.wait_ms);
    if (CheckQuit()) break;
    if (changed) {
      clock.SleepMs(kFolderMonitorAfterChangeMs);
      pending_since = clock.TickMs();
    }
    if (pending_since != 0 && clock.TickMs() - pending_since > kFolderMonitorSettleMs)
      pending_since = Answer(clock.TickMs(), watch);
  }
  return 1;
}

std::uint64_t AgentFolderMonitor::Answer(std::uint64_t now, FolderTreeWatch& watch) {
  if (!context_.main_window) {
    watch.TakeChanges();  // nobody to ask: the change is dropped
    return 0;
  }
  const bool online = !options_.is_online || options_.is_online();
  if (!online || !NoIndexBlockingAgentRuns()) return now;
  const IndexScope scope = watch.TakeChanges();
  if (scope.empty()) return 0;  // only folders outside the collection changed
  if (scope.whole()) {
    options_.settings->WriteDword(kSubKeySettings, kIndexCompleteValue, 0);
    LogMonitor("FolderMonitor: music folders changed, requesting the indexer", LEVEL_INFO);
  } else {
    LogMonitor(
        StrFormat("FolderMonitor: %zu music folders changed, requesting the indexer for them",
                  scope.folders().size()),
        LEVEL_INFO);
  }
  options_.settings->WriteDword(kSubKeySettings, kITunesCompleteValue, 0);
  context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_INDEXER, 0, scope.ToPayload());
  return 0;
}

bool NoIndexBlockingAgentRuns() {
  return !IsAgentKindRunning(AGENT_INDEXER) && !IsAgentKindRunning(AGENT_ITUNES) &&
         !IsAgentKindRunning(AGENT_SERVER);
}

void RegisterFolderMonitorAgent(AgentJobRegistry& jobs, AgentFolderMonitorOptions options) {
  jobs.Register(AGENT_FOLDERMON, [options](const AgentContext& context) -> std::unique_ptr<CAgent> {
    return std::make_unique<AgentFolderMonitor>(context, options);
  });
}
