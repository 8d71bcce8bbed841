// Message ids and parameter types of the program's message loops: the main
// loop (the main window, which is the agent controller) and each agent
// thread's own loop. Values keep their window-message numbers so that the
// program's message tables read the same everywhere.
#pragma once

#include <cstdint>

using UINT = std::uint32_t;
using WPARAM = std::uint64_t;
using LPARAM = std::int64_t;

inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

inline constexpr UINT WM_AGENT_REQUEST = WM_APP + 1;
inline constexpr UINT WM_AGENT_DONE = WM_APP + 2;
inline constexpr UINT WM_AGENT_STOP = WM_APP + 666;
inline constexpr UINT WM_OPEN_DB_TESTER = WM_APP + 10;
inline constexpr UINT WM_STATUS_PROGRESS_TEXT = WM_APP + 401;
inline constexpr UINT WM_STATUS_PROGRESS_RANGE = WM_APP + 402;
inline constexpr UINT WM_STATUS_PROGRESS_POS = WM_APP + 403;
inline constexpr UINT WM_STATUS_EVENT = WM_APP + 404;
inline constexpr UINT WM_STATUS_DONE = WM_APP + 405;
inline constexpr UINT WM_STATUS_COUNTS = WM_APP + 406;
inline constexpr UINT WM_CONNECTION_VERIFYING = WM_APP + 500;
inline constexpr UINT WM_CONNECTION_STATUS = WM_APP + 501;

// WM_COMMAND ids (wParam) handled by the main window.
inline constexpr WPARAM ID_CMD_CLOSE = 16;
inline constexpr WPARAM ID_CMD_TRAY_CLOSE = 1690;
inline constexpr WPARAM ID_CMD_SHUTDOWN = 32787;
// Show the window on its Activity Monitor page; also what a second program
// instance sends to the first.
inline constexpr WPARAM ID_CMD_SHOW_ACTIVITY = 1624;
