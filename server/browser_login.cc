#include "server/browser_login.h"

#include <cerrno>
#include <ctime>

#include "app/log.h"
#include "platform/file_io.h"
#include "platform/folders.h"
#include "server/firefox_cookie_db.h"
#include "server/first_run.h"
#include "server/http_session.h"
#include "server/kiv_protocol.h"
#include "server/server_session.h"

namespace {

// The module value these log lines have always carried.
constexpr DWORD kModuleBrowserLogin = 3;

void LogStep(const char* text) { AppLog().Log(text, LEVEL_INFO, kModuleBrowserLogin); }

// The folders that hold Firefox's profiles.ini: the deb's, the snap's and
// the flatpak's.
std::vector<std::string> FirefoxFolders(const std::string& home) {
  return {home + "/.mozilla/firefox", home + "/snap/firefox/common/.mozilla/firefox",
          home + "/.var/app/org.mozilla.firefox/.mozilla/firefox"};
}

void OfferAll(const std::vector<BrowserCookie>& cookies, std::optional<BrowserCookie>* best) {
  const std::time_t now = std::time(nullptr);
  for (const BrowserCookie& cookie : cookies) OfferCookie(cookie, now, best);
}

}  // namespace

int ParseNetscapeCookieFile(const std::string& path, const std::string& server_host,
                            std::optional<BrowserCookie>* cookie) {
  std::string text;
  const int err = platform::ReadFileLimited(path, kMaxCookieFileBytes, &text);
  if (err == EFBIG) {
    AppLog().LogDetail("ParseNetscapeCookieFile: too big for a cookie file", path, LEVEL_INFO,
                       kModuleBrowserLogin);
    return -2;
  }
  if (err != 0) return -1;
  std::optional<BrowserCookie> best;
  OfferAll(ParseNetscapeCookies(text, server_host), &best);
  if (!best) return -1;
  *cookie = std::move(best);
  return 0;
}

int FindFirefoxCookie(const std::string& folder, const std::string& server_host,
                      std::optional<BrowserCookie>* cookie) {
  std::string ini;
  if (platform::ReadFileLimited(folder + "/profiles.ini", 1024 * 1024, &ini) != 0) return -1;
  std::optional<BrowserCookie> best;
  for (const std::string& profile : FirefoxProfileDirs(ini, folder)) {
    std::optional<BrowserCookie> from_text;
    if (ParseNetscapeCookieFile(profile + "/cookies.txt", server_host, &from_text) == 0)
      OfferAll({*from_text}, &best);
    std::vector<BrowserCookie> from_db;
    if (ReadFirefoxCookieDb(profile, server_host, &from_db) == 0) OfferAll(from_db, &best);
  }
  if (!best) return -1;
  *cookie = std::move(best);
  return 0;
}

int DiscoverBrowserLogin() {
  const std::string home = platform::HomeDir();
  if (home.empty()) {
    LogStep("Could not get user environment variable value of USERPROFILE");
    return 0;
  }
  // There is no Internet Explorer here: its step always fails.
  LogStep("Search for IE based cookie kiv token failed, looking for firefox cookie");
  UrlParts server;
  SplitUrl(GetServerUrl(), &server);
  std::optional<BrowserCookie> best;
  for (const std::string& folder : FirefoxFolders(home)) {
    std::optional<BrowserCookie> found;
    if (FindFirefoxCookie(folder, server.host, &found) == 0) OfferAll({*found}, &best);
  }
  if (!best) {
    LogStep("Search for firefox based cookie kiv token failed");
    return 0;
  }
  if (best->value.empty()) return 0;
  std::string user_id, token;
  if (!SplitLoginToken(best->value, &user_id, &token)) {
    LogStep("Unable to find nmeric userid in IE kiv token");
    return 0;
  }
  return AuthenticateByToken(user_id, token);
}

void InstallBrowserLogin() { SetBrowserLoginFinder(&DiscoverBrowserLogin); }
