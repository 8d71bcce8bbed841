#include "platform/dir_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "tests/support/temp_env.h"

namespace {

namespace fs = std::filesystem;

TEST(DirReaderTest, ListsNamesAndDescribesLinkTargets) {
  testing_support::TempEnv env;
  const std::string dir = env.Path("d");
  fs::create_directories(dir + "/sub");
  testing_support::WriteFile(dir + "/a.mp3", "12345");
  fs::create_directory_symlink(dir + "/sub", dir + "/link");
  fs::create_symlink(dir + "/gone", dir + "/dangling");

  platform::DirReader reader;
  ASSERT_TRUE(reader.Open(dir));
  std::uint64_t device = 0, inode = 0;
  ASSERT_TRUE(reader.Identity(&device, &inode));
  std::vector<std::string> names;
  platform::DirEntry entry;
  platform::DirEntry sub, link;
  while (reader.Next(&entry)) {
    names.push_back(entry.name);
    const bool stat_ok = reader.Stat(&entry);
    if (entry.name == "dangling") {
      EXPECT_FALSE(stat_ok);
      EXPECT_EQ(reader.last_errno(), ENOENT);
    } else {
      EXPECT_TRUE(stat_ok) << entry.name;
    }
    if (entry.name == "a.mp3") {
      EXPECT_TRUE(entry.is_regular);
      EXPECT_FALSE(entry.maybe_directory);
      EXPECT_EQ(entry.size, 5u);
    }
    if (entry.name == "sub") sub = entry;
    if (entry.name == "link") link = entry;
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.mp3", "dangling", "link", "sub"}));
  EXPECT_TRUE(link.is_directory);
  EXPECT_EQ(link.inode, sub.inode);  // the target's identity
  EXPECT_NE(sub.inode, inode);

  // A subfolder opened from its parent's listing, through a link too.
  platform::DirReader child;
  ASSERT_TRUE(reader.Open(dir));
  EXPECT_TRUE(child.OpenChild(reader, "link"));
  EXPECT_FALSE(child.Next(&entry));  // the linked folder is empty
  EXPECT_FALSE(child.OpenChild(reader, "a.mp3"));
  EXPECT_EQ(child.last_errno(), ENOTDIR);

  EXPECT_FALSE(reader.Open(dir + "/a.mp3"));
  EXPECT_EQ(reader.last_errno(), ENOTDIR);
  EXPECT_FALSE(reader.Open(dir + "/missing"));
  EXPECT_FALSE(reader.Next(&entry));
}

TEST(DirReaderTest, AFolderLargerThanOneReadIsListedWhole) {
  testing_support::TempEnv env;
  const std::string dir = env.Path("many");
  fs::create_directories(dir);
  std::vector<std::string> made;
  for (int i = 0; i < 700; ++i) {
    made.push_back("track number " + std::to_string(i) + " with a long enough title.mp3");
    testing_support::WriteFile(dir + "/" + made.back(), "");
  }
  platform::DirReader reader;
  ASSERT_TRUE(reader.Open(dir));
  std::vector<std::string> listed;
  platform::DirEntry entry;
  while (reader.Next(&entry)) listed.push_back(entry.name);
  EXPECT_EQ(reader.last_errno(), 0);
  std::sort(made.begin(), made.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, made);

  // The presence probe's own listing of it as well.
  platform::PresenceProbe probe;
  for (const std::string& name : made)
    EXPECT_EQ(probe.Probe(dir + "/" + name), platform::PathPresence::kPresent) << name;
  EXPECT_EQ(probe.Probe(dir + "/missing.mp3"), platform::PathPresence::kMissing);
}

TEST(DirReaderTest, PresenceTellsMissingFromUnknown) {
  testing_support::TempEnv env;
  fs::create_directories(env.Path("full/inner"));
  fs::create_directories(env.Path("empty"));
  testing_support::WriteFile(env.Path("full/f"), "x");
  EXPECT_EQ(platform::ProbePath(env.Path("full/f")), platform::PathPresence::kPresent);
  EXPECT_EQ(platform::ProbePath(env.Path("full/g")), platform::PathPresence::kMissing);
  EXPECT_EQ(platform::ProbePath(env.Path("full/f/under-a-file")), platform::PathPresence::kMissing);
  EXPECT_TRUE(platform::IsNonEmptyDirectory(env.Path("full")));
  EXPECT_FALSE(platform::IsNonEmptyDirectory(env.Path("empty")));
  EXPECT_FALSE(platform::IsNonEmptyDirectory(env.Path("full/f")));
  EXPECT_FALSE(platform::IsNonEmptyDirectory(env.Path("nowhere")));

  // The probe that keeps the last folder open answers as ProbePath does.
  platform::PresenceProbe probe;
  for (const char* path : {"full/f", "full/g", "full/inner", "nowhere/x", "nowhere/y",
                           "full/f/under-a-file", "full/f"}) {
    EXPECT_EQ(probe.Probe(env.Path(path)), platform::ProbePath(env.Path(path))) << path;
  }
  fs::remove(env.Path("full/f"));  // gone while its folder is held open
  EXPECT_EQ(probe.Probe(env.Path("full/f")), platform::PathPresence::kMissing);
}

TEST(DirReaderTest, PresenceFromAFolderListingAnswersAsALookUp) {
  testing_support::TempEnv env;
  const std::string dir = env.Path("album");
  fs::create_directories(dir + "/sub");
  for (const char* name : {"1.mp3", "2.mp3", "3.mp3"})
    testing_support::WriteFile(dir + "/" + name, "x");
  fs::create_symlink(dir + "/1.mp3", dir + "/link.mp3");
  fs::create_symlink(dir + "/gone.mp3", dir + "/dangling.mp3");

  // The second path of the folder has it listed; every later answer must
  // still be the one a look-up gives.
  platform::PresenceProbe probe;
  for (const char* name :
       {"1.mp3", "2.mp3", "3.mp3", "sub", "link.mp3", "dangling.mp3", "4.mp3", "3.MP3"}) {
    const std::string path = dir + "/" + name;
    EXPECT_EQ(probe.Probe(path), platform::ProbePath(path)) << name;
  }
  // Made after the listing: still found.
  testing_support::WriteFile(dir + "/5.mp3", "x");
  EXPECT_EQ(probe.Probe(dir + "/5.mp3"), platform::PathPresence::kPresent);
}

}  // namespace
