// Text helpers shared by every subsystem: UTF-8 is the in-memory encoding,
// UTF-16 only where a stored format or a fixed-size field demands it.
// Pure functions, safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Converts UTF-8 to UTF-16. Invalid sequences become U+FFFD. Sets *valid
// (when given) to whether the input was valid UTF-8.
std::u16string Utf8ToUtf16(std::string_view utf8, bool* valid = nullptr);

// Converts UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// The same, appended to `*out` (a buffer reused for many conversions).
void AppendUtf16AsUtf8(std::u16string_view utf16, std::string* out);

// Number of UTF-16 units the UTF-8 text converts to.
std::size_t Utf16Length(std::string_view utf8);

// True when `text` is valid UTF-8.
bool IsValidUtf8(std::string_view text);

// Appends the UTF-8 form of the code point `cp` (at most 0x10FFFF).
void AppendUtf8(std::string& out, char32_t cp);

// Longest prefix of `utf8` that fits in `max_bytes` without cutting a
// character.
std::string_view Utf8Prefix(std::string_view utf8, std::size_t max_bytes);

// The key of a path in the database index, the music-folder map and the play
// monitor. Linux file systems are case-sensitive, so this is the identity.
inline std::string PathKey(std::string_view path) { return std::string(path); }
// The same key without a copy, for a look-up that only reads it.
inline std::string_view PathKeyView(std::string_view path) { return path; }

// The part of `path` after its last '/' (all of it when it has none).
std::string_view BaseName(std::string_view path);

// ASCII lower-casing, for names and extensions that compare without case.
std::string AsciiLower(std::string_view text);

// Trims blanks, tabs, CR and LF at both ends.
std::string_view TrimWhite(std::string_view text);

}  // namespace platform
