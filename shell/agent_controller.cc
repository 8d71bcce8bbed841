// The agent-controlling half of CKivClientDlg: requests, launches, done
// messages, stopping threads and enabling or disabling the agents.
#include <algorithm>
#include <limits>

#include "app/controller_state.h"
#include "app/format.h"
#include "app/log.h"
#include "app/login_check.h"
#include "app/string_table.h"
#include "shell/kiv_client_dlg.h"

namespace {

// Kinds whose running instance is asked to stop when they are requested
// again (the others are left to finish their pass).
bool StopsWhenRequestedAgain(UINT kind) {
  return kind == AGENT_MUSICID || kind == AGENT_SERVER || kind == AGENT_CONNECTIONMON ||
         kind == AGENT_FOLDERMON || kind == AGENT_PLAYLISTS;
}

// The agent a completed pass chains to; 0 for none.
UINT ChainedAgent(UINT kind) {
  switch (kind) {
    case AGENT_INDEXER:
      return AGENT_ITUNES;
    case AGENT_ITUNES:
      return AGENT_MUSICID;
    case AGENT_MUSICID:
      return AGENT_SERVER;
    default:
      return 0;
  }
}

// The order in which KillAllAgents stops the agents; the updater last.
constexpr UINT kStopOrder[] = {AGENT_INDEXER, AGENT_FOLDERMON, AGENT_ITUNES,  AGENT_PLAYLISTS,
                               AGENT_SERVER,  AGENT_MUSICID,   AGENT_PLAYMON, AGENT_CONNECTIONMON};

constexpr std::uint32_t kUpdaterPeriodMs = 3600000;

}  // namespace

BOOL CKivClientDlg::OnAgentRequest(WPARAM id, LPARAM delay, const std::string& payload) {
  if (!IsAgentCommandId(id)) return FALSE;
  if (id == ID_AGENT_INDEXER) index_scope_.Merge(IndexScope::FromPayload(payload));
  // A pending delayed request is replaced by this one.
  loop_.KillTimer(id);
  if (delay >= 1) {
    const LPARAM max_ms = std::numeric_limits<std::uint32_t>::max();
    loop_.SetTimer(id, static_cast<std::uint32_t>(std::min(delay, max_ms)));
    return TRUE;
  }
  const UINT kind = AgentKindOfCommand(id);
  const std::size_t i = AgentIndex(kind);
  if (stopping_all_ > 0 || shutting_down_) return TRUE;
  if (disabled_ && kind != AGENT_CONNECTIONMON) return TRUE;
  if (kind == AGENT_UPDATER && threads_[i]) return TRUE;
  if (threads_[i]) {
    relaunch_pending_[i] = true;
    if (StopsWhenRequestedAgain(kind)) threads_[i]->PostStop();
    return TRUE;
  }
  if (!LaunchAgent(kind))
    LogApp(StrFormat("Failed to launch %s agent", AgentName(kind)), LEVEL_ERROR);
  return TRUE;
}

BOOL CKivClientDlg::LaunchAgent(UINT kind) {
  if (!IsAgentKind(kind)) return FALSE;
  std::unique_ptr<CKivClientAgent>& slot = threads_[AgentIndex(kind)];
  // Never drop a thread that still runs: it would be neither stopped nor
  // joined.
  if (slot) return FALSE;
  auto agent = std::make_unique<CKivClientAgent>(
      *options_.jobs, &loop_, *options_.clock, [this] { loop_.Wake(); }, options_.idle_priority);
  // An indexer launch that nothing asked a scope of (empty payload) runs
  // over the whole collection.
  agent->PostThreadMessage(WM_AGENT_REQUEST, kind, 0,
                           kind == AGENT_INDEXER ? index_scope_.ToPayload() : std::string());
  if (!agent->Start()) return FALSE;
  if (kind == AGENT_INDEXER) index_scope_ = IndexScope();
  slot = std::move(agent);
  SetAgentKindRunning(kind, true);
  return TRUE;
}

BOOL CKivClientDlg::OnAgentDone(WPARAM id, LPARAM result) {
  if (shutting_down_) return TRUE;
  if (id == ID_NOTIFY_ITUNES_RUNNING) {
    const bool running = result != 0;
    if (running != ITunesRunning()) {
      SetITunesRunning(running);
      if (!running) relaunch_pending_[AgentIndex(AGENT_ITUNES)] = false;
    }
    return TRUE;
  }
  if (id == ID_NOTIFY_NEW_VERSION) {
    view_.ShowBalloon(LoadStringResource(IDS_NEW_VERSION), true);
    return TRUE;
  }
  if (!IsAgentCommandId(id)) return FALSE;
  const UINT kind = AgentKindOfCommand(id);
  const std::size_t i = AgentIndex(kind);
  if (kind == AGENT_PLAYLISTS) return TRUE;
  KillThread(kind);
  if (kind == AGENT_UPDATER) {
    Request(AGENT_UPDATER, kUpdaterPeriodMs);
    return TRUE;
  }
  if (relaunch_pending_[i]) {
    relaunch_pending_[i] = false;
    if (result != 0) Request(kind, 0, std::string(kIndexScopeAsMerged));
  } else if (UINT next = ChainedAgent(kind)) {
    Request(next, 0);
  }
  return TRUE;
}

void CKivClientDlg::KillThread(UINT kind) {
  if (!IsAgentKind(kind)) return;
  const std::size_t i = AgentIndex(kind);
  if (!threads_[i] || being_stopped_[i]) return;
  being_stopped_[i] = true;
  CKivClientAgent* agent = threads_[i].get();
  const DWORD thread_id = agent->thread_id();
  if (!agent->Ended()) {
    LogApp(StrFormat("KillThread(threadID=%u): waiting for thread to die", thread_id), LEVEL_INFO);
    agent->PostStop();
    for (;;) {
      if (loop_.QuitRequested()) {
        // The main loop is ending: nothing more is dispatched, so just
        // wait for the thread.
        agent->Join();
        break;
      }
      loop_.ProcessPending();
      if (agent->Ended()) break;
      if (loop_.QuitRequested()) continue;
      loop_.WaitForInput(-1);
      if (agent->Ended()) break;
      agent->PostStop();
    }
  }
  agent->Join();
  LogApp(StrFormat("KillThread(threadID=%u): thread ended", thread_id), LEVEL_INFO);
  threads_[i].reset();
  SetAgentKindRunning(kind, false);
  being_stopped_[i] = false;
}

void CKivClientDlg::KillAllAgents(BOOL include_updater) {
  ++stopping_all_;
  for (UINT kind : kStopOrder) relaunch_pending_[AgentIndex(kind)] = false;
  for (std::size_t i = 0; i < kAgentKindCount; ++i) loop_.KillTimer(ID_AGENT_INDEXER + i);
  // Every agent is told at once, so they wind down together and shutdown
  // takes about as long as the slowest one, not the sum of them all.
  for (UINT kind : kStopOrder)
    if (threads_[AgentIndex(kind)]) threads_[AgentIndex(kind)]->PostStop();
  if (include_updater && threads_[AgentIndex(AGENT_UPDATER)])
    threads_[AgentIndex(AGENT_UPDATER)]->PostStop();
  for (UINT kind : kStopOrder) KillThread(kind);
  if (include_updater) KillThread(AGENT_UPDATER);
  --stopping_all_;
}

void CKivClientDlg::SetAgentsEnabled(BOOL enable, UINT status_id) {
  disabled_ = !enable;
  UINT button_text;
  if (enable) {
    if (IsLoginAvailable()) {
      Request(AGENT_PLAYMON, 2000);
      Request(AGENT_INDEXER, 5000);
      Request(AGENT_FOLDERMON, 5000);
    }
    Request(AGENT_CONNECTIONMON, 2000);
    Request(AGENT_UPDATER, kUpdaterPeriodMs);
    button_text = IDS_BUTTON_DISABLE;
  } else {
    KillAllAgents(FALSE);
    view_.SetTrayTooltip(LoadStringResource(IDS_CURRENTLY_DISABLED));
    button_text = IDS_BUTTON_ENABLE;
  }
  view_.SetAgentsButtonText(LoadStringResource(button_text));
  PostStatusText(status_id);
}

void CKivClientDlg::OnPowerBroadcast(WPARAM event) {
  switch (event) {
    case PBT_APMQUERYSUSPEND:
    case PBT_APMSUSPEND:
      if (!disabled_) SetAgentsEnabled(FALSE, IDS_DISABLED_FOR_SLEEP);
      break;
    case PBT_APMQUERYSUSPENDFAILED:
    case PBT_APMRESUMECRITICAL:
    case PBT_APMRESUMESUSPEND:
    case PBT_APMRESUMEAUTOMATIC:
      if (disabled_) SetAgentsEnabled(TRUE, IDS_ENABLED_AFTER_RESUME);
      break;
    default:
      break;
  }
}

void CKivClientDlg::Request(UINT kind, std::uint32_t delay_ms, std::string payload) {
  loop_.PostMessage(WM_AGENT_REQUEST, AgentCommandId(kind), delay_ms, std::move(payload));
}

void CKivClientDlg::PostStatusText(UINT string_id) {
  loop_.PostMessage(WM_STATUS_EVENT, static_cast<WPARAM>(-1), 0, LoadStringResource(string_id));
}

bool CKivClientDlg::IsAgentRunning(UINT kind) const {
  return IsAgentKind(kind) && threads_[AgentIndex(kind)] != nullptr;
}

bool CKivClientDlg::IsRelaunchPending(UINT kind) const {
  return IsAgentKind(kind) && relaunch_pending_[AgentIndex(kind)];
}
