#include "playmon/player_list.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/temp_env.h"

namespace {

class PlayerListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.SetCompanyName("KIV");
    settings_.SetApplicationName("Windows Client");
    settings_.SetRegistryFile(env_.Path("registry.reg"));
  }
  static bool Has(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  }

  testing_support::TempEnv env_;
  CRegSettings settings_;
};

TEST_F(PlayerListTest, BuiltInsAreWrittenOnceAndCanBeSwitchedOffOrJoined) {
  std::vector<std::string> watched = BuildWatchedPlayers(settings_);
  EXPECT_EQ(watched, BuiltInPlayers());
  EXPECT_TRUE(Has(watched, "foobar2000.exe"));
  EXPECT_TRUE(Has(watched, "mpv"));

  settings_.WriteDword(kSubKeyPlayMonitor, "vlc", 0);
  settings_.WriteDword(kSubKeyPlayMonitor, "MyPlayer.exe", 1);
  watched = BuildWatchedPlayers(settings_);
  EXPECT_FALSE(Has(watched, "vlc"));
  EXPECT_TRUE(Has(watched, "vlc.exe"));
  EXPECT_TRUE(Has(watched, "MyPlayer.exe"));
  DWORD value = 7;
  ASSERT_TRUE(settings_.ReadDword(kSubKeyPlayMonitor, "vlc", value));
  EXPECT_EQ(value, 0u);  // the user's choice survives the next build
}

TEST_F(PlayerListTest, ValuesThatAreNotNumbersAreCleanedUpAndTheRestStillRead) {
  BuildWatchedPlayers(settings_);
  settings_.WriteString(kSubKeyPlayMonitor, "junk long text", "not a number at all");
  settings_.WriteString(kSubKeyPlayMonitor, "short", "x");
  settings_.WriteDword(kSubKeyPlayMonitor, "after.exe", 1);
  const std::vector<std::string> watched = BuildWatchedPlayers(settings_);
  EXPECT_TRUE(Has(watched, "after.exe"));
  EXPECT_FALSE(Has(watched, "junk long text"));
  std::string text;
  EXPECT_FALSE(settings_.ReadString(kSubKeyPlayMonitor, "junk long text", text));
  EXPECT_FALSE(settings_.ReadString(kSubKeyPlayMonitor, "short", text));
}

TEST_F(PlayerListTest, ImagesMatchWithoutCaseAndNapsterByPrefix) {
  const PlayerMap players = MakePlayerMap({"Winamp.exe", "mpv"});
  EXPECT_TRUE(IsWatchedImage(players, "winamp.exe"));
  EXPECT_TRUE(IsWatchedImage(players, "mpv"));
  EXPECT_TRUE(IsWatchedImage(players, "napsterclient3.exe"));
  EXPECT_FALSE(IsWatchedImage(players, "napster.exe"));
  EXPECT_FALSE(IsWatchedImage(players, "mpv2"));
}

}  // namespace
