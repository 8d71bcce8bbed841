#include "platform/proc_text.h"

#include <algorithm>
#include <charconv>

namespace platform {
namespace {

// The value after "<key>:" at the start of a line, up to the line's end,
// with leading blanks and tabs skipped.
bool FindField(std::string_view text, std::string_view key, std::string_view* value) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == ':') {
      line.remove_prefix(key.size() + 1);
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
      *value = line;
      return true;
    }
    at = end + 1;
  }
  return false;
}

template <typename T>
bool ParseWhole(std::string_view text, int base, T* out) {
  if (text.empty()) return false;
  auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), *out, base);
  return err == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string ImageNameFromCmdline(std::string_view cmdline) {
  std::string_view argv0 = cmdline.substr(0, cmdline.find('\0'));
  const std::size_t slash = argv0.find_last_of("/\\");
  if (slash != std::string_view::npos) argv0.remove_prefix(slash + 1);
  return std::string(argv0);
}

std::string ImageNameFromComm(std::string_view comm) {
  return std::string(comm.substr(0, comm.find('\n')));
}

bool ParseDescriptorInfo(std::string_view text, DescriptorInfo* out) {
  std::string_view pos, flags;
  DescriptorInfo info;
  if (!FindField(text, "pos", &pos) || !FindField(text, "flags", &flags) ||
      !ParseWhole(pos, 10, &info.position) || !ParseWhole(flags, 8, &info.flags))
    return false;
  *out = info;
  return true;
}

std::uint32_t AccessFromOpenFlags(std::uint32_t flags) {
  switch (flags & 3u) {
    case 0:
      return 0x1;
    case 1:
      return 0x2;
    case 2:
      return 0x3;
    default:
      return 0;
  }
}

bool ParseProcessStartTime(std::string_view stat, std::uint64_t* start) {
  const std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return false;
  std::string_view rest = stat.substr(close + 1);
  // Fields 3 onwards follow the name; the start time is field 22.
  for (int field = 3; field <= 22; ++field) {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    const std::size_t end = std::min(rest.find_first_of(" \n"), rest.size());
    if (field == 22) return ParseWhole(rest.substr(0, end), 10, start);
    rest.remove_prefix(end);
  }
  return false;
}

bool ParseProcessId(std::string_view name, std::uint32_t* pid) {
  if (name.empty() || name[0] == '0') return false;
  for (char c : name)
    if (c < '0' || c > '9') return false;
  return ParseWhole(name, 10, pid);
}

}  // namespace platform
