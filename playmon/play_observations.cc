#include "playmon/play_observations.h"

#include <limits>

void PlayObservations::Observe(const std::string& path, std::uint32_t position) {
  PlayObservation record;
  if (auto found = previous_.find(path); found != previous_.end()) record = found->second;
  record.looks += 1;
  if (position > record.position) record.advances += 1;
  record.previous_position = record.position;
  record.position = position;
  current_[path] = record;
}

std::string PlayObservations::Pick() {
  previous_.clear();
  std::int32_t best = 0;
  std::int32_t fewest = std::numeric_limits<std::int32_t>::max();
  std::string candidate;
  auto consider = [&](const std::string& path, const PlayObservation& record) {
    if (record.looks < fewest) {
      fewest = record.looks;
      candidate = path;
    }
  };
  for (const auto& [path, record] : current_) {
    previous_[path] = record;
    if (record.advances > best) {
      // A still file chosen while nothing had advanced gives way to one
      // that moves. The count of looks starts again with it too: keeping
      // the still file's (smaller) count would let no earlier-opened file
      // be chosen in its place, and the play would end and be counted
      // again at the next look.
      if (!candidate.empty() && best == 0) {
        previous_[candidate].excluded = true;
        candidate.clear();
        fewest = std::numeric_limits<std::int32_t>::max();
      }
      best = record.advances;
    }
    if (record.looks < kLooksToQualify) continue;
    if (record.position > record.previous_position) {
      consider(path, record);
    } else if (record.advances > 0) {
      if (record.advances >= best) {
        best = record.advances;
        consider(path, record);
      }
    } else if (!record.excluded) {
      if (best == 0)
        consider(path, record);
      else
        previous_[path].excluded = true;
    }
  }
  current_.clear();
  return candidate;
}
