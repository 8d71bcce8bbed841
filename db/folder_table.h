// FolderTable: the folders that hold the indexed records, each kept once
// with the number of records in it, so that the records of some folders
// can be found without keeping every record's path in memory. A record's
// folder is its path up to the last '/' ("/" for a file at the root, empty
// for a path without '/'). Internal to db/.
//
// Thread safety: none; the engine's lock guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/path_index.h"

namespace kivdb {

class FolderTable {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  static std::string_view FolderOf(std::string_view path);

  // The number of `folder`, counting one more record in it.
  std::uint32_t Acquire(std::string_view folder);
  // One record fewer in folder `id`; the folder goes with its last record.
  void Release(std::uint32_t id);
  void Clear();
  // Folders that hold records.
  std::size_t size() const { return by_name_.size(); }
  // Numbers up to this bound may be in use.
  std::size_t bound() const { return folders_.size(); }
  std::uint32_t records(std::uint32_t id) const { return folders_[id].records; }
  // The first slot of folder `id`'s chain of slots (kept by the engine;
  // kNone for a folder just acquired).
  std::uint32_t& first_slot(std::uint32_t id) { return folders_[id].first_slot; }
  std::uint32_t first_slot(std::uint32_t id) const { return folders_[id].first_slot; }
  // Which folders `wanted` accepts, by number (asked once per folder).
  template <typename Wanted>
  std::vector<bool> Select(Wanted&& wanted) const {
    std::vector<bool> chosen(folders_.size(), false);
    for (std::size_t id = 0; id < folders_.size(); ++id)
      if (folders_[id].records > 0 && wanted(std::string_view(folders_[id].name)))
        chosen[id] = true;
    return chosen;
  }

 private:
  struct Folder {
    std::uint32_t hash = 0;
    std::uint32_t records = 0;  // 0: the number is free
    std::uint32_t first_slot = kNone;
    std::string name;
  };
  // Folder name hash -> number + 1.
  PathIndex by_name_;
  std::vector<Folder> folders_;
  std::vector<std::uint32_t> free_ids_;
  // The last folder acquired: records come mostly folder by folder.
  std::uint32_t last_ = kNone;
};

}  // namespace kivdb
