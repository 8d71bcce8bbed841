// libFuzzer target: the texts the client takes from outside and parses from
// a buffer: a Netscape cookie file, Firefox's profiles.ini, a cookie value
// and the update description with its version and installer name. Any
// input must be survived without a crash, an over-read or a leak, and the
// results must keep their promises: values within their limit, profile
// paths under the root or absolute, installer names without a path.
// Built and run by scripts/fuzz-login-and-update-text.sh; not part of the
// test run.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/browser_cookies.h"
#include "server/update_description.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  for (const BrowserCookie& cookie : ParseNetscapeCookies(text, "www.kiv.example")) {
    Check(cookie.value.size() <= kLoginCookieValueMax);
    Check(cookie.value.find_first_of(" \t\r\n") == std::string::npos);
    Check(cookie.expiry >= 0);
    std::string user, token;
    if (SplitLoginToken(cookie.value, &user, &token))
      Check(!user.empty() && !token.empty() && user.find(':') == std::string::npos);
  }

  for (const std::string& dir : FirefoxProfileDirs(text, "/root"))
    Check(!dir.empty() && dir[0] == '/' && dir.find('\\') == std::string::npos);

  std::string user, token;
  SplitLoginToken(text, &user, &token);

  UpdateOffer offer;
  if (ParseUpdateDescription(text, &offer)) {
    IsNewerVersion(offer.version, "1.0.3.105");
    const std::string name = InstallerFileName(offer.version, offer.url);
    Check(name.empty() || name.rfind("update_", 0) == 0);
    Check(name.find('/') == std::string::npos && name.find("..") == std::string::npos);
  }
  return 0;
}
