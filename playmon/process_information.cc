#include "playmon/process_information.h"

#include "platform/process_table.h"
#include "platform/text.h"

SystemProcessInformation::SystemProcessInformation(bool refresh_now) {
  if (refresh_now) Refresh();
}

SystemProcessInformation::SystemProcessInformation(std::vector<std::string> players,
                                                   bool refresh_now)
    : players_(std::move(players)), own_players_(true) {
  if (refresh_now) Refresh();
}

BOOL SystemProcessInformation::Refresh() {
  processes_.clear();
  const PlayerMap players = MakePlayerMap(own_players_ ? players_ : WatchedPlayers());
  auto visit = [&](std::uint32_t pid, const platform::ProcessNames& names) {
    std::string lower = platform::AsciiLower(names.image);
    if (lower.empty() || !IsWatchedImage(players, lower)) {
      lower = platform::AsciiLower(names.comm);
      if (lower.empty() || !IsWatchedImage(players, lower)) return;
    }
    // Another user's player is not this user's play.
    if (!platform::ProcessBelongsToUser(pid)) return;
    processes_.emplace(pid, lower);
  };
  const bool listed = table_ ? table_->List(visit) : platform::ListProcesses(visit);
  return listed ? TRUE : FALSE;
}
