#include "scan/folder_tree_watch.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_env.h"

namespace {

namespace fs = std::filesystem;

class FolderTreeWatchTest : public ::testing::Test {
 protected:
  FolderTreeWatchTest() : root_(env_.Path("music")) {
    for (const char* dir : {"a", "a/b", "podcasts", "podcasts/old", ".hidden"})
      fs::create_directories(root_ + "/" + dir);
    map_ = {{root_, 1}, {root_ + "/podcasts", 0}};
  }
  // Collects notifications until none arrive for a moment.
  bool Settle(FolderTreeWatch& watch) {
    bool changed = false;
    while (watch.Wait(100)) changed = true;
    return changed;
  }

  testing_support::TempEnv env_;
  std::string root_;
  SearchPathMap map_;
};

TEST_F(FolderTreeWatchTest, WatchesTheCollectionFoldersOnlyAndEachOnce) {
  fs::create_directory_symlink(root_, root_ + "/a/b/loop");
  fs::create_directory_symlink(root_ + "/a", root_ + "/second-way");
  FolderTreeWatch watch(map_);
  ASSERT_TRUE(watch.ok());
  EXPECT_EQ(watch.AddTree(root_), 3u);  // music, a, a/b
  EXPECT_EQ(watch.watched(), 3u);
  EXPECT_EQ(watch.unwatched(), 0u);

  testing_support::WriteFile(root_ + "/podcasts/p.mp3", "x");
  testing_support::WriteFile(root_ + "/.hidden/h.mp3", "x");
  testing_support::WriteFile(root_ + "/a/.partial.mp3", "x");
  EXPECT_FALSE(Settle(watch));
  testing_support::WriteFile(root_ + "/a/b/song.mp3", "x");
  EXPECT_TRUE(Settle(watch));
}

TEST_F(FolderTreeWatchTest, FollowsFoldersThatAppearAndDropsThoseMovedAway) {
  FolderTreeWatch watch(map_);
  watch.AddTree(root_);
  ASSERT_EQ(watch.watched(), 3u);

  // A folder tree moved in at once is watched down to its leaves.
  fs::create_directories(env_.Path("incoming/cd1/extra"));
  fs::rename(env_.Path("incoming"), root_ + "/album");
  EXPECT_TRUE(Settle(watch));
  EXPECT_EQ(watch.watched(), 6u);
  testing_support::WriteFile(root_ + "/album/cd1/extra/t.mp3", "x");
  EXPECT_TRUE(Settle(watch));

  // Moved out of the tree: its changes no longer count.
  fs::rename(root_ + "/album", env_.Path("away"));
  EXPECT_TRUE(Settle(watch));
  EXPECT_EQ(watch.watched(), 3u);
  testing_support::WriteFile(env_.Path("away/cd1/u.mp3"), "x");
  EXPECT_FALSE(Settle(watch));

  // A deleted folder's watch goes with it.
  fs::remove_all(root_ + "/a");
  EXPECT_TRUE(Settle(watch));
  EXPECT_EQ(watch.watched(), 1u);
}

}  // namespace
