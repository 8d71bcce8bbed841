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
  // Which folders `wanted` accepts, by number (asked once per folder).
  template <typename Wanted>
  std::vector<bool> Select(Wanted&& wanted) const {
    std::vector<bool> chosen(folders_.size(), false);
    for (std::size_t id = 0; id < folders_.size(); ++id)
      if (folders_[id].records > 0 && wanted(name(static_cast<std::uint32_t>(id))))
        chosen[id] = true;
    return chosen;
  }

 private:
  struct Folder {
    std::uint32_t hash = 0;
    std::uint32_t records = 0;  // 0: the number is free
    // The name's place in names_.
    std::uint32_t name_at = 0;
    std::uint32_t name_length = 0;
  };
  std::string_view name(std::uint32_t id) const {
    return std::string_view(names_).substr(folders_[id].name_at, folders_[id].name_length);
  }
  // The names one after another, so that a look at every folder reads one
  // block of memory rather than a block of its own per folder; the names of
  // folders that went are dropped once they are half of it.
  std::string names_;
  std::size_t dropped_bytes_ = 0;
  // Folder name hash -> number + 1.
  PathIndex by_name_;
  std::vector<Folder> folders_;
  std::vector<std::uint32_t> free_ids_;
  // The last folder acquired: records come mostly folder by folder.
  std::uint32_t last_ = kNone;
};

}  // namespace kivdb
