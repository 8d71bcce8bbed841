// printf-style formatting into a std::string: log messages are formatted
// before the call and passed whole.
#pragma once

#include <cstdarg>
#include <string>

std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same with the arguments of a variadic caller.
std::string StrFormatV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
