#include "playmon/counted_plays.h"

#include <gtest/gtest.h>

#include "tests/support/temp_env.h"

namespace {

const OpenInstance kSong{4242, 106865, 2049, 77};

TEST(CountedPlaysTest, TheLedgerOutlivesItsObjectAndSkipsDamagedLines) {
  testing_support::TempEnv env;
  const std::string file = env.Path("counted");
  {
    CountedPlays counted(file);
    counted.Add(kSong, "/music/a b.mp3");
    counted.Add({4242, 106865, 2049, 78}, "/music/line\nbreak.mp3");
    counted.Follow(kSong, 950, 1000);  // near the end
  }
  CountedPlays again(file);
  EXPECT_EQ(again.size(), 2u);
  EXPECT_TRUE(again.Contains(kSong));
  EXPECT_FALSE(again.Contains({4243, 106865, 2049, 77}));  // another process
  // It remembered the end: back at the start, the song is played again.
  EXPECT_EQ(again.Follow(kSong, 10, 1000), FollowResult::kPlayedAgain);
  EXPECT_FALSE(again.Contains(kSong));
  again.KeepOnly({});
  EXPECT_EQ(CountedPlays(file).size(), 0u);

  const CountedPlayMap parsed = ParseCountedPlays(
      "1 2 3 4 0 /m/a.mp3\n"
      "garbage\n"
      "0 2 3 4 0 /m/pid-zero.mp3\n"
      "5 2 3 4 7 /m/bad-flag.mp3\n"
      "99999999999 2 3 4 0 /m/big-pid.mp3\n"
      "6 2 3 4 1 /m/ends without a line break.mp3");
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed.at({1, 2, 3, 4}).path, "/m/a.mp3");
  EXPECT_TRUE(parsed.at({6, 2, 3, 4}).reached_end);
}

TEST(CountedPlaysTest, OnlyAFallFromNearTheEndToNearTheStartIsAReplay) {
  CountedPlays counted("");
  EXPECT_EQ(counted.Follow(kSong, 0, 1000), FollowResult::kNotCounted);
  counted.Add(kSong, "/m/a.mp3");
  EXPECT_EQ(counted.Follow(kSong, 500, 1000), FollowResult::kCounted);
  EXPECT_EQ(counted.Follow(kSong, 100, 1000), FollowResult::kCounted);  // back, not from the end
  EXPECT_EQ(counted.Follow(kSong, 900, 1000), FollowResult::kCounted);  // the last tenth
  EXPECT_EQ(counted.Follow(kSong, 400, 1000), FollowResult::kCounted);  // back to the middle
  EXPECT_EQ(counted.Follow(kSong, 250, 1000), FollowResult::kPlayedAgain);
  EXPECT_EQ(counted.Follow(kSong, 250, 1000), FollowResult::kNotCounted);
}

}  // namespace
