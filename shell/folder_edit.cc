#include "shell/folder_edit.h"

#include <filesystem>

#include "app/reg_settings.h"
#include "platform/file_io.h"

bool SaveMusicFolderList(const SearchPathMap& map) {
  return ChangeSearchPaths([&](SearchPathMap& stored) {
           stored = map;
           return true;
         }) != FALSE;
}

std::string AbsoluteFolder(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) absolute = path;
  std::string text = absolute.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

namespace {

// One change of the stored list, made on the list as stored at that moment.
FolderEdit Change(const std::function<FolderEdit(SearchPathMap&)>& change) {
  FolderEdit result = FolderEdit::kChanged;
  const BOOL saved = ChangeSearchPaths([&](SearchPathMap& map) {
    result = change(map);
    return result == FolderEdit::kChanged;
  });
  return saved ? result : FolderEdit::kSaveFailed;
}

}  // namespace

FolderEdit AddMusicFolder(const std::string& path) {
  if (!platform::IsDirectory(path)) return FolderEdit::kNotAFolder;
  return Change([&](SearchPathMap& map) {
    return map.emplace(SearchPathKey(path), 1).second ? FolderEdit::kChanged
                                                      : FolderEdit::kAlreadyListed;
  });
}

FolderEdit RemoveMusicFolder(const std::string& path) {
  return Change([&](SearchPathMap& map) {
    return map.erase(SearchPathKey(path)) != 0 ? FolderEdit::kChanged : FolderEdit::kNotListed;
  });
}

std::string FolderEditError(FolderEdit result, const std::string& path) {
  switch (result) {
    case FolderEdit::kChanged:
      return "";
    case FolderEdit::kAlreadyListed:
      return path + " is already a music folder";
    case FolderEdit::kNotListed:
      return path + " is not a music folder";
    case FolderEdit::kNotAFolder:
      return path + " is not an existing folder";
    case FolderEdit::kSaveFailed:
      break;
  }
  return "the folder list could not be saved in the settings";
}

std::vector<MusicFolder> ListMusicFolders() {
  SearchPathMap map;
  LoadSearchPaths(map);
  std::vector<MusicFolder> folders;
  for (const auto& [path, enabled] : map)
    folders.push_back({path, enabled != 0, platform::IsDirectory(path)});
  return folders;
}
