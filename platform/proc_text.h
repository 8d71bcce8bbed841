// Parsers of the process table's text files (/proc/<pid>/cmdline, comm and
// fdinfo/<n>). They take the bytes as read, so tests feed them recorded or
// damaged text; platform/process_table.h reads the real files.
// Pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The image name of a process from its cmdline bytes: the base name of
// argv[0], split at '/' or '\' (so a Windows program run under Wine shows
// as "foobar2000.exe"). Empty when argv[0] is empty (kernel threads,
// zombies), and when it ends in a separator.
std::string ImageNameFromCmdline(std::string_view cmdline);

// The image name from comm bytes: the text up to the first newline.
std::string ImageNameFromComm(std::string_view comm);

// What fdinfo tells about one descriptor.
struct DescriptorInfo {
  std::uint64_t position = 0;  // "pos:", decimal
  std::uint32_t flags = 0;     // "flags:", octal open flags
};

// Parses fdinfo text. False unless both "pos:" and "flags:" are present
// with valid numbers (a truncated or damaged text gives no half answer).
bool ParseDescriptorInfo(std::string_view text, DescriptorInfo* out);

// The access mask of open flags: read only 0x1 (read data), write only 0x2
// (write data), read and write 0x3; the invalid access mode 3 gives 0.
std::uint32_t AccessFromOpenFlags(std::uint32_t flags);

// The start time of a process (clock ticks after boot) from the bytes of
// /proc/<pid>/stat: its 22nd field, counted after the name in parentheses
// (which may itself hold blanks and parentheses). With the process id it
// names one process: an id taken again later has another start time.
bool ParseProcessStartTime(std::string_view stat, std::uint64_t* start);

// A process id from a /proc entry name: decimal digits only, no sign or
// leading zero, and non-zero; false for every other name.
bool ParseProcessId(std::string_view name, std::uint32_t* pid);

}  // namespace platform
