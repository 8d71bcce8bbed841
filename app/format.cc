#include "app/format.h"

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
