#include "db/path_index.h"

#include <array>
#include <functional>

namespace kivdb {
namespace {

constexpr std::size_t kMaxLoadPercent = 70;
constexpr std::size_t kMinCapacity = 64;

}  // namespace

std::size_t PathIndex::CapacityFor(std::size_t count) {
  std::size_t capacity = kMinCapacity;
  while (count * 100 > capacity * kMaxLoadPercent) capacity *= 2;
  return capacity;
}

std::uint64_t PathIndex::Wide(std::string_view path) { return std::hash<std::string_view>()(path); }

void PathIndex::Clear() {
  std::vector<Entry>().swap(slots_);
  mask_ = 0;
  size_ = 0;
}

void PathIndex::Rebuild(std::size_t capacity) {
  std::vector<Entry> old(capacity);
  old.swap(slots_);
  mask_ = capacity - 1;
  size_ = 0;
  for (const Entry& entry : old)
    if (entry.pos != 0) Place(entry);
}

void PathIndex::Place(const Entry& entry) {
  std::size_t i = Home(entry.hash);
  while (slots_[i].pos != 0) i = (i + 1) & mask_;
  slots_[i] = entry;
  ++size_;
}

void PathIndex::SortByHome(std::vector<Entry>& entries, std::size_t mask) {
  // A stable radix sort, one byte of the home slot per round.
  std::vector<Entry> sorted(entries.size());
  for (unsigned shift = 0; shift < 32 && (mask >> shift) != 0; shift += 8) {
    std::array<std::size_t, 257> start{};
    for (const Entry& e : entries) ++start[((e.hash & mask) >> shift & 0xFF) + 1];
    for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
    for (const Entry& e : entries) sorted[start[(e.hash & mask) >> shift & 0xFF]++] = e;
    entries.swap(sorted);
  }
}

void PathIndex::Insert(std::uint32_t hash, std::uint32_t pos) {
  if ((size_ + 1) * 100 > slots_.size() * kMaxLoadPercent) Rebuild(CapacityFor(size_ + 1));
  Place(Entry{hash, pos});
}

bool PathIndex::Erase(std::uint32_t hash, std::uint32_t pos) {
  if (slots_.empty()) return false;
  std::size_t i = Home(hash);
  while (slots_[i].pos != pos || slots_[i].hash != hash) {
    if (slots_[i].pos == 0) return false;
    i = (i + 1) & mask_;
  }
  // Backward shift: move up each later entry of the run that may sit in the
  // freed slot, so that no probe stops early at a hole.
  for (std::size_t next = (i + 1) & mask_; slots_[next].pos != 0; next = (next + 1) & mask_) {
    const std::size_t home = Home(slots_[next].hash);
    // Entries whose home lies cyclically in (i, next] stay where they are.
    const bool stays = i <= next ? (home > i && home <= next) : (home > i || home <= next);
    if (stays) continue;
    slots_[i] = slots_[next];
    i = next;
  }
  slots_[i] = Entry{};
  --size_;
  return true;
}

}  // namespace kivdb
