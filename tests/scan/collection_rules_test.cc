#include "scan/collection_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "media/tag_reader.h"

namespace {

TEST(CollectionRulesTest, SystemTreesAreWholeComponentsFromTheRoot) {
  for (const char* path : {"/proc", "/proc/1/fd", "/usr/share/sounds/a.wav", "/etc", "/dev/sda",
                           "/boot/x", "/run", "/run/user/1000/a.mp3", "/run/mediax", "/sys/class"})
    EXPECT_TRUE(IsInSystemTree(path)) << path;
  // Removable drives are mounted below /run/media.
  for (const char* path : {"/home/me/Music/etc/a.mp3", "/usrlocal/a.mp3", "/home/run dmc/x.mp3",
                           "/mnt/usr", "/", "", "/run/media", "/run/media/ann/USB/a.mp3"})
    EXPECT_FALSE(IsInSystemTree(path)) << path;
}

TEST(CollectionRulesTest, ChildPathsAndHiddenNames) {
  EXPECT_EQ(ChildPath("/music", "a.mp3"), "/music/a.mp3");
  EXPECT_EQ(ChildPath("/music/", "a.mp3"), "/music/a.mp3");
  EXPECT_TRUE(IsHiddenName(".cache"));
  EXPECT_FALSE(IsHiddenName("a.mp3"));
  EXPECT_FALSE(IsHiddenName(""));
}

TEST(CollectionRulesTest, RecordPathLimits) {
  // 259 UTF-16 units fit with the terminator; 260 do not.
  const std::string fits = "/" + std::string(258, 'a');
  EXPECT_TRUE(FitsRecordPath(fits));
  EXPECT_FALSE(FitsRecordPath(fits + "a"));
  // A character outside the BMP takes two units.
  EXPECT_TRUE(FitsRecordPath("/" + std::string(256, 'a') + "\xF0\x9F\x8E\xB5"));
  EXPECT_FALSE(FitsRecordPath("/" + std::string(257, 'a') + "\xF0\x9F\x8E\xB5"));
  EXPECT_FALSE(FitsRecordPath("/bad\xff.mp3"));
  EXPECT_TRUE(FolderCanHoldRecords("/" + std::string(256, 'a')));   // + "/x" = 259
  EXPECT_FALSE(FolderCanHoldRecords("/" + std::string(257, 'a')));  // + "/x" = 260
  EXPECT_TRUE(FolderCanHoldRecords("/" + std::string(256, 'a') + "/"));
  EXPECT_FALSE(FolderCanHoldRecords("/bad\xff"));
}

TEST(CollectionRulesTest, PerFolderAnswersAgreeWithThePerPathRules) {
  // The walk asks about a folder once where each entry would give the
  // folder's own answer.
  for (const char* folder : {"/", "/run", "/run/", "/usr", "/home", "/run/media", "/run/media/",
                             "/usr/share", "/home/me/run", "/mnt/etc/x"}) {
    if (!platform::ChildrenShareSystemTree(folder)) continue;
    for (const char* name : {"media", "a.mp3", "usr", "share"}) {
      const std::string path = ChildPath(folder, name);
      EXPECT_EQ(IsInSystemTree(path), IsInSystemTree(folder)) << path;
    }
  }
  EXPECT_FALSE(platform::ChildrenShareSystemTree("/run/"));
  EXPECT_TRUE(platform::ChildrenShareSystemTree("/run/media"));
  const std::string deep = "/" + std::string(250, 'a');
  for (const std::string& folder : {deep, deep + "/", std::string("/bad\xff"), std::string("/")}) {
    const ChildPathFit fit(folder);
    for (const std::string& name :
         {std::string("b.mp3"), std::string(4, 'b'), std::string(5, 'b'), std::string(7, 'b'),
          std::string(8, 'b'), std::string("\xF0\x9F\x8E\xB5xx"), std::string("x\xff")}) {
      const std::string child = ChildPath(folder, name);
      EXPECT_EQ(fit.Fits(name), FitsRecordPath(child)) << folder << " " << name;
      EXPECT_EQ(fit.HoldsFolder(name), FolderCanHoldRecords(child)) << folder << " " << name;
      // A subfolder's fit made from its parent's is the one measured whole.
      for (const std::string& below : {std::string("c"), std::string(3, 'c')})
        EXPECT_EQ(fit.Child(name).Fits(below), ChildPathFit(child).Fits(below)) << child << below;
    }
  }
}

TEST(CollectionRulesTest, NamesThatEndAlikeShareTheirAnswer) {
  CTagReaderRef tag_reader;  // fills the extension list
  SupportedNames names;
  for (const char* name :
       {"a.mp3", "b.mp3", "c.MP3", "d.txt", "e.mp3", ".mp3", "mp3", "f.", "g", "h.tar.mp3"})
    EXPECT_EQ(names.Supported(name), IsSupportedFile(name)) << name;
  EXPECT_TRUE(names.Supported("i.mp3"));
}

TEST(CollectionRulesTest, AFolderIsEnteredOnceThroughEveryGrowthOfTheSet) {
  VisitedFolders visited;
  // Identities alike in all but one part, as inodes of one disk are.
  for (std::uint64_t inode = 0; inode < 5000; ++inode) {
    ASSERT_TRUE(visited.Enter(2049, inode)) << inode;
    ASSERT_FALSE(visited.Enter(2049, inode / 2)) << inode;
  }
  EXPECT_TRUE(visited.Enter(2050, 7));
  EXPECT_TRUE(visited.Enter(0, 0));
  EXPECT_FALSE(visited.Enter(0, 0));
  for (std::uint64_t inode = 0; inode < 5000; ++inode) EXPECT_FALSE(visited.Enter(2049, inode));
  EXPECT_EQ(visited.size(), 5002u);
}

}  // namespace
