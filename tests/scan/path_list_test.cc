#include "scan/path_list.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

TEST(PathListTest, PathsKeepTheirTextAndPlaceAcrossBlocks) {
  PathList list;
  std::vector<std::string> expected;
  std::vector<std::string_view> early;
  // Enough paths to fill several blocks, one longer than a block, and an
  // empty one.
  for (int i = 0; i < 60000; ++i) {
    expected.push_back("/music/Artist " + std::to_string(i % 97) + "/Album/" + std::to_string(i) +
                       " Track title.mp3");
    if (i == 30000) expected.back() = std::string(3 << 20, 'x');
    if (i == 40000) expected.back().clear();
    list.push_back(expected.back());
    if (i < 10) early.push_back(list[i]);
  }
  ASSERT_EQ(list.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(list[i], expected[i]) << i;
  // A path handed out before later ones were added still reads the same.
  for (std::size_t i = 0; i < early.size(); ++i) EXPECT_EQ(early[i], expected[i]);
  list.clear();
  EXPECT_TRUE(list.empty());
  list.push_back("/a.mp3");
  EXPECT_EQ(list[0], "/a.mp3");
}

}  // namespace
