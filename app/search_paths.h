// The music folder list: the folders the user chose, each with an enabled
// flag, and the two questions every agent asks about a file path (does it lie
// in a chosen folder; is the chosen folder that holds it enabled).
//
// The list lives in the settings under the sub-key "SearchPaths" as numbered
// pairs "path<N>" (string) and "enable<N>" (DWORD, 1 enabled, 0 disabled; a
// missing value counts as 1), N = 0, 1, 2, ... without gaps. Every user loads
// its own copy when it needs it; only the folders page saves it.
//
// Thread safety: a SearchPathMap belongs to one thread. The functions keep no
// state and may be called from any thread; the settings store takes care of
// concurrent access to the stored list.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "app/reg_settings.h"
#include "platform/win_types.h"

// Folder key (see SearchPathKey) -> enabled flag. Enumeration order is the
// key order, which is the order used when saving and when the indexer visits
// the folders.
using SearchPathMap = std::map<std::string, DWORD>;

// Value names of the stored list.
inline constexpr const char* kSearchPathValuePrefix = "path";
inline constexpr const char* kSearchEnableValuePrefix = "enable";

// The key of a path in the map and the form a tested path takes before the
// substring tests. A mapped network drive has no counterpart on Linux, so the
// network-name replacement is the identity; PathKey gives the case rule.
std::string SearchPathKey(std::string_view path);

// Clears `map` and fills it from the stored list, stopping at the first
// missing "path<N>". A path stored twice keeps the flag read last; an empty
// path is skipped (as a key it would match every path). Returns TRUE when at
// least one folder was loaded.
BOOL LoadSearchPaths(SearchPathMap& map, const CRegSettings& settings = AppSettings());

// Replaces the stored list with `map` in one atomic rewrite of the settings
// (none when the list is stored already): path<N>/enable<N> go from N = 0
// until path<N> is missing, then the map is written in its order. Returns
// FALSE when the file could not be written; it then keeps the old list.
BOOL SaveSearchPaths(const SearchPathMap& map, const CRegSettings& settings = AppSettings());

// A change of the list by the user (folders page, set-up options): one
// atomic rewrite. `change` gets the list as stored at this moment, while
// the settings file is locked, and edits it; when it returns true the list
// is saved and IndexComplete and iTunesComplete are set to 0, so that the
// next search is a full one. So a change made elsewhere since the caller
// last looked is kept, never overwritten with an older list. Returns FALSE
// when the settings could not be read or written (nothing changed then).
BOOL ChangeSearchPaths(const std::function<bool(SearchPathMap&)>& change,
                       const CRegSettings& settings = AppSettings());

// True when any key of the map, enabled or not, occurs in `path` as a
// substring. An empty path or an empty map gives false. The test is a
// substring test on purpose: "/music" also matches "/music2/song.mp3".
bool IsInAnySearchPath(const SearchPathMap& map, std::string_view path);

// The flag of the longest key that occurs in `path` as a substring; of two
// equally long keys the first in map order wins. 0 when none occurs or the
// path is empty.
DWORD FindEnabledPath(const SearchPathMap& map, std::string_view path);
