#include "scan/itunes_values.h"

#include <limits>

#include "platform/clock.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// `text` begins with the lower-case `prefix`, ignoring ASCII case.
bool StartsIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// True when `path` has a "." or ".." segment.
bool HasDotSegment(std::string_view path) {
  std::size_t start = 1;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view segment = path.substr(start, end - start);
    if (segment == "." || segment == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::int64_t ParseDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulated as a negative number so that the 64-bit minimum fits.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  bool clamped = false;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    const int digit = text[i] - '0';
    if (clamped) continue;
    if (value < (kMin + digit) / 10) {
      clamped = true;
      value = kMin;
      continue;
    }
    value = value * 10 - digit;
  }
  if (negative) return value;
  if (value == kMin) return std::numeric_limits<std::int64_t>::max();
  return -value;
}

std::int32_t ParseDecimal32(std::string_view text) {
  const std::int64_t value = ParseDecimal(text);
  if (value > std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min())
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

bool PercentDecode(std::string_view text, std::string* out, std::size_t max_bytes) {
  // Written in place: the result is never longer than the text.
  out->resize(text.size());
  std::size_t size = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char byte = text[i];
    if (byte == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      byte = static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    }
    if (size >= max_bytes) {
      out->resize(size);
      return false;
    }
    (*out)[size++] = byte;
  }
  out->resize(size);
  return true;
}

bool LocationToPath(std::string_view location, std::string* path) {
  std::string decoded;
  if (!PercentDecode(location, &decoded)) return false;
  std::size_t host_end;
  if (StartsIgnoringCase(decoded, "file://localhost/")) {
    host_end = 16;
  } else if (StartsIgnoringCase(decoded, "file:///")) {
    host_end = 7;
  } else {
    return false;
  }
  std::string_view rest = std::string_view(decoded).substr(host_end);
  if (rest.find('\0') != std::string_view::npos || HasDotSegment(rest)) return false;
  path->assign(rest);
  return true;
}

bool ParseItunesDate(std::string_view text, std::int64_t* out) {
  return platform::ParseTimeText(text, out);
}
