// PathIndex: the engine's index from a record's path to its position in the
// file, kept small: per record only a 32-bit hash of the path and the
// position (8 bytes in an open-addressing table), never the path itself.
// Two paths may share a hash, so a look-up offers every position stored
// under the hash to the caller, which checks the path on the record. The
// folder table uses the same structure from folder to folder number.
// Internal to db/.
//
// Thread safety: none; the engine's lock guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kivdb {

class PathIndex {
 public:
  struct Entry {
    std::uint32_t hash = 0;
    std::uint32_t pos = 0;  // 0: none
  };

  // The hash a path is stored under.
  static std::uint32_t Hash(std::string_view path) {
    return static_cast<std::uint32_t>(Wide(path));
  }
  // A 64-bit hash of the path: its low half is Hash(path), its high half
  // a check the caller may keep to tell paths of one Hash apart.
  static std::uint64_t Wide(std::string_view path);
  static std::uint32_t Check(std::uint64_t wide) { return static_cast<std::uint32_t>(wide >> 32); }

  std::size_t size() const { return size_; }
  void Clear();
  // Stores `pos` (never 0) under `hash`. The caller has made sure that the
  // path is not indexed yet.
  void Insert(std::uint32_t hash, std::uint32_t pos);
  // Replaces the contents with `entries` at once (the load): much quicker
  // than one Insert each, as the table is filled in slot order. Entries
  // with equal hashes are offered to `same(earlier, later)` (positions, in
  // the order given); when it answers true only the later one is kept and
  // the earlier one is appended to `*dropped`.
  template <typename Same>
  void Build(std::vector<Entry>& entries, Same&& same, std::vector<std::uint32_t>* dropped);
  // Removes the entry of `pos` stored under `hash`; false when none.
  bool Erase(std::uint32_t hash, std::uint32_t pos);
  // The first position stored under `hash` that `matches` accepts, or 0.
  template <typename Matches>
  std::uint32_t Find(std::uint32_t hash, Matches&& matches) const {
    if (slots_.empty()) return 0;
    for (std::size_t i = Home(hash);; i = (i + 1) & mask_) {
      const Entry& slot = slots_[i];
      if (slot.pos == 0) return 0;
      if (slot.hash == hash && matches(slot.pos)) return slot.pos;
    }
  }
  // Asks the processor to fetch the slot a Find for `hash` begins at.
  void Prefetch(std::uint32_t hash) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[Home(hash)]);
  }
  // Bytes the table holds.
  std::size_t MemoryBytes() const { return slots_.capacity() * sizeof(Entry); }

 private:
  // Slots for `count` entries: probes stay short up to 70 % in use.
  static std::size_t CapacityFor(std::size_t count);
  // The hash is well mixed: its low bits choose the slot.
  std::size_t Home(std::uint32_t hash) const { return hash & mask_; }
  void Rebuild(std::size_t capacity);
  // Sorts `entries` by their home slot in a table of `mask` + 1 slots.
  static void SortByHome(std::vector<Entry>& entries, std::size_t mask);
  // Stores `entry` in the first free slot from its home on.
  void Place(const Entry& entry);

  std::vector<Entry> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

template <typename Same>
void PathIndex::Build(std::vector<Entry>& entries, Same&& same,
                      std::vector<std::uint32_t>* dropped) {
  Clear();
  Rebuild(CapacityFor(entries.size()));
  SortByHome(entries, mask_);
  // Equal hashes share a home slot, so they are neighbours now; the sort
  // keeps the order given among them.
  for (std::size_t i = 0; i < entries.size(); ++i) {
    bool replaced = false;
    for (std::size_t j = i + 1;
         j < entries.size() && Home(entries[j].hash) == Home(entries[i].hash); ++j) {
      if (entries[j].hash == entries[i].hash && same(entries[i].pos, entries[j].pos)) {
        replaced = true;
        break;
      }
    }
    if (replaced)
      dropped->push_back(entries[i].pos);
    else
      Place(entries[i]);
  }
}

}  // namespace kivdb
