#include "playmon/play_observations.h"

#include <limits>

void PlayObservations::Observe(const std::string& path, std::uint64_t position,
                               const SeenFile& file) {
  PlayObservation record;
  if (auto found = previous_.find(path); found != previous_.end()) {
    record = found->second;
    if (position > record.position) record.advances += 1;
  } else {
    // First seen: where it is now says nothing about movement.
    record.position = position;
  }
  record.looks += 1;
  record.previous_position = record.position;
  record.position = position;
  record.device = file.device;
  record.inode = file.inode;
  record.size = file.size;
  current_[path] = record;
}

void PlayObservations::Restart(const std::string& path) {
  if (auto found = previous_.find(path); found != previous_.end()) found->second.looks = 1;
}

std::string PlayObservations::Pick() {
  bool any_moved = false;
  for (const auto& [path, record] : current_)
    if (record.advances >= kAdvancesToMove) any_moved = true;

  std::int32_t fewest = std::numeric_limits<std::int32_t>::max();
  std::string candidate;
  for (auto& [path, record] : current_) {
    const bool moved = record.advances >= kAdvancesToMove;
    if (moved) {
      record.excluded = false;
    } else if (any_moved) {
      record.excluded = true;
    }
    if (record.looks < kLooksToQualify || record.excluded) continue;
    if (any_moved && !moved) continue;
    if (record.looks < fewest) {
      fewest = record.looks;
      candidate = path;
    }
  }
  previous_.swap(current_);
  current_.clear();
  return candidate;
}
