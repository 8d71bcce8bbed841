#include "app/search_paths.h"

#include "platform/text.h"

namespace {

std::string ValueName(const char* prefix, DWORD n) { return prefix + std::to_string(n); }

template <class Settings>
void LoadFrom(const Settings& settings, SearchPathMap& map) {
  map.clear();
  for (DWORD n = 0;; ++n) {
    std::string path;
    if (!settings.ReadString(kSubKeySearchPaths, ValueName(kSearchPathValuePrefix, n), path)) break;
    DWORD enabled = 1;
    settings.ReadDword(kSubKeySearchPaths, ValueName(kSearchEnableValuePrefix, n), enabled);
    std::string key = SearchPathKey(path);
    if (key.empty()) continue;
    map[key] = enabled;
  }
}

BOOL SaveInto(CRegSettingsEdit& edit, const SearchPathMap& map) {
  for (DWORD n = 0;; ++n) {
    edit.DeleteValue(kSubKeySearchPaths, ValueName(kSearchEnableValuePrefix, n));
    if (!edit.DeleteValue(kSubKeySearchPaths, ValueName(kSearchPathValuePrefix, n))) break;
  }
  DWORD n = 0;
  for (const auto& [path, enabled] : map) {
    if (!edit.WriteString(kSubKeySearchPaths, ValueName(kSearchPathValuePrefix, n), path) ||
        !edit.WriteDword(kSubKeySearchPaths, ValueName(kSearchEnableValuePrefix, n), enabled))
      return FALSE;
    ++n;
  }
  return TRUE;
}

}  // namespace

std::string SearchPathKey(std::string_view path) { return platform::PathKey(path); }

BOOL LoadSearchPaths(SearchPathMap& map, const CRegSettings& settings) {
  LoadFrom(settings, map);
  return map.empty() ? FALSE : TRUE;
}

BOOL SaveSearchPaths(const SearchPathMap& map, const CRegSettings& settings) {
  return settings.Edit([&](CRegSettingsEdit& edit) { return SaveInto(edit, map); });
}

BOOL ChangeSearchPaths(const std::function<bool(SearchPathMap&)>& change,
                       const CRegSettings& settings) {
  return settings.Edit([&](CRegSettingsEdit& edit) -> BOOL {
    SearchPathMap map;
    LoadFrom(edit, map);
    if (!change(map)) return TRUE;
    return SaveInto(edit, map) && edit.WriteDword(kSubKeySettings, "IndexComplete", 0) &&
                   edit.WriteDword(kSubKeySettings, "iTunesComplete", 0)
               ? TRUE
               : FALSE;
  });
}

bool IsInAnySearchPath(const SearchPathMap& map, std::string_view path) {
  if (path.empty() || map.empty()) return false;
  std::string key = SearchPathKey(path);
  for (const auto& entry : map)
    if (key.find(entry.first) != std::string::npos) return true;
  return false;
}

DWORD FindEnabledPath(const SearchPathMap& map, std::string_view path) {
  if (path.empty()) return 0;
  const std::string_view key = platform::PathKeyView(path);
  std::size_t best_length = 0;
  DWORD flag = 0;
  for (const auto& [folder, enabled] : map) {
    if (folder.size() > best_length && key.find(folder) != std::string::npos) {
      best_length = folder.size();
      flag = enabled;
    }
  }
  return flag;
}
