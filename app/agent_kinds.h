// Agent kinds and their command ids. The kind names an agent's job; the
// command id (32968 + kind - 256) is the id of the agent's timer, of its
// launch request to the main window and of its done message.
//
// Constants and pure functions only: usable from any thread.
#pragma once

#include <cstddef>

#include "app/messages.h"

inline constexpr UINT AGENT_INDEXER = 256;
inline constexpr UINT AGENT_ITUNES = 257;
inline constexpr UINT AGENT_MUSICID = 258;
inline constexpr UINT AGENT_SERVER = 259;  // the transmit agent
inline constexpr UINT AGENT_PLAYMON = 260;
inline constexpr UINT AGENT_CONNECTIONMON = 261;
inline constexpr UINT AGENT_FOLDERMON = 262;
inline constexpr UINT AGENT_PLAYLISTS = 263;  // has no job
inline constexpr UINT AGENT_UPDATER = 264;

inline constexpr WPARAM ID_AGENT_INDEXER = 32968;
inline constexpr WPARAM ID_AGENT_ITUNES = 32969;
inline constexpr WPARAM ID_AGENT_MUSICID = 32970;
inline constexpr WPARAM ID_AGENT_SERVER = 32971;
inline constexpr WPARAM ID_AGENT_PLAYMON = 32972;
inline constexpr WPARAM ID_AGENT_CONNECTIONMON = 32973;
inline constexpr WPARAM ID_AGENT_FOLDERMON = 32974;
inline constexpr WPARAM ID_AGENT_PLAYLISTS = 32975;
inline constexpr WPARAM ID_AGENT_UPDATER = 32976;

// Notifications that travel as WM_AGENT_DONE but are not done messages:
// the play monitor reports whether iTunes runs (lParam 1 or 0), the update
// checker that a new version exists.
inline constexpr WPARAM ID_NOTIFY_ITUNES_RUNNING = 33018;
inline constexpr WPARAM ID_NOTIFY_NEW_VERSION = 33028;

inline constexpr UINT kFirstAgentKind = AGENT_INDEXER;
inline constexpr std::size_t kAgentKindCount = 9;

inline constexpr bool IsAgentKind(WPARAM kind) {
  return kind >= kFirstAgentKind && kind < kFirstAgentKind + kAgentKindCount;
}
inline constexpr bool IsAgentCommandId(WPARAM id) {
  return id >= ID_AGENT_INDEXER && id < ID_AGENT_INDEXER + kAgentKindCount;
}
inline constexpr WPARAM AgentCommandId(UINT kind) {
  return ID_AGENT_INDEXER + kind - AGENT_INDEXER;
}
inline constexpr UINT AgentKindOfCommand(WPARAM id) {
  return static_cast<UINT>(id - ID_AGENT_INDEXER + AGENT_INDEXER);
}
// 0 for AGENT_INDEXER ... 8 for AGENT_UPDATER.
inline constexpr std::size_t AgentIndex(UINT kind) { return kind - AGENT_INDEXER; }

// The name the controller's log lines use: "Indexer", "ITunes", "MusicID",
// "Server", "PlayMon", "ConnectionMon", "FolderMon", "Playlists", "Updater";
// "Unknown" for any other kind.
const char* AgentName(UINT kind);
