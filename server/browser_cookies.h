// The pieces of the browser login that only read bytes: the Netscape
// cookies.txt text, Firefox's profiles.ini, the choice among several login
// cookies and the split of the cookie's value into user id and token. The
// browser_login module reads the files and calls these; tests and the
// fuzzer feed them buffers directly.
//
// Pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The cookie the KIV web site sets when the user signs in. Only this exact
// name counts (a cookie such as "kiv_token_old" is another cookie).
inline constexpr std::string_view kLoginCookieName = "kiv_token";
// The longest value kept; a longer one is cut (the 260-character buffer).
inline constexpr std::size_t kLoginCookieValueMax = 259;

// One login cookie found in a browser's store.
struct BrowserCookie {
  std::string host;          // the domain as stored, leading dot kept
  std::string value;         // as stored (still percent-encoded), cut at the maximum
  std::int64_t expiry = 0;   // seconds since the epoch; 0 = ends with the session
  std::int64_t created = 0;  // microseconds since the epoch; 0 = not known
};

// Whether a cookie of `domain` belongs to the KIV server `server_host` by
// the ordinary cookie domain rule: the domain (without case, without its
// leading dot) names the host itself or a domain above it of two labels
// or more; never a sibling or a domain below. An address host is matched
// only by itself.
bool IsKivCookieHost(std::string_view domain, std::string_view server_host);

// Keeps in `*best` the better of it and `candidate`: an unexpired cookie
// (a session cookie never expires) before an expired one, then the newer
// creation, then the later expiry.
void OfferCookie(const BrowserCookie& candidate, std::time_t now,
                 std::optional<BrowserCookie>* best);

// Every login cookie of the KIV host in a Netscape cookie file: one cookie
// per line, seven tab-separated fields (domain, subdomain flag, path,
// secure flag, expiry, name, value); "#HttpOnly_" before the domain marks
// an HTTP-only cookie, other lines that begin with "#" are comments. Lines
// without seven fields are skipped. The value ends at the first blank.
std::vector<BrowserCookie> ParseNetscapeCookies(std::string_view text,
                                                std::string_view server_host);

// The profile folders named by a Firefox profiles.ini text, most likely
// first and without repeats: the Default= of each [Install...] section
// (the profile current Firefox uses), then Path= of [Profile0]. A path is
// taken relative to `root` (the folder holding profiles.ini) unless it
// begins with "/" or IsRelative=0 says so; backslashes become slashes.
std::vector<std::string> FirefoxProfileDirs(std::string_view ini, const std::string& root);

// Splits a cookie value into the user's numeric id and the login token:
// encoded colons ("%3A" in either case) are decoded first; the user id is
// the text before the first colon, the token the text between the first
// and the last colon. False when either comes out empty.
bool SplitLoginToken(std::string_view value, std::string* user_id, std::string* token);
