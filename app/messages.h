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
// Ends an agent thread's loop once every message posted before it ran.
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_TIMER = 0x0113;
// wParam: PBT_* event.
inline constexpr UINT WM_POWERBROADCAST = 0x0218;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

// Tray icon notification (wParam icon id, lParam mouse message) and the
// user's acceptance of an update offered by a balloon.
inline constexpr UINT WM_TRAY_NOTIFY = WM_USER + 100;
inline constexpr UINT WM_UPDATE_ACCEPTED = WM_USER + 101;

inline constexpr UINT WM_AGENT_REQUEST = WM_APP + 1;
inline constexpr UINT WM_AGENT_DONE = WM_APP + 2;
inline constexpr UINT WM_AGENT_STOP = WM_APP + 666;
inline constexpr UINT WM_OPEN_DB_TESTER = WM_APP + 10;
// The folders page saved the music folder list: the agents are stopped and
// requested again over it; wParam 1 also asks for the indexer now (Search
// All Now).
inline constexpr UINT WM_SEARCH_PATHS_SAVED = WM_APP + 11;
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
inline constexpr WPARAM ID_CMD_HIDE = 1;  // the OK button, captioned "Hide"
inline constexpr WPARAM ID_CMD_SHOW_LOGIN = 32784;
inline constexpr WPARAM ID_CMD_SHOW_STATUS = 32785;
inline constexpr WPARAM ID_CMD_ABOUT = 32786;
inline constexpr WPARAM ID_CMD_SHOW_FOLDERS = 32799;
inline constexpr WPARAM ID_CMD_AGENTS_TOGGLE = 1137;  // the Disable/Enable button
inline constexpr WPARAM ID_CMD_LAUNCH_MY_KIV = 1144;

// WM_SYSCOMMAND values: the About item of the system menu (16 to 31) and
// minimise (0xF020 to 0xF02F).
inline constexpr WPARAM SC_ABOUT_FIRST = 16;
inline constexpr WPARAM SC_ABOUT_LAST = 31;
inline constexpr WPARAM SC_MINIMIZE = 0xF020;

// WM_POWERBROADCAST events.
inline constexpr WPARAM PBT_APMQUERYSUSPEND = 0;
inline constexpr WPARAM PBT_APMQUERYSUSPENDFAILED = 2;
inline constexpr WPARAM PBT_APMSUSPEND = 4;
inline constexpr WPARAM PBT_APMRESUMECRITICAL = 6;
inline constexpr WPARAM PBT_APMRESUMESUSPEND = 7;
inline constexpr WPARAM PBT_APMRESUMEAUTOMATIC = 18;
