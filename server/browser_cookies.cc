#include "server/browser_cookies.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "platform/text.h"

namespace {

// Calls `line_fn` with each line of `text`, line end (LF, CR LF or CR)
// removed.
template <typename Fn>
void ForEachLine(std::string_view text, Fn line_fn) {
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    line_fn(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

// Splits `line` at tabs into at most `max` fields (the last keeps the rest).
std::vector<std::string_view> SplitTabs(std::string_view line, std::size_t max) {
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < max) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) break;
    fields.push_back(line.substr(0, tab));
    line.remove_prefix(tab + 1);
  }
  fields.push_back(line);
  return fields;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// A decimal number of seconds; 0 (a session cookie) when it is not one.
std::int64_t ParseExpiry(std::string_view text) {
  text = platform::TrimWhite(text);
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0) return 0;
  return value;
}

// An IPv4 address or a bracketed IPv6 address.
bool IsAddress(std::string_view host) {
  if (!host.empty() && (host.front() == '[' || host.find(':') != std::string_view::npos))
    return true;
  return !host.empty() && host.find_first_not_of("0123456789.") == std::string_view::npos;
}

bool Expired(const BrowserCookie& cookie, std::time_t now) {
  return cookie.expiry != 0 && cookie.expiry <= static_cast<std::int64_t>(now);
}

}  // namespace

bool IsKivCookieHost(std::string_view domain, std::string_view server_host) {
  std::string d = platform::AsciiLower(platform::TrimWhite(domain));
  if (!d.empty() && d[0] == '.') d.erase(0, 1);
  std::string host = platform::AsciiLower(platform::TrimWhite(server_host));
  if (!host.empty() && host.back() == '.') host.pop_back();
  if (d.empty() || host.empty()) return false;
  if (host == d) return true;
  // An address is matched only by itself; a name by a domain above it
  // that is more than a single label (no cookie belongs to a whole
  // top-level domain).
  if (IsAddress(host) || d.find('.') == std::string::npos) return false;
  return host.size() > d.size() && host.compare(host.size() - d.size(), d.size(), d) == 0 &&
         host[host.size() - d.size() - 1] == '.';
}

void OfferCookie(const BrowserCookie& candidate, std::time_t now,
                 std::optional<BrowserCookie>* best) {
  if (!best->has_value()) {
    *best = candidate;
    return;
  }
  const BrowserCookie& held = **best;
  const bool candidate_live = !Expired(candidate, now);
  const bool held_live = !Expired(held, now);
  bool better;
  if (candidate_live != held_live)
    better = candidate_live;
  else if (candidate.created != held.created)
    better = candidate.created > held.created;
  else
    better = candidate.expiry == 0 || (held.expiry != 0 && candidate.expiry > held.expiry);
  if (better) *best = candidate;
}

std::vector<BrowserCookie> ParseNetscapeCookies(std::string_view text,
                                                std::string_view server_host) {
  std::vector<BrowserCookie> found;
  ForEachLine(text, [&](std::string_view line) {
    constexpr std::string_view kHttpOnly = "#HttpOnly_";
    if (StartsWith(line, kHttpOnly))
      line.remove_prefix(kHttpOnly.size());
    else if (StartsWith(line, "#"))
      return;
    const std::vector<std::string_view> fields = SplitTabs(line, 7);
    if (fields.size() < 7 || fields[5] != kLoginCookieName) return;
    if (!IsKivCookieHost(fields[0], server_host)) return;
    std::string_view value = fields[6];
    value = value.substr(0, value.find_first_of(" \t"));
    BrowserCookie cookie;
    cookie.host = std::string(platform::TrimWhite(fields[0]));
    cookie.value = std::string(value.substr(0, kLoginCookieValueMax));
    cookie.expiry = ParseExpiry(fields[4]);
    found.push_back(std::move(cookie));
  });
  return found;
}

std::vector<std::string> FirefoxProfileDirs(std::string_view ini, const std::string& root) {
  // Firefox keeps paths far below this; a longer one is not a profile.
  constexpr std::size_t kMaxPath = 1024;
  std::vector<std::string> install_defaults;
  std::map<std::string, std::string> profile0;
  std::string section;
  ForEachLine(ini, [&](std::string_view raw) {
    const std::string_view line = platform::TrimWhite(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') return;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      section = std::string(line.substr(1, close == std::string_view::npos ? 0 : close - 1));
      return;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    const std::string key(platform::TrimWhite(line.substr(0, eq)));
    const std::string value(platform::TrimWhite(line.substr(eq + 1)));
    if (StartsWith(section, "Install") && key == "Default")
      install_defaults.push_back(value);
    else if (section == "Profile0")
      profile0[key] = value;
  });

  std::vector<std::string> dirs;
  auto add = [&](std::string path, bool relative) {
    if (path.empty() || path.size() > kMaxPath) return;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path[0] == '/')
      relative = false;
    else if (!relative)
      return;  // an absolute path that is not one
    if (relative) path = root + "/" + path;
    if (std::find(dirs.begin(), dirs.end(), path) == dirs.end()) dirs.push_back(std::move(path));
  };
  for (const std::string& path : install_defaults) add(path, true);
  if (profile0.count("Path")) add(profile0["Path"], profile0["IsRelative"] != "0");
  return dirs;
}

bool SplitLoginToken(std::string_view value, std::string* user_id, std::string* token) {
  std::string decoded;
  decoded.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size() && value[i + 1] == '3' &&
        (value[i + 2] == 'A' || value[i + 2] == 'a')) {
      decoded += ':';
      i += 2;
    } else {
      decoded += value[i];
    }
  }
  const std::size_t first = decoded.find(':');
  *user_id = decoded.substr(0, first);
  token->clear();
  if (first != std::string::npos) {
    const std::size_t last = decoded.rfind(':');
    if (last > first) *token = decoded.substr(first + 1, last - first - 1);
  }
  return !user_id->empty() && !token->empty();
}
