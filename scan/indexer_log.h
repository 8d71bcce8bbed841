// Log helpers of the indexer: every line goes to MODULE_INDEXER, and lines
// about one file carry its path as the detail. A line below the log's level
// is not even formatted, since the walk would otherwise build one string per
// directory entry for nothing.
//
// Any thread.
#pragma once

#include <string_view>

#include "app/log.h"

inline void IndexerLog(std::string_view text, DWORD level) {
  AppLog().Log(text, level, MODULE_INDEXER);
}

inline void IndexerLogPath(std::string_view text, std::string_view path, DWORD level) {
  if (AppLog().Wants(level, MODULE_INDEXER)) AppLog().LogDetail(text, path, level, MODULE_INDEXER);
}
