#include "app/agent_registry.h"

#include <utility>

const char* AgentName(UINT kind) {
  static const char* const kNames[kAgentKindCount] = {"Indexer",   "ITunes",    "MusicID",
                                                      "Server",    "PlayMon",   "ConnectionMon",
                                                      "FolderMon", "Playlists", "Updater"};
  return IsAgentKind(kind) ? kNames[AgentIndex(kind)] : "Unknown";
}

BOOL AgentContext::PostToMainWindow(UINT id, WPARAM wParam, LPARAM lParam,
                                    std::string payload) const {
  if (!main_window) return FALSE;
  main_window->PostMessage(id, wParam, lParam, std::move(payload));
  return TRUE;
}

BOOL AgentContext::PostAllToMainWindow(std::vector<Message> messages) const {
  if (!main_window) return FALSE;
  main_window->PostMessages(std::move(messages));
  return TRUE;
}

BOOL AgentJobRegistry::Register(UINT kind, AgentJobFactory factory) {
  if (!IsAgentKind(kind) || kind == AGENT_PLAYLISTS || !factory) return FALSE;
  std::lock_guard<std::mutex> lock(mutex_);
  factories_[AgentIndex(kind)] = std::move(factory);
  return TRUE;
}

void AgentJobRegistry::Unregister(UINT kind) {
  if (!IsAgentKind(kind)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  factories_[AgentIndex(kind)] = nullptr;
}

bool AgentJobRegistry::HasJob(UINT kind) const {
  if (!IsAgentKind(kind)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<bool>(factories_[AgentIndex(kind)]);
}

BOOL AgentJobRegistry::Create(const AgentContext& context, std::unique_ptr<CAgent>* job) const {
  job->reset();
  if (!IsAgentKind(context.kind)) return FALSE;
  AgentJobFactory factory;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    factory = factories_[AgentIndex(context.kind)];
  }
  if (!factory) return FALSE;
  *job = factory(context);
  return TRUE;
}

AgentJobRegistry& AgentJobs() {
  static AgentJobRegistry registry;
  return registry;
}
