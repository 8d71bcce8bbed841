#include "db/folder_table.h"

namespace kivdb {

std::string_view FolderTable::FolderOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::uint32_t FolderTable::Acquire(std::string_view folder) {
  if (last_ != kNone && folders_[last_].records > 0 && folders_[last_].name == folder) {
    ++folders_[last_].records;
    return last_;
  }
  const std::uint32_t hash = PathIndex::Hash(folder);
  const std::uint32_t found = by_name_.Find(
      hash, [&](std::uint32_t number) { return folders_[number - 1].name == folder; });
  std::uint32_t id;
  if (found != 0) {
    id = found - 1;
  } else {
    if (!free_ids_.empty()) {
      id = free_ids_.back();
      free_ids_.pop_back();
    } else {
      id = static_cast<std::uint32_t>(folders_.size());
      folders_.emplace_back();
    }
    folders_[id].hash = hash;
    folders_[id].first_slot = kNone;
    folders_[id].name.assign(folder);
    by_name_.Insert(hash, id + 1);
  }
  last_ = id;
  ++folders_[id].records;
  return id;
}

void FolderTable::Release(std::uint32_t id) {
  if (id >= folders_.size() || folders_[id].records == 0) return;
  if (--folders_[id].records > 0) return;
  by_name_.Erase(folders_[id].hash, id + 1);
  std::string().swap(folders_[id].name);
  free_ids_.push_back(id);
}

void FolderTable::Clear() {
  by_name_.Clear();
  std::vector<Folder>().swap(folders_);
  free_ids_.clear();
  last_ = kNone;
}

}  // namespace kivdb
