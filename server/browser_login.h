// Signs the user in with the login token the KIV web site left in the
// user's web browser, so a user who is signed in there needs no password
// here. Firefox is looked for where its deb, snap and flatpak packages keep
// their profiles; in each, the profiles named by profiles.ini are searched
// for a kiv_token cookie of the KIV server's host, in cookies.txt and in
// cookies.sqlite. The best cookie (unexpired, newest) is split into user id
// and token and sent with AuthenticateByToken.
//
// Threads: the connection monitor's agent thread (through the first-run
// notice's browser-login finder); any thread in tests.
#pragma once

#include <optional>
#include <string>

#include "server/browser_cookies.h"

// The largest cookies.txt read; a bigger one is not a cookie file.
inline constexpr std::size_t kMaxCookieFileBytes = 64 * 1024 * 1024;

// The result of AuthenticateByToken (1 answered, -1 no answer) when a
// usable cookie was found; 0 otherwise. Logs each step.
int DiscoverBrowserLogin();

// Installs DiscoverBrowserLogin as the first-run notice's finder.
void InstallBrowserLogin();

// The best login cookie for `server_host` in the Firefox profiles under
// `folder` (the folder that holds profiles.ini). 0 found (in `*cookie`),
// -1 not found, also when there is no profile path.
int FindFirefoxCookie(const std::string& folder, const std::string& server_host,
                      std::optional<BrowserCookie>* cookie);

// The best login cookie for `server_host` in the Netscape cookie file at
// `path`. 0 found, -1 none or unreadable, -2 the file's size cannot be read
// (or it is too big to be a cookie file).
int ParseNetscapeCookieFile(const std::string& path, const std::string& server_host,
                            std::optional<BrowserCookie>* cookie);
