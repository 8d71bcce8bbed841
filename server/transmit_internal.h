// Pieces shared by the files of the transmit agent (agent_transmit.cc,
// transmit_index.cc, transmit_plays.cc). Internal to server/.
#pragma once

#include <string>
#include <vector>

#include "app/log.h"
#include "server/agent_transmit.h"
#include "server/kiv_protocol.h"

namespace transmit {

// The log lines of a step's common beginning; `empty_paths` is null for a
// step that loads no search paths.
struct StepTexts {
  const char* start;
  const char* refusal;
  const char* database;
  const char* empty_paths;
};

// The state of one sending pass of SendIndexedEntries.
struct IndexPass {
  std::vector<BatchIndexData_t> elements;
  int n = 0;          // elements gathered for the next call
  int processed = 0;  // elements sent in earlier calls
  int to_send = 0;
  int reported = 0;
  int unsent = 0;
  // The line that ends the pass early; empty while it goes on.
  std::string leave;
};

inline void Log(DWORD level, const std::string& message) {
  AppLog().Log(message, level, MODULE_TRANSMIT);
}

inline void LogDetail(DWORD level, const std::string& message, const std::string& detail) {
  AppLog().LogDetail(message, detail, level, MODULE_TRANSMIT);
}

// The file name of a record's path (the text after the last '/').
std::string FileName(const DBEntry& entry);

}  // namespace transmit
