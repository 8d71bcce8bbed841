#include "app/search_paths.h"

#include "platform/text.h"

namespace {

std::string ValueName(const char* prefix, DWORD n) { return prefix + std::to_string(n); }

}  // namespace

std::string SearchPathKey(std::string_view path) { return platform::PathKey(path); }

BOOL LoadSearchPaths(SearchPathMap& map, const CRegSettings& settings) {
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
  return map.empty() ? FALSE : TRUE;
}

BOOL SaveSearchPaths(const SearchPathMap& map, const CRegSettings& settings) {
  for (DWORD n = 0;; ++n) {
    settings.DeleteValue(kSubKeySearchPaths, ValueName(kSearchEnableValuePrefix, n));
    if (!settings.DeleteValue(kSubKeySearchPaths, ValueName(kSearchPathValuePrefix, n))) break;
  }
  BOOL ok = TRUE;
  DWORD n = 0;
  for (const auto& [path, enabled] : map) {
    if (!settings.WriteString(kSubKeySearchPaths, ValueName(kSearchPathValuePrefix, n), path))
      ok = FALSE;
    if (!settings.WriteDword(kSubKeySearchPaths, ValueName(kSearchEnableValuePrefix, n), enabled))
      ok = FALSE;
    ++n;
  }
  return ok;
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
  std::string key = SearchPathKey(path);
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
