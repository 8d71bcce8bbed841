// Parsing and writing the registry export text.
#include "platform/registry_text.h"

#include <cstdio>
#include <optional>

#include "platform/text.h"

namespace platform {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::size_t kWrapColumn = 76;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// True when the line, trailing blanks aside, ends with ",\\".
bool EndsWithContinuation(std::string_view line) {
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  return line.ends_with(",\\");
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses a quoted string starting at s[pos] == '"', with "\\" and "\""
// escapes; leaves pos after the closing quote.
std::optional<std::string> ParseQuoted(std::string_view s, std::size_t& pos, std::string& reason) {
  std::string out;
  for (std::size_t i = pos + 1; i < s.size(); ++i) {
    if (s[i] == '"') {
      pos = i + 1;
      return out;
    }
    if (s[i] == '\\') {
      if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) {
        reason = "unknown escape in a quoted string";
        return std::nullopt;
      }
      ++i;
    }
    out += s[i];
  }
  reason = "unterminated quoted string";
  return std::nullopt;
}

// Parses "xx,xx,..." (possibly empty) into bytes.
std::optional<std::string> ParseHexBytes(std::string_view s) {
  std::string out;
  s = TrimBlanks(s);
  if (s.empty()) return out;
  while (true) {
    s = TrimBlanks(s);
    if (s.size() < 2 || HexDigit(s[0]) < 0 || HexDigit(s[1]) < 0) return std::nullopt;
    out += static_cast<char>(HexDigit(s[0]) * 16 + HexDigit(s[1]));
    s = TrimBlanks(s.substr(2));
    if (s.empty()) return out;
    if (s[0] != ',') return std::nullopt;
    s.remove_prefix(1);
  }
}

std::optional<DWORD> ParseHexNumber(std::string_view s, std::size_t min_digits,
                                    std::size_t max_digits) {
  if (s.size() < min_digits || s.size() > max_digits) return std::nullopt;
  DWORD n = 0;
  for (char c : s) {
    if (HexDigit(c) < 0) return std::nullopt;
    n = (n << 4) | static_cast<DWORD>(HexDigit(c));
  }
  return n;
}

// Parses the data after "=".
std::optional<RegValue> ParseData(std::string_view data, std::string& reason) {
  RegValue value;
  if (data.starts_with('"')) {
    std::size_t pos = 0;
    std::optional<std::string> text = ParseQuoted(data, pos, reason);
    if (!text) return std::nullopt;
    if (!TrimBlanks(data.substr(pos)).empty()) {
      reason = "text after a quoted string";
      return std::nullopt;
    }
    return MakeStringValue("", Utf8ToUtf16(*text));
  }
  if (data.starts_with("dword:")) {
    // Exactly eight digits, as exports write them: a shorter number is the
    // sign of a cut line.
    std::optional<DWORD> n = ParseHexNumber(data.substr(6), 8, 8);
    if (!n) {
      reason = "dword needs eight hex digits";
      return std::nullopt;
    }
    return MakeDwordValue("", *n);
  }
  if (data.starts_with("hex")) {
    std::size_t colon = data.find(':');
    std::string_view kind = data.substr(3, colon == std::string_view::npos ? 0 : colon - 3);
    std::optional<DWORD> type = REG_BINARY;
    if (!kind.empty())
      type = (kind.size() > 2 && kind.front() == '(' && kind.back() == ')')
                 ? ParseHexNumber(kind.substr(1, kind.size() - 2), 1, 8)
                 : std::nullopt;
    std::optional<std::string> bytes;
    if (colon != std::string_view::npos && type) bytes = ParseHexBytes(data.substr(colon + 1));
    if (!bytes) {
      reason = "malformed hex data";
      return std::nullopt;
    }
    value.type = *type;
    value.data = std::move(*bytes);
    return value;
  }
  reason = data == "-" ? "value deletion entries are not supported" : "unrecognised value data";
  return std::nullopt;
}

std::optional<RegValue> ParseValueLine(std::string_view line, std::string& reason) {
  std::string name;
  std::size_t pos = 1;
  if (line[0] == '"') {
    pos = 0;
    std::optional<std::string> quoted = ParseQuoted(line, pos, reason);
    if (!quoted) return std::nullopt;
    name = std::move(*quoted);
  }
  std::string_view rest = TrimBlanks(line.substr(pos));
  if (!rest.starts_with('=')) {
    reason = "missing '=' after the value name";
    return std::nullopt;
  }
  std::optional<RegValue> value = ParseData(TrimBlanks(rest.substr(1)), reason);
  if (value) value->name = std::move(name);
  return value;
}

// Checks a section's key path; empty reason when sound.
std::string CheckKeyPath(std::string_view path) {
  if (path.starts_with('-')) return "key deletion entries are not supported";
  std::size_t start = 0;
  while (true) {
    std::size_t end = path.find('\\', start);
    std::string_view part = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (TrimBlanks(part).empty()) return "empty key name in a key path";
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
}

// The text as UTF-8: byte order marks removed, UTF-16LE converted.
std::string DecodeText(std::string_view bytes, RegParseResult& result) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) result.problems.push_back({0, "odd length of UTF-16 text"});
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return Utf16ToUtf8(units);
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return std::string(bytes);
}

bool IsQuotable(const RegValue& value) {
  if ((value.type != REG_SZ && value.type != REG_EXPAND_SZ) || value.data.size() < 2 ||
      value.data.size() % 2 != 0)
    return false;
  std::u16string text = TextFromData(value.data);
  if (text.size() * 2 + 2 != value.data.size()) return false;  // embedded NUL
  for (char16_t unit : text)
    if (unit < 0x20 || unit == 0x7F) return false;
  return Utf8ToUtf16(Utf16ToUtf8(text)) == text;  // no unpaired surrogates
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

void AppendValue(std::string& out, const RegValue& value) {
  std::size_t line_start = out.size();
  if (value.name.empty())
    out += '@';
  else
    AppendQuoted(out, value.name);
  out += '=';
  if (value.type == REG_SZ && IsQuotable(value)) {
    AppendQuoted(out, Utf16ToUtf8(TextFromData(value.data)));
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", DwordFromData(value.data));
    out += buf;
  } else {
    char buf[24];
    if (value.type == REG_BINARY)
      std::snprintf(buf, sizeof buf, "hex:");
    else
      std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
    out += buf;
    for (std::size_t i = 0; i < value.data.size(); ++i) {
      std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(value.data[i]));
      out += buf;
      if (i + 1 == value.data.size()) break;
      out += ',';
      if (out.size() - line_start > kWrapColumn) {
        out += "\\\n  ";
        line_start = out.size() - 2;
      }
    }
  }
  out += '\n';
}

}  // namespace

RegParseResult ParseRegistryText(std::string_view bytes) {
  RegParseResult result;
  std::string text = DecodeText(bytes, result);
  std::string_view rest = text;
  bool header_seen = false;
  bool content_seen = false;
  bool in_key = false;
  bool in_bad_key = false;
  std::string current;
  int line_no = 0;
  while (!rest.empty()) {
    ++line_no;
    int first_line = line_no;
    std::size_t nl = rest.find('\n');
    std::string line(rest.substr(0, nl));
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Hex data is wrapped with ",\" and continued on indented lines. The
    // pieces are appended in place: a value wrapped over many lines costs
    // time in proportion to its length.
    while (EndsWithContinuation(line) && !rest.empty()) {
      while (IsBlank(line.back())) line.pop_back();
      line.pop_back();
      ++line_no;
      nl = rest.find('\n');
      std::string_view next = rest.substr(0, nl);
      rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
      if (next.ends_with('\r')) next.remove_suffix(1);
      line += TrimBlanks(next);
    }
    if (line.find('\0') != std::string::npos) {
      result.problems.push_back({first_line, "NUL byte in the line"});
      continue;
    }
    if (!IsValidUtf8(line)) {
      // Keep what the line says, with the bad bytes replaced.
      result.problems.push_back({first_line, "invalid UTF-8"});
      line = Utf16ToUtf8(Utf8ToUtf16(line));
    }
    std::string_view view = TrimBlanks(line);
    if (view.empty() || view.starts_with(';')) continue;
    if (!content_seen) {
      content_seen = true;
      if (view == kHeader || view == kOldHeader) {
        header_seen = true;
        continue;
      }
    }
    if (view == kHeader || view == kOldHeader) continue;
    std::string reason;
    if (view.starts_with('[')) {
      std::string_view path = view.ends_with(']') ? view.substr(1, view.size() - 2) : "";
      reason = view.ends_with(']') ? CheckKeyPath(path) : "unterminated key line";
      in_key = reason.empty();
      in_bad_key = !in_key;
      if (in_key) current = result.document.CreateKey(path).path;
    } else if (view.starts_with('"') || view.starts_with('@')) {
      if (!in_key) {
        reason = in_bad_key ? "value under an unreadable key" : "value before any key";
      } else if (std::optional<RegValue> value = ParseValueLine(view, reason)) {
        result.document.FindKey(current)->SetValue(std::move(*value));
      }
    } else {
      reason = "unrecognised line";
    }
    if (!reason.empty()) result.problems.push_back({first_line, reason});
  }
  if (content_seen && !header_seen)
    result.problems.insert(result.problems.begin(), {1, "missing header line"});
  return result;
}

std::string SerializeRegistryText(const RegDocument& doc) {
  std::string out(kHeader);
  out += "\n\n";
  for (const RegKeyNode& key : doc.keys()) {
    out += '[';
    out += key.path;
    out += "]\n";
    for (const RegValue& value : key.values) AppendValue(out, value);
    out += '\n';
  }
  return out;
}

}  // namespace platform
