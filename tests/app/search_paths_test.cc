#include "app/search_paths.h"

#include <gtest/gtest.h>

#include "tests/support/temp_env.h"

namespace {

class SearchPathsTest : public ::testing::Test {
 protected:
  SearchPathsTest() {
    settings_.SetCompanyName("KIV");
    settings_.SetApplicationName("Windows Client");
  }
  void StorePath(int n, const std::string& path) {
    settings_.WriteString(kSubKeySearchPaths, "path" + std::to_string(n), path);
  }
  void StoreEnable(int n, DWORD enabled) {
    settings_.WriteDword(kSubKeySearchPaths, "enable" + std::to_string(n), enabled);
  }

  testing_support::TempEnv env_;
  CRegSettings settings_;
};

TEST_F(SearchPathsTest, LoadStopsAtTheFirstGapAndMissingEnableCountsAsOne) {
  StorePath(0, "/music");
  StoreEnable(0, 0);
  StorePath(1, "/podcasts");  // no enable1
  StorePath(3, "/after/gap");
  StoreEnable(3, 1);
  SearchPathMap map{{"/stale", 1}};
  EXPECT_TRUE(LoadSearchPaths(map, settings_));
  EXPECT_EQ(map, (SearchPathMap{{"/music", 0}, {"/podcasts", 1}}));
}

TEST_F(SearchPathsTest, DuplicateKeepsTheLastFlagAndEmptyPathIsSkipped) {
  StorePath(0, "/music");
  StoreEnable(0, 1);
  StorePath(1, "");
  StorePath(2, "/music");
  StoreEnable(2, 0);
  SearchPathMap map;
  EXPECT_TRUE(LoadSearchPaths(map, settings_));
  EXPECT_EQ(map, (SearchPathMap{{"/music", 0}}));
  // An empty key would have put every path of the system in a chosen folder.
  EXPECT_FALSE(IsInAnySearchPath(map, "/etc/passwd"));
}

TEST_F(SearchPathsTest, SaveReplacesTheStoredListAndRoundTrips) {
  for (int n = 0; n < 4; ++n) {
    StorePath(n, "/old" + std::to_string(n));
    StoreEnable(n, 1);
  }
  SearchPathMap map{{"/b", 0}, {"/a", 1}};
  EXPECT_TRUE(SaveSearchPaths(map, settings_));
  SearchPathMap loaded;
  LoadSearchPaths(loaded, settings_);
  EXPECT_EQ(loaded, map);
  std::string value;
  EXPECT_TRUE(settings_.ReadString(kSubKeySearchPaths, "path0", value));
  EXPECT_EQ(value, "/a");  // written in map order
  EXPECT_FALSE(settings_.ReadString(kSubKeySearchPaths, "path2", value));
  DWORD enabled = 7;
  EXPECT_FALSE(settings_.ReadDword(kSubKeySearchPaths, "enable3", enabled));

  EXPECT_TRUE(SaveSearchPaths({}, settings_));
  EXPECT_FALSE(settings_.ReadString(kSubKeySearchPaths, "path0", value));
  EXPECT_FALSE(LoadSearchPaths(loaded, settings_));
  EXPECT_TRUE(loaded.empty());
}

TEST(SearchPathQueriesTest, DisabledSubfolderUnderEnabledFolder) {
  SearchPathMap map{{"/d/music", 1}, {"/d/music/old", 0}};
  EXPECT_TRUE(IsInAnySearchPath(map, "/d/music/old/a.mp3"));
  EXPECT_EQ(FindEnabledPath(map, "/d/music/old/a.mp3"), 0u);
  EXPECT_EQ(FindEnabledPath(map, "/d/music/new/b.mp3"), 1u);
  EXPECT_FALSE(IsInAnySearchPath(map, "/d/video/c.mp3"));
  EXPECT_EQ(FindEnabledPath(map, "/d/video/c.mp3"), 0u);
}

TEST(SearchPathQueriesTest, TestsAreSubstringTestsAndEmptyInputsFail) {
  SearchPathMap map{{"/music", 1}};
  EXPECT_TRUE(IsInAnySearchPath(map, "/music2/song.mp3"));
  EXPECT_TRUE(IsInAnySearchPath(map, "/mnt/music/song.mp3"));
  EXPECT_FALSE(IsInAnySearchPath(map, ""));
  EXPECT_FALSE(IsInAnySearchPath({}, "/music/a.mp3"));
  EXPECT_EQ(FindEnabledPath(map, ""), 0u);
  // Linux paths are case-sensitive: the key is the path as given.
  EXPECT_FALSE(IsInAnySearchPath(map, "/Music/a.mp3"));
}

TEST(SearchPathQueriesTest, LongestKeyDecidesAndTiesGoToTheFirstInMapOrder) {
  // Both keys are 4 long and occur in the path: "/a/x" sorts first.
  SearchPathMap map{{"/a/x", 0}, {"x/y/", 1}};
  EXPECT_EQ(FindEnabledPath(map, "/a/x/y/z.mp3"), 0u);
  map["/a/x/y"] = 1;
  EXPECT_EQ(FindEnabledPath(map, "/a/x/y/z.mp3"), 1u);
}

TEST_F(SearchPathsTest, AChangeWorksOnTheStoredListAndClearsTheFinishedMarks) {
  settings_.WriteDword(kSubKeySettings, "IndexComplete", 1);
  settings_.WriteDword(kSubKeySettings, "iTunesComplete", 1);
  ASSERT_TRUE(SaveSearchPaths({{"/a", 1}, {"/b", 1}}, settings_));
  // Someone else removed /a after this caller looked; its change (adding
  // /c) keeps that removal.
  ASSERT_TRUE(SaveSearchPaths({{"/b", 1}}, settings_));
  ASSERT_TRUE(ChangeSearchPaths(
      [](SearchPathMap& stored) {
        EXPECT_EQ(stored, (SearchPathMap{{"/b", 1}}));
        stored["/c"] = 0;
        return true;
      },
      settings_));
  SearchPathMap loaded;
  LoadSearchPaths(loaded, settings_);
  EXPECT_EQ(loaded, (SearchPathMap{{"/b", 1}, {"/c", 0}}));
  DWORD index = 7, itunes = 7;
  settings_.ReadDword(kSubKeySettings, "IndexComplete", index);
  settings_.ReadDword(kSubKeySettings, "iTunesComplete", itunes);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(itunes, 0u);

  // A change that declines leaves the marks alone.
  settings_.WriteDword(kSubKeySettings, "IndexComplete", 1);
  ASSERT_TRUE(ChangeSearchPaths([](SearchPathMap&) { return false; }, settings_));
  settings_.ReadDword(kSubKeySettings, "IndexComplete", index);
  EXPECT_EQ(index, 1u);
}

}  // namespace
