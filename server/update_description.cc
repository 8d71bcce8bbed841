#include "server/update_description.h"

#include <cctype>
#include <climits>

#include "platform/text.h"
#include "server/http_session.h"

namespace {

// One "%d": blanks, an optional sign, digits. Advances `*pos`.
bool ReadInt(std::string_view text, std::size_t* pos, int* value) {
  std::size_t i = *pos;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t digits = i;
  long long n = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    n = n * 10 + (text[i++] - '0');
    if (n > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (i == digits) return false;
  if (negative) n = -n;
  if (n > INT_MAX || n < INT_MIN) return false;
  *value = static_cast<int>(n);
  *pos = i;
  return true;
}

// The extension of the last segment of the path of `url` (without query or
// fragment); empty when it has none.
std::string_view PathExtension(std::string_view url) {
  std::string_view path = url.substr(0, url.find_first_of("?#"));
  const std::size_t scheme = path.find("://");
  if (scheme != std::string_view::npos) {
    path.remove_prefix(scheme + 3);
    const std::size_t slash = path.find('/');
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
  }
  path = path.substr(path.rfind('/') + 1);
  const std::size_t dot = path.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
}

}  // namespace

std::string InstallerRefusal(std::string_view url) {
  UrlParts parts;
  if (url.empty()) return "no installer address";
  if (SplitUrl(std::string(url), &parts) != 0 || parts.host.empty())
    return "an unreadable installer address";
  if (platform::AsciiLower(parts.scheme) != "https") return "an installer address without https";
  if (platform::AsciiLower(PathExtension(url)) != kInstallerExtension)
    return "an installer that is not a Debian package";
  return {};
}

bool ParseUpdateDescription(std::string_view text, UpdateOffer* offer) {
  *offer = UpdateOffer();
  const std::size_t at = text.find(kUpdateSectionKeyword);
  if (at == std::string_view::npos) return false;
  std::string_view rest = text.substr(at + kUpdateSectionKeyword.size());
  if (!rest.empty() && rest[0] == '|') rest.remove_prefix(1);
  if (platform::TrimWhite(rest).empty()) return false;
  std::string* pieces[] = {&offer->version, &offer->url, &offer->description};
  for (std::string* piece : pieces) {
    const std::size_t bar = rest.find('|');
    *piece = std::string(platform::TrimWhite(rest.substr(0, bar)));
    if (bar == std::string_view::npos) break;
    rest.remove_prefix(bar + 1);
  }
  return true;
}

bool ParseVersion(std::string_view text, VersionNumbers* numbers) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < numbers->size(); ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    if (!ReadInt(text, &pos, &(*numbers)[i])) return false;
  }
  return true;
}

bool IsNewerVersion(std::string_view offered, std::string_view running) {
  if (offered == running) return false;
  VersionNumbers a, b;
  if (!ParseVersion(offered, &a) || !ParseVersion(running, &b)) return false;
  return a > b;  // element by element, as signed numbers
}

std::string InstallerFileName(std::string_view version, std::string_view url) {
  VersionNumbers v;
  if (!ParseVersion(version, &v)) return {};
  std::string name = "update_" + std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                     std::to_string(v[2]) + "." + std::to_string(v[3]);
  const std::string_view ext = PathExtension(url);
  if (ext.empty() || ext.size() > 8) return name;
  for (char c : ext)
    if (!std::isalnum(static_cast<unsigned char>(c))) return name;
  return name + "." + std::string(ext);
}
