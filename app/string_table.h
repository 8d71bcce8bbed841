// The program's string table: window, status and message-box texts by
// their resource number. Subsystems add their texts here as they need
// them, so every user-visible text has one home.
//
// Constant data: any thread.
#pragma once

#include "app/messages.h"

inline constexpr UINT IDS_APP_TITLE = 100;
inline constexpr UINT IDS_CLIENT_VERSION = 101;
inline constexpr UINT IDS_USER_AGENT = 110;
inline constexpr UINT IDS_TIME_TEXT_FORMAT = 182;
inline constexpr UINT IDS_ASK_FOR_LOGIN = 186;
inline constexpr UINT IDS_RUNS_IN_BACKGROUND = 196;
inline constexpr UINT IDS_NEW_VERSION = 197;
inline constexpr UINT IDS_UPDATE_QUESTION = 198;
inline constexpr UINT IDS_BUTTON_DISABLE = 210;
inline constexpr UINT IDS_BUTTON_ENABLE = 211;
inline constexpr UINT IDS_DISABLED_BY_USER = 220;
inline constexpr UINT IDS_ENABLED_BY_USER = 221;
inline constexpr UINT IDS_DISABLED_FOR_SLEEP = 222;
inline constexpr UINT IDS_ENABLED_AFTER_RESUME = 223;
inline constexpr UINT IDS_CURRENTLY_DISABLED = 225;
inline constexpr UINT IDS_DOWNLOAD_PROGRESS = 320;
inline constexpr UINT IDS_READY = 500;
inline constexpr UINT IDS_INDEX_UPDATING = 1100;
inline constexpr UINT IDS_INDEX_ADDED = 1101;
inline constexpr UINT IDS_INDEX_PROGRESS = 1102;
inline constexpr UINT IDS_INDEX_NOTICE = 1103;
inline constexpr UINT IDS_LOGIN_INVALID = 1000;
inline constexpr UINT IDS_ONLINE_RESTORED = 1001;
inline constexpr UINT IDS_CONNECTION_RESTORED = 1002;
inline constexpr UINT IDS_FIRST_RUN_WELCOME = 1010;
inline constexpr UINT IDS_ITUNES_PARSING = 1200;
inline constexpr UINT IDS_ITUNES_ADDED = 1201;
inline constexpr UINT IDS_PLAY_NOW_PLAYING = 1400;
inline constexpr UINT IDS_PLAY_ENDED = 1401;
inline constexpr UINT IDS_TRANSMIT_UNAVAILABLE = 1500;
inline constexpr UINT IDS_TRANSMIT_PROGRESS = 1501;
inline constexpr UINT IDS_TRANSMIT_SENT = 1502;
inline constexpr UINT IDS_TRANSMIT_SENT_PLAYING = 1503;
inline constexpr UINT IDS_TRANSMIT_SENT_HISTORY = 1504;
inline constexpr UINT IDS_TRANSMIT_DELETED = 1505;
inline constexpr UINT IDS_TRANSMIT_SERVER_BUSY = 1506;
inline constexpr UINT IDS_TRANSMIT_CONNECTION_LOST = 1507;
inline constexpr UINT IDS_TRANSMIT_PLAYS_POSTPONED = 1509;
inline constexpr UINT IDS_TRANSMIT_PLAYS_WAITING = 1510;
inline constexpr UINT IDS_UPDATE_AVAILABLE = 1600;
inline constexpr UINT IDS_UPDATE_DOWNLOAD_FAILED = 1601;
inline constexpr UINT IDS_UPDATE_NOT_DOWNLOADED = 1602;
inline constexpr UINT IDS_UPDATE_OPEN_FAILED = 1603;

// The text of string `id`; "" when the table has no such string.
const char* LoadStringResource(UINT id);
