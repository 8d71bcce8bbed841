#include "db/db_log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace kivdb {
namespace {

std::string VFormat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n));
    std::vsnprintf(out.data(), out.size() + 1, format, args);
  }
  return out;
}

}  // namespace

bool LogWanted(DWORD level, DWORD module) {
  CLog& log = AppLog();
  return (level & 0xFF) <= (log.LogLevel() & 0xFF) && (module & log.LogModuleMask()) != 0;
}

void DbLog(DWORD level, const char* format, ...) {
  if (!LogWanted(level)) return;
  va_list args;
  va_start(args, format);
  std::string message = VFormat(format, args);
  va_end(args);
  AppLog().Log(message, level, MODULE_DATABASE);
}

void DbLogDetail(DWORD level, std::string_view detail, const char* format, ...) {
  if (!LogWanted(level)) return;
  va_list args;
  va_start(args, format);
  std::string message = VFormat(format, args);
  va_end(args);
  AppLog().LogDetail(message, detail, level, MODULE_DATABASE);
}

}  // namespace kivdb
