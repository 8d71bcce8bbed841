// printf-style formatting into a std::string: log messages are formatted
// before the call and passed whole.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same with the arguments of a variadic caller.
std::string StrFormatV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// The same texts as StrFormat gives, built without printf for the formats a
// job fills once per file (status texts such as "Added file: %s" and
// "%d of %d"). A format that holds any other conversion, or a different
// number of them, goes through StrFormat.
//
// `format` with one "%s", filled with `text` (up to a NUL, as "%s" reads it).
std::string StrFormatText(const char* format, std::string_view text);
// `format` with two "%d", filled with `first` and `second`.
std::string StrFormatInts(const char* format, int first, int second);
