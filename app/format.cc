#include "app/format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

std::string StrFormatV(const char* format, va_list args) {
  // Most texts fit a small buffer and are formatted once; a longer one is
  // formatted again at its measured length.
  char small[256];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  std::string out;
  if (n <= 0) return out;
  if (static_cast<size_t>(n) < sizeof small) return out.assign(small, static_cast<size_t>(n));
  out.resize(static_cast<size_t>(n));
  std::vsnprintf(out.data(), out.size() + 1, format, args);
  return out;
}

std::string StrFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = StrFormatV(format, args);
  va_end(args);
  return out;
}

namespace {

constexpr std::size_t kIntsTextBytes = 128;

// Splits `format` around its conversions when every '%' in it begins one
// of `count` plain `conversion`s ("%s", "%d"); false otherwise. `parts`
// receives the count + 1 literal texts between them.
bool SplitPlain(std::string_view format, char conversion, std::size_t count,
                std::string_view* parts) {
  std::size_t found = 0;
  std::size_t start = 0;
  for (std::size_t at = format.find('%'); at != std::string_view::npos;
       at = format.find('%', start)) {
    if (found == count || at + 1 >= format.size() || format[at + 1] != conversion) return false;
    parts[found++] = format.substr(start, at - start);
    start = at + 2;
  }
  if (found != count) return false;
  parts[count] = format.substr(start);
  return true;
}

}  // namespace

TextFormat::TextFormat(const char* format) : format_(format) {
  plain_ = SplitPlain(format_, 's', 1, parts_);
}

std::string TextFormat::operator()(std::string_view text) const {
  text = text.substr(0, text.find('\0'));
  if (!plain_) return StrFormat(format_.c_str(), std::string(text).c_str());
  std::string out;
  out.reserve(parts_[0].size() + text.size() + parts_[1].size());
  return out.append(parts_[0]).append(text).append(parts_[1]);
}

IntsFormat::IntsFormat(const char* format) : format_(format) {
  // Room for the pieces and two numbers in the text built in place below.
  plain_ = SplitPlain(format_, 'd', 2, parts_) &&
           parts_[0].size() + parts_[1].size() + parts_[2].size() + 24 <= kIntsTextBytes;
}

std::string IntsFormat::operator()(int first, int second) {
  if (!plain_) return StrFormat(format_.c_str(), first, second);
  if (tail_.empty() || second != second_) {
    char number[16];
    char* end = std::to_chars(number, number + sizeof number, second).ptr;
    tail_.assign(parts_[1])
        .append(number, static_cast<std::size_t>(end - number))
        .append(parts_[2]);
    second_ = second;
  }
  // Built in place, so that a short text costs no allocation at all.
  char text[kIntsTextBytes];
  char* at = std::copy(parts_[0].begin(), parts_[0].end(), text);
  at = std::to_chars(at, text + sizeof text, first).ptr;
  at = std::copy(tail_.begin(), tail_.end(), at);
  return std::string(text, at);
}
