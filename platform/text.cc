#include "platform/text.h"

#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `i`, advancing it; returns kReplacement and
// advances by one byte on an invalid sequence.
char32_t DecodeUtf8(std::string_view s, std::size_t& i, bool& ok) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = byte(i);
  if (c < 0x80) {
    ++i;
    return c;
  }
  int extra;
  char32_t cp;
  char32_t min;
  if ((c & 0xE0) == 0xC0) {
    extra = 1, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, cp = c & 0x07, min = 0x10000;
  } else {
    ok = false;
    ++i;
    return kReplacement;
  }
  if (i + static_cast<std::size_t>(extra) >= s.size()) {
    ok = false;
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    unsigned char cc = byte(i + k);
    if ((cc & 0xC0) != 0x80) {
      ok = false;
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ok = false;
    ++i;
    return kReplacement;
  }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

// Length of the plain ASCII run that starts `text`, the common case that
// needs no decoding.
template <typename Char>
std::size_t AsciiRun(std::basic_string_view<Char> text) {
  std::size_t n = 0;
  while (n < text.size() && static_cast<std::uint32_t>(text[n]) < 0x80) ++n;
  return n;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u16string Utf8ToUtf16(std::string_view utf8, bool* valid) {
  std::u16string out;
  out.reserve(utf8.size());
  bool ok = true;
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = DecodeUtf8(utf8, i, ok);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  if (valid) *valid = ok;
  return out;
}

void AppendUtf16AsUtf8(std::u16string_view utf16, std::string* out) {
  // Written through a pointer into room for the longest form: a unit takes
  // at most 3 bytes, a surrogate pair 4 for its 2 units.
  const std::size_t start = out->size();
  out->resize(start + utf16.size() * 3);
  char* p = out->data() + start;
  auto put = [&p](char32_t byte) { *p++ = static_cast<char>(byte); };
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    // ASCII runs go eight units at a time.
    while (i + 8 <= utf16.size()) {
      std::uint64_t head;
      std::uint64_t tail;
      std::memcpy(&head, utf16.data() + i, sizeof head);
      std::memcpy(&tail, utf16.data() + i + 4, sizeof tail);
      if ((head | tail) & 0xFF80FF80FF80FF80u) break;
      for (std::size_t k = 0; k < 8; ++k) p[k] = static_cast<char>(utf16[i + k]);
      p += 8;
      i += 8;
    }
    if (i == utf16.size()) break;
    char32_t c = utf16[i];
    if (c < 0x80) {
      put(c);
      continue;
    }
    if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = kReplacement;
    put(0xE0 | (c >> 12));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  }
  out->resize(static_cast<std::size_t>(p - out->data()));
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  const std::size_t ascii = AsciiRun(utf16);
  std::string out(utf16.begin(), utf16.begin() + static_cast<std::ptrdiff_t>(ascii));
  if (ascii < utf16.size()) AppendUtf16AsUtf8(utf16.substr(ascii), &out);
  return out;
}

std::size_t Utf16Length(std::string_view utf8) {
  std::size_t units = AsciiRun(utf8);
  bool ok = true;
  for (std::size_t i = units; i < utf8.size();) units += DecodeUtf8(utf8, i, ok) >= 0x10000 ? 2 : 1;
  return units;
}

bool IsValidUtf8(std::string_view text) {
  bool ok = true;
  for (std::size_t i = AsciiRun(text); i < text.size() && ok;) DecodeUtf8(text, i, ok);
  return ok;
}

std::string_view Utf8Prefix(std::string_view utf8, std::size_t max_bytes) {
  if (utf8.size() <= max_bytes) return utf8;
  std::size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
  return utf8.substr(0, end);
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view TrimWhite(std::string_view text) {
  constexpr std::string_view kWhite = " \t\r\n\v\f";
  std::size_t start = text.find_first_not_of(kWhite);
  if (start == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(kWhite);
  return text.substr(start, end - start + 1);
}

std::string_view BaseName(std::string_view path) {
  const void* slash = path.empty() ? nullptr : ::memrchr(path.data(), '/', path.size());
  return slash ? path.substr(static_cast<const char*>(slash) - path.data() + 1) : path;
}

}  // namespace platform
