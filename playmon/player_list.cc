#include "playmon/player_list.h"

#include "platform/last_error.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kNapsterPrefix = "napsterclient";

}  // namespace

const std::vector<std::string>& BuiltInPlayers() {
  static const std::vector<std::string> players = {
      "foobar2000.exe", "itunes.exe", "media center.exe", "media center 12.exe", "mediamonkey.exe",
      "mediamonkey (non-skinned).exe", "mmjb.exe", "mplayerc.exe", "musikcube.exe", "napsterclient",
      "qcdplayer.exe", "qmplayer.exe", "quicktimeplayer.exe", "realplay.exe", "realjbox.exe",
      "rhapsody.exe", "vlc.exe", "winamp.exe", "wmplayer.exe", "yahoomusicengine.exe", "xmplay.exe",
      "xulrunner.exe",
      // Linux players.
      "vlc", "mpv", "audacious", "rhythmbox", "strawberry", "clementine", "deadbeef", "qmmp",
      "cmus", "mocp", "mpd", "quodlibet", "lollypop", "elisa", "amarok", "totem", "celluloid",
      "smplayer", "mplayer", "mpg123", "ffplay"};
  return players;
}

std::vector<std::string> BuildWatchedPlayers(const CRegSettings& settings) {
  // The missing defaults are stored together: one rewrite of the settings
  // file on a first start rather than one per player.
  settings.Edit([](CRegSettingsEdit& edit) {
    for (const std::string& name : BuiltInPlayers()) {
      DWORD value = 1;
      if (!edit.ReadDword(kSubKeyPlayMonitor, name, value))
        edit.WriteDword(kSubKeyPlayMonitor, name, 1);
    }
    return TRUE;
  });
  std::vector<std::string> watched;
  std::string name;
  for (DWORD index = 0; settings.EnumValueName(kSubKeyPlayMonitor, index, name);) {
    DWORD value = 1;
    if (settings.ReadDword(kSubKeyPlayMonitor, name, value)) {
      if (value != 0) watched.push_back(name);
      ++index;
      continue;
    }
    const DWORD error = platform::GetLastError();
    // Data that is not a 32-bit number: cleaned up, and the value now at
    // this index is read next.
    if (error != ERROR_MORE_DATA && error != ERROR_INVALID_DATA) break;
    if (!settings.DeleteValue(kSubKeyPlayMonitor, name)) break;
  }
  return watched;
}

const std::vector<std::string>& WatchedPlayers() {
  static const std::vector<std::string> players = BuildWatchedPlayers(AppSettings());
  return players;
}

PlayerMap MakePlayerMap(const std::vector<std::string>& players) {
  PlayerMap map;
  for (const std::string& name : players) map.emplace(platform::AsciiLower(name), name);
  return map;
}

bool IsWatchedImage(const PlayerMap& players, std::string_view lower_image) {
  if (lower_image.substr(0, kNapsterPrefix.size()) == kNapsterPrefix) return true;
  return players.count(std::string(lower_image)) != 0;
}
