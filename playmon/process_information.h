// SystemProcessInformation: the running media players, by process id.
//
// A refresh walks the process table once (platform/process_table.h) and
// keeps the processes of this user whose image name, or failing that whose
// kernel name, is watched (see playmon/player_list.h). The kernel name catches a player written as
// a script, whose first argument is its interpreter. The play monitor makes one object per look and
// throws it away afterwards; the process table it hands over outlives the looks, so names are not
// read again each time.
//
// Thread safety: an object belongs to one thread.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/process_table.h"
#include "platform/win_types.h"
#include "playmon/player_list.h"

// Process id -> lower-cased image name.
using ProcessMap = std::map<DWORD, std::string>;

class SystemProcessInformation {
 public:
  // Watches the program's list of players (WatchedPlayers()).
  explicit SystemProcessInformation(bool refresh_now = false);
  // Watches `players` instead (tests, benchmarks).
  SystemProcessInformation(std::vector<std::string> players, bool refresh_now);
  // Lists through `table` (not owned; must outlive the object) instead of
  // reading every process's names afresh.
  void UseProcessTable(platform::ProcessTable* table) { table_ = table; }
  SystemProcessInformation(const SystemProcessInformation&) = delete;
  SystemProcessInformation& operator=(const SystemProcessInformation&) = delete;

  // Empties the map and fills it with the watched processes running now.
  // FALSE (with the thread's last error set) when the process table cannot
  // be read.
  BOOL Refresh();

  const ProcessMap& processes() const { return processes_; }

 private:
  platform::ProcessTable* table_ = nullptr;
  std::vector<std::string> players_;
  bool own_players_ = false;
  ProcessMap processes_;
};
