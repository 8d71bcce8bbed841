// Reads the login cookies out of a Firefox profile's cookies.sqlite.
//
// A running Firefox holds the database locked and keeps its newest cookies
// in the write-ahead log (cookies.sqlite-wal), so the main file alone is
// both unreadable and out of date. The database and its log are therefore
// copied into a private temporary folder (mode 0700), the copy is read with
// SQLite, and the copy is deleted again. The browser's own files are only
// ever read.
//
// Threads: any thread; each call uses its own connection and folder.
#pragma once

#include <string>
#include <vector>

#include "server/browser_cookies.h"

// The largest cookie database (and log) copied; a bigger one is not read.
inline constexpr std::size_t kMaxCookieDbBytes = 64 * 1024 * 1024;
// The most login cookies read from one database, and the time its query
// may take (it also ends when the agent thread is told to stop).
inline constexpr std::size_t kMaxCookieRows = 1000;
inline constexpr int kCookieQueryMs = 2000;

// Every kiv_token cookie of the KIV host `server_host` in
// `profile_dir`/cookies.sqlite. 0 when the database could be read (the
// list may be empty); -1 when there is none, it cannot be copied, is not a
// SQLite database, has no moz_cookies table of the expected columns (a
// view is refused) or its query runs out of time (logged, except for a
// missing file). Private copies that killed processes left behind are
// removed first.
int ReadFirefoxCookieDb(const std::string& profile_dir, const std::string& server_host,
                        std::vector<BrowserCookie>* found);
