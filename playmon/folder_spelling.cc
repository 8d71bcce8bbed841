#include "playmon/folder_spelling.h"

#include "platform/dir_walk.h"
#include "platform/file_info.h"

namespace {

// Folders one walk for links visits at most: a collection of a hundred
// thousand songs has a few thousand.
constexpr std::size_t kMaxFoldersWalked = 50000;

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// `path` equals `folder` or lies inside it.
bool Holds(std::string_view folder, std::string_view path) {
  if (!path.starts_with(folder)) return false;
  return path.size() == folder.size() || path[folder.size()] == '/' || folder == "/";
}

}  // namespace

void FolderSpelling::Add(std::vector<Spelling>* to, const std::string& spelled) {
  std::string real = platform::RealPath(spelled);
  std::string spelling = WithoutTrailingSeparator(spelled);
  if (real.empty() || real == spelling) return;
  to->push_back({std::move(real), std::move(spelling)});
}

void FolderSpelling::Refresh(const SearchPathMap& folders, bool find_links) {
  chosen_.clear();
  for (const auto& [folder, enabled] : folders) Add(&chosen_, folder);
  if (!find_links) return;
  links_.clear();
  std::vector<std::string> pending;
  for (const auto& [folder, enabled] : folders) pending.push_back(WithoutTrailingSeparator(folder));
  std::size_t walked = 0;
  platform::DirReader reader;
  platform::DirEntry entry;
  while (!pending.empty() && walked++ < kMaxFoldersWalked) {
    const std::string folder = std::move(pending.back());
    pending.pop_back();
    if (!reader.Open(folder)) continue;
    while (reader.Next(&entry)) {
      if (!entry.maybe_directory || entry.name[0] == '.') continue;
      const std::string child = folder + "/" + entry.name;
      if (!entry.is_link) {
        pending.push_back(child);  // a plain folder, or a file the open will refuse
      } else if (reader.Stat(&entry) && entry.is_directory) {
        Add(&links_, child);
      }
    }
  }
}

std::string FolderSpelling::Spell(std::string_view real_path) const {
  const Spelling* best = nullptr;
  for (const std::vector<Spelling>* table : {&links_, &chosen_})
    for (const Spelling& spelling : *table)
      if (Holds(spelling.real, real_path) && (!best || spelling.real.size() > best->real.size()))
        best = &spelling;
  if (!best) return std::string(real_path);
  return best->spelled + std::string(real_path.substr(best->real.size()));
}
