// printf-style formatting into a std::string: log messages are formatted
// before the call and passed whole.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same with the arguments of a variadic caller.
std::string StrFormatV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// The same texts as StrFormat gives, built without printf, for the formats
// a job fills once per file (status texts such as "Added file: %s" and
// "%d of %d"): the format is split once, then each text costs a copy of its
// pieces. A format that holds any other conversion, or a different number
// of them, goes through StrFormat.
//
// A format with one "%s", filled with a text (up to a NUL, as "%s" reads it).
class TextFormat {
 public:
  explicit TextFormat(const char* format);
  // The pieces point into the object's own copy of the format.
  TextFormat(const TextFormat&) = delete;
  TextFormat& operator=(const TextFormat&) = delete;
  std::string operator()(std::string_view text) const;

 private:
  std::string format_;
  bool plain_ = false;
  std::string_view parts_[2];
};

// A format with two "%d", filled with two numbers. The text after the first
// number is kept from the last call, as a job's progress ("%d of %d") fills
// the same total each time; so a format belongs to one thread.
class IntsFormat {
 public:
  explicit IntsFormat(const char* format);
  IntsFormat(const IntsFormat&) = delete;
  IntsFormat& operator=(const IntsFormat&) = delete;
  std::string operator()(int first, int second);

 private:
  std::string format_;
  bool plain_ = false;
  std::string_view parts_[3];
  // The second piece, `second` and the last piece, for `second_`.
  std::string tail_;
  int second_ = 0;
};
