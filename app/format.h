// printf-style formatting into a std::string: log messages are formatted
// before the call and passed whole.
#pragma once

#include <string>

std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
