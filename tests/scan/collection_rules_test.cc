#include "scan/collection_rules.h"

#include <gtest/gtest.h>

namespace {

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
