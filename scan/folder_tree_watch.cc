#include "scan/folder_tree_watch.h"

#include <vector>

#include "app/format.h"
#include "app/log.h"
#include "platform/dir_walk.h"
#include "platform/file_info.h"

FolderTreeWatch::FolderTreeWatch(const SearchPathMap& map) : map_(map) {}

std::size_t FolderTreeWatch::AddTree(const std::string& root) {
  VisitedFolders visited;
  std::size_t added = 0;
  const std::size_t unwatched_before = unwatched_;
  Walk(root, visited, &added);
  if (unwatched_ > unwatched_before) LogLimit();
  return added;
}

void FolderTreeWatch::Walk(const std::string& folder, VisitedFolders& visited, std::size_t* added) {
  platform::DirReader reader;
  if (!reader.Open(folder)) return;  // gone again, or unreadable: nothing to watch
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  if (reader.Identity(&device, &inode) && !visited.Enter(device, inode)) return;
  if (limit_reached_) {
    ++unwatched_;
  } else {
    bool limit = false;
    int watch = watcher_.AddWatch(folder, &limit);
    if (watch >= 0) {
      auto it = by_watch_.find(watch);
      if (it == by_watch_.end()) {
        ++*added;
      } else if (it->second != folder) {
        by_path_.erase(it->second);  // the same folder under a new path
      }
      by_watch_[watch] = folder;
      by_path_[folder] = watch;
    } else if (limit) {
      limit_reached_ = true;
      ++unwatched_;
    }
  }
  platform::DirEntry entry;
  while (reader.Next(&entry)) {
    if (!entry.maybe_directory || IsHiddenName(entry.name)) continue;
    const std::string path = ChildPath(folder, entry.name);
    if (!reader.Stat(&entry) || !entry.is_directory) continue;
    if (Belongs(path, entry.name)) Walk(path, visited, added);
  }
}

bool FolderTreeWatch::Belongs(const std::string& path, const std::string& name) const {
  return !IsHiddenName(name) && !IsInSystemTree(path) && FindEnabledPath(map_, path) != 0;
}

bool FolderTreeWatch::Wait(int timeout_ms) {
  std::vector<platform::WatchEvent> events;
  if (!watcher_.Wait(timeout_ms, &events)) return false;
  bool changed = false;
  using Kind = platform::WatchEvent::Kind;
  using Depth = IndexScope::Depth;
  for (const platform::WatchEvent& event : events) {
    if (event.kind == Kind::kOverflow) {
      // Events were lost, new folders among them perhaps: walk every tree
      // again (folders already watched keep their watches).
      changed = true;
      untrusted_ = true;
      std::vector<std::string> roots;
      for (const auto& [folder, enabled] : map_)
        if (enabled != 0 && by_path_.count(folder) != 0) roots.push_back(folder);
      for (const std::string& root : roots) AddTree(root);
      continue;
    }
    auto it = by_watch_.find(event.watch);
    if (it == by_watch_.end()) continue;  // a watch dropped a moment ago
    if (event.kind == Kind::kWatchGone) {
      // A chosen folder itself went (deleted, unmounted): only a look at the
      // whole collection can tell what became of it. Below a chosen folder
      // the parent's own event says it, except for an unmount.
      changed = true;
      if (map_.count(it->second) != 0)
        untrusted_ = true;
      else
        changes_.Add(it->second, Depth::kWholeTree);
      Forget(event.watch);
      continue;
    }
    if (IsHiddenName(event.name) || IsOwnFile(it->second, event.name)) continue;
    changed = true;
    const std::string path = ChildPath(it->second, event.name);
    switch (event.kind) {
      case Kind::kFolderAppeared:
        if (!Belongs(path, event.name)) break;
        AddTree(path);
        changes_.Add(path, Depth::kWholeTree);
        break;
      case Kind::kFolderMovedAway:
        DropTree(path);
        changes_.Add(path, Depth::kWholeTree);
        break;
      case Kind::kFolderDeleted:
        changes_.Add(path, Depth::kWholeTree);
        break;
      default:
        changes_.Add(it->second, Depth::kFolderOnly);
        break;
    }
  }
  return changed;
}

IndexScope FolderTreeWatch::TakeChanges() {
  IndexScope taken;
  if (untrusted_ || unwatched_ > 0)
    taken = IndexScope::WholeCollection();
  else
    taken = std::move(changes_);
  changes_ = IndexScope();
  untrusted_ = false;
  return taken;
}

void FolderTreeWatch::IgnoreFiles(const std::vector<std::string>& paths) {
  own_files_.clear();
  for (const std::string& path : paths) {
    const std::size_t slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos) continue;
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    std::string real = platform::RealPath(folder);
    own_files_.emplace_back(real.empty() ? folder : real, path.substr(slash + 1));
  }
}

bool FolderTreeWatch::IsOwnFile(const std::string& folder, const std::string& name) const {
  for (const auto& [own_folder, own_name] : own_files_) {
    if (name != own_name) continue;
    if (folder == own_folder || platform::RealPath(folder) == own_folder) return true;
  }
  return false;
}

void FolderTreeWatch::Forget(int watch) {
  auto it = by_watch_.find(watch);
  if (it == by_watch_.end()) return;
  auto path_it = by_path_.find(it->second);
  if (path_it != by_path_.end() && path_it->second == watch) by_path_.erase(path_it);
  by_watch_.erase(it);
}

void FolderTreeWatch::DropTree(const std::string& folder) {
  std::vector<int> drop;
  for (auto it = by_path_.lower_bound(folder); it != by_path_.end(); ++it) {
    const std::string& path = it->first;
    if (path.compare(0, folder.size(), folder) != 0) break;
    if (path.size() == folder.size() || path[folder.size()] == '/') drop.push_back(it->second);
  }
  for (int watch : drop) {
    watcher_.RemoveWatch(watch);
    Forget(watch);
  }
}

void FolderTreeWatch::LogLimit() {
  AppLog().Log(
      StrFormat("FolderMonitor: the system's limit of change notifications was reached "
                "(max_user_watches %llu); watching %zu folders, %zu folders not watched",
                static_cast<unsigned long long>(platform::MaxUserWatches()), watched(), unwatched_),
      LEVEL_WARNING, MODULE_FOLDER_MON);
}
