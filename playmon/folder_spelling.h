// FolderSpelling: the path of an open file as the chosen folders spell it.
//
// The kernel names a player's open file by its real path, every symbolic
// link resolved; the chosen folders, and the database records the indexer
// made while walking them, keep the links' spelling ("~/Music" is often a
// link to another disk, and a folder inside it may be one too). This maps a
// real path back: the chosen folder or linked folder whose real path holds
// the file (the longest) gives its spelling to the front of the path.
//
// The chosen folders are resolved at every Refresh (cheap); the links to
// folders inside them are found by walking their folders (not the files,
// and not through the links themselves), which the caller does rarely.
//
// Thread safety: an object belongs to one thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/search_paths.h"

class FolderSpelling {
 public:
  // Resolves the chosen folders again; with `find_links` also walks them
  // for links to folders.
  void Refresh(const SearchPathMap& folders, bool find_links);
  // `real_path` with the spelling of the chosen folder or link that holds
  // it; unchanged when none does.
  std::string Spell(std::string_view real_path) const;

 private:
  struct Spelling {
    std::string real;     // resolved, without a trailing separator
    std::string spelled;  // as chosen or as found inside a chosen folder
  };
  static void Add(std::vector<Spelling>* to, const std::string& spelled);

  std::vector<Spelling> chosen_;
  std::vector<Spelling> links_;
};
