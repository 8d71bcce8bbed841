// Conversions of the iTunes library's value texts into record values: the
// decimal integers, the dates and the "Location" URLs of a track's
// properties.
//
// Pure functions: safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Most bytes a percent-decoded "Location" may have.
inline constexpr std::size_t kMaxLocationBytes = 1024;

// The value of a decimal text the way the C runtime's atoi reads it:
// leading white space, an optional sign, then digits up to the first other
// character; 0 when there are none. Values beyond the 64-bit range are
// clamped to it.
std::int64_t ParseDecimal(std::string_view text);
// ParseDecimal clamped to the 32-bit signed range.
std::int32_t ParseDecimal32(std::string_view text);

// Turns every "%" followed by two hexadecimal digits into the byte they
// name; any other "%" (an escape cut short, "%zz") is kept as it is. False
// when the result would have more than `max_bytes` bytes: a location cut
// to fit would name another file, so it is refused instead.
bool PercentDecode(std::string_view text, std::string* out,
                   std::size_t max_bytes = kMaxLocationBytes);

// The local path a "Location" names: the value is percent-decoded, and
// when it then begins with "file://localhost/" or "file:///" (ignoring
// case) what follows the host, its leading '/' included, is the path.
// False for any other scheme or host, for a location that decodes to more
// than kMaxLocationBytes, and for a path with a NUL byte or with "." or
// ".." segments (which could lead out of the chosen folders while the
// folder test, a substring test, still saw them inside).
bool LocationToPath(std::string_view location, std::string* path);

// A library date "YYYY-MM-DDTHH:MM:SSZ", read as platform::ParseTimeText
// reads time texts: the calendar fields as local time, converted the way
// the record's times are. False, leaving `*out` alone, when it is not one.
bool ParseItunesDate(std::string_view text, std::int64_t* out);
