// The music folder list as the set-up options change it: what the folders
// page does when a folder is added or removed, without the agents' restart
// (the running copy adds that; a stopped one picks the list up at start).
#pragma once

#include <string>
#include <vector>

// `path` made absolute (against the current folder) and normal: no "." or
// ".." parts, no trailing '/'.
std::string AbsoluteFolder(const std::string& path);

#include "app/search_paths.h"

// Saves the list as the folders page does: the list, IndexComplete and
// iTunesComplete cleared (so the next search is a full one), in one rewrite.
bool SaveMusicFolderList(const SearchPathMap& map);

enum class FolderEdit { kChanged, kAlreadyListed, kNotListed, kNotAFolder, kSaveFailed };

// Adds an existing folder, enabled, to the list as stored at that moment.
// The list is saved (and IndexComplete and iTunesComplete cleared, so the
// next search is a full one) only when it changed, in one rewrite.
FolderEdit AddMusicFolder(const std::string& path);
FolderEdit RemoveMusicFolder(const std::string& path);
// The text the set-up options print for a result (empty for kChanged).
std::string FolderEditError(FolderEdit result, const std::string& path);

struct MusicFolder {
  std::string path;
  bool enabled = true;
  bool exists = false;
};
std::vector<MusicFolder> ListMusicFolders();
