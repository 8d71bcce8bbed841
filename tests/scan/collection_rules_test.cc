#include "scan/collection_rules.h"

#include <gtest/gtest.h>

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

}  // namespace
