#include "scan/folder_tree_watch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

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
  static std::uint64_t ReadQueueLimit() {
    std::ifstream in("/proc/sys/fs/inotify/max_queued_events");
    std::uint64_t limit = 16384;
    in >> limit;
    return limit;
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

namespace {

using Depth = IndexScope::Depth;

class ChangedFoldersTest : public FolderTreeWatchTest {
 protected:
  // The folders handed over after the changes settled, relative to the
  // root, each with 'w' for a whole tree or 'f' for the folder alone.
  std::map<std::string, char> Changes(FolderTreeWatch& watch) {
    Settle(watch);
    const IndexScope scope = watch.TakeChanges();
    EXPECT_FALSE(scope.whole());
    std::map<std::string, char> changes;
    for (const auto& [folder, depth] : scope.folders())
      changes[folder.substr(root_.size())] = depth == Depth::kWholeTree ? 'w' : 'f';
    return changes;
  }
};

TEST_F(ChangedFoldersTest, HandsOverTheFoldersThatChangedNestedMovedAndDeleted) {
  FolderTreeWatch watch(map_);
  watch.AddTree(root_);
  using Changed = std::map<std::string, char>;

  // Files in a known folder: that folder alone.
  testing_support::WriteFile(root_ + "/a/b/song.mp3", "x");
  testing_support::WriteFile(root_ + "/a/b/other.mp3", "x");
  EXPECT_EQ(Changes(watch), (Changed{{"/a/b", 'f'}}));

  // A new nested tree filled at once, and one moved in: each whole.
  fs::create_directories(root_ + "/a/new/cd1/extra");
  testing_support::WriteFile(root_ + "/a/new/cd1/t.mp3", "x");
  fs::create_directories(env_.Path("incoming/cd1"));
  fs::rename(env_.Path("incoming"), root_ + "/moved-in");
  EXPECT_EQ(Changes(watch), (Changed{{"/a/new", 'w'}, {"/moved-in", 'w'}}));

  // Moved out, renamed inside, deleted: the old places whole, the new too.
  fs::rename(root_ + "/moved-in", env_.Path("away"));
  fs::rename(root_ + "/a/new", root_ + "/a/renamed");
  fs::remove_all(root_ + "/a/b");
  EXPECT_EQ(Changes(watch),
            (Changed{{"/moved-in", 'w'}, {"/a/new", 'w'}, {"/a/renamed", 'w'}, {"/a/b", 'w'}}));

  // Disabled subfolders, hidden names and the program's own files: nothing.
  watch.IgnoreFiles({root_ + "/a/kivclient.log", root_ + "/kivclient.db"});
  testing_support::WriteFile(root_ + "/podcasts/p.mp3", "x");
  testing_support::WriteFile(root_ + "/a/.partial.mp3", "x");
  testing_support::WriteFile(root_ + "/a/kivclient.log", "line\n");
  testing_support::WriteFile(root_ + "/kivclient.db", "x");
  EXPECT_EQ(Changes(watch), Changed{});
}

TEST_F(ChangedFoldersTest, LostEventsOrAChosenFolderGoneAskForTheWholeCollection) {
  {
    FolderTreeWatch watch(map_);
    watch.AddTree(root_);
    // More changes than the kernel queues while nobody reads them (each
    // new file is at least two: created, closed after writing).
    const std::uint64_t files = ReadQueueLimit() / 2 + 1;
    for (std::uint64_t i = 0; i < files; ++i)
      testing_support::WriteFile(root_ + "/a/f" + std::to_string(i), "");
    Settle(watch);
    EXPECT_TRUE(watch.TakeChanges().whole());
    // Trusted again for what follows.
    testing_support::WriteFile(root_ + "/a/b/song.mp3", "x");
    Settle(watch);
    EXPECT_FALSE(watch.TakeChanges().whole());
  }
  FolderTreeWatch watch(map_);
  watch.AddTree(root_);
  fs::remove_all(root_);
  Settle(watch);
  EXPECT_TRUE(watch.TakeChanges().whole());
}

}  // namespace
