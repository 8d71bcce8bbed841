#include "db/db_log.h"

#include <cstdarg>
#include <string>

#include "app/format.h"

namespace kivdb {

void DbLog(DWORD level, const char* format, ...) {
  if (!AppLog().Wants(level, MODULE_DATABASE)) return;
  va_list args;
  va_start(args, format);
  std::string message = StrFormatV(format, args);
  va_end(args);
  AppLog().Log(message, level, MODULE_DATABASE);
}

void DbLogDetail(DWORD level, std::string_view detail, const char* format, ...) {
  if (!AppLog().Wants(level, MODULE_DATABASE)) return;
  va_list args;
  va_start(args, format);
  std::string message = StrFormatV(format, args);
  va_end(args);
  AppLog().LogDetail(message, detail, level, MODULE_DATABASE);
}

}  // namespace kivdb
