#include "db/folder_table.h"

namespace kivdb {

std::string_view FolderTable::FolderOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::uint32_t FolderTable::Acquire(std::string_view folder) {
  if (last_ != kNone && folders_[last_].records > 0 && name(last_) == folder) {
    ++folders_[last_].records;
    return last_;
  }
  const std::uint32_t hash = PathIndex::Hash(folder);
  const std::uint32_t found =
      by_name_.Find(hash, [&](std::uint32_t number) { return name(number - 1) == folder; });
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
    folders_[id].name_at = static_cast<std::uint32_t>(names_.size());
    folders_[id].name_length = static_cast<std::uint32_t>(folder.size());
    names_.append(folder);
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
  dropped_bytes_ += folders_[id].name_length;
  folders_[id].name_length = 0;
  free_ids_.push_back(id);
  if (dropped_bytes_ * 2 <= names_.size()) return;
  std::string kept;
  kept.reserve(names_.size() - dropped_bytes_);
  for (Folder& f : folders_) {
    if (f.records == 0) continue;
    const std::uint32_t at = static_cast<std::uint32_t>(kept.size());
    kept.append(names_, f.name_at, f.name_length);
    f.name_at = at;
  }
  names_.swap(kept);
  dropped_bytes_ = 0;
}

void FolderTable::Clear() {
  by_name_.Clear();
  std::vector<Folder>().swap(folders_);
  std::string().swap(names_);
  dropped_bytes_ = 0;
  free_ids_.clear();
  last_ = kNone;
}

}  // namespace kivdb
