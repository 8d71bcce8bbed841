// The media players whose open files are watched for plays, by image name.
//
// The list lives in the settings under the sub-key "PlayMonitor": one
// 32-bit value per image name, non-zero to watch it. The built-in names are
// written there as 1 when missing, so a user can switch one off by setting
// it to 0, and can add a player by adding a value named after its image
// name. A process whose image name begins with "napsterclient" (any case)
// is watched whatever the list says.
//
// Thread safety: BuildWatchedPlayers may run on any thread (the settings
// store takes care of concurrent access); WatchedPlayers builds the
// program's list once, safely from any thread, and never changes it after.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/reg_settings.h"

// The built-in image names, in the order they are written: the Windows
// players (run under Wine), then the common Linux players.
const std::vector<std::string>& BuiltInPlayers();

// Writes the missing built-in values as 1, then enumerates the values of
// "PlayMonitor" in order and returns the names whose value is non-zero. A
// value that is not a 32-bit number is deleted on the way (it could never
// switch a player on or off).
std::vector<std::string> BuildWatchedPlayers(const CRegSettings& settings);

// The program's list: BuildWatchedPlayers(AppSettings()) on first use.
const std::vector<std::string>& WatchedPlayers();

// Lower-cased image name -> name as listed.
using PlayerMap = std::unordered_map<std::string, std::string>;
PlayerMap MakePlayerMap(const std::vector<std::string>& players);

// Whether a process of image name `lower_image` (lower-cased) is watched.
bool IsWatchedImage(const PlayerMap& players, std::string_view lower_image);
