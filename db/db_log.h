// Log helpers of the database engine: every line goes to the process-wide
// log with MODULE_DATABASE unless a module is named. A line is formatted
// only when the log's level and module mask will let it through, so the
// verbose lines on hot paths cost nothing when they are filtered out.
// Safe from any thread.
#pragma once

#include <string_view>

#include "app/log.h"

namespace kivdb {

void DbLog(DWORD level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// As DbLog, with ": <detail>" appended by CLog::LogDetail.
void DbLogDetail(DWORD level, std::string_view detail, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace kivdb
