// The identification subsystem's log lines: every one goes to
// MODULE_GRACENOTE; a line about one file carries its path as the detail.
#pragma once

#include <string>

#include "app/log.h"

namespace musicid {

inline void Log(DWORD level, const std::string& text) {
  AppLog().Log(text, level, MODULE_GRACENOTE);
}
inline void LogDetail(DWORD level, const std::string& text, const std::string& path) {
  AppLog().LogDetail(text, path, level, MODULE_GRACENOTE);
}

}  // namespace musicid
