// FolderTreeWatch: change notifications for whole folder trees, built from
// one inotify watch per folder. Every folder of a tree is watched, except
// those the indexer would not enter either (hidden folders, the system
// trees, subfolders that the music folder list disables); folders that
// appear later are watched as they appear, and the watches of a folder that
// is moved away are dropped. A linked folder is watched once, and a link
// back to an ancestor is not followed into a loop.
//
// When the system's watch limit is reached, the folders that fit stay
// watched and the rest are counted and logged.
//
// Besides telling that something changed, the watch gathers which folders
// changed, as the IndexScope the indexer is to look at: a folder whose
// files changed (on its own), and a folder that appeared, was deleted or
// was moved in or out (with everything below it). When that list cannot be
// trusted (events were lost, a chosen folder itself went, folders are left
// unwatched for the watch limit) the whole collection is asked for. The
// program's own files (its log, its database) never count as changes.
//
// Belongs to one thread (the folder monitor's agent thread).
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/index_scope.h"
#include "app/search_paths.h"
#include "platform/inotify_watcher.h"
#include "scan/collection_rules.h"

class FolderTreeWatch {
 public:
  // `map` (not owned) decides which subfolders are left out; it must
  // outlive the watch.
  explicit FolderTreeWatch(const SearchPathMap& map);
  FolderTreeWatch(const FolderTreeWatch&) = delete;
  FolderTreeWatch& operator=(const FolderTreeWatch&) = delete;

  // False when the system would not give an inotify instance.
  bool ok() const { return watcher_.ok(); }

  // Watches `root` and every subfolder that belongs to the collection.
  // Returns the number of folders newly watched.
  std::size_t AddTree(const std::string& root);

  // Waits at most `timeout_ms` for notifications and keeps the watches in
  // step with folders that appeared or went. True when something in the
  // watched trees changed (changes to hidden names do not count).
  bool Wait(int timeout_ms);

  // Files whose changes are never counted (the program's own files). They
  // are matched by path, a linked folder on the way resolved.
  void IgnoreFiles(const std::vector<std::string>& paths);

  // The folders that changed since the last call, and forgets them. The
  // whole collection when the list cannot be trusted; empty when nothing
  // changed.
  IndexScope TakeChanges();

  std::size_t watched() const { return by_watch_.size(); }
  // Folders left unwatched because the watch limit was reached.
  std::size_t unwatched() const { return unwatched_; }

 private:
  // Watches `folder` and walks into its subfolders.
  void Walk(const std::string& folder, VisitedFolders& visited, std::size_t* added);
  // True when a subfolder at `path` named `name` is to be watched.
  bool Belongs(const std::string& path, const std::string& name) const;
  void Forget(int watch);
  // Drops the watches of `folder` and of everything below it.
  void DropTree(const std::string& folder);
  void LogLimit();
  bool IsOwnFile(const std::string& folder, const std::string& name) const;

  const SearchPathMap& map_;
  platform::InotifyWatcher watcher_;
  std::unordered_map<int, std::string> by_watch_;
  std::map<std::string, int> by_path_;
  bool limit_reached_ = false;
  std::size_t unwatched_ = 0;
  IndexScope changes_;
  // Events were lost or a chosen folder went since the last TakeChanges.
  bool untrusted_ = false;
  // Own files: (folder with links resolved, name).
  std::vector<std::pair<std::string, std::string>> own_files_;
};
