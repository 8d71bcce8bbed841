// The identification state: when tracks are held back, when they are let
// go, and how long the next attempt waits.
#include "app/identification_state.h"

#include <gtest/gtest.h>

namespace {

class IdentificationStateTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetIdentificationState(); }
  void TearDown() override { ResetIdentificationState(); }
  static constexpr std::time_t kNow = 1700000000;
};

TEST_F(IdentificationStateTest, RetriesWaitTwiceAsLongEachTimeUpToAnHourOrWhatTheServiceAsks) {
  const std::int64_t expected[] = {60, 120, 240, 480, 960, 1920, 3600, 3600};
  for (int failures = 1; failures <= 8; ++failures)
    EXPECT_EQ(IdentifyRetryDelaySeconds(failures, 0), expected[failures - 1]) << failures;
  EXPECT_EQ(IdentifyRetryDelaySeconds(1, 600), 600);
  EXPECT_EQ(IdentifyRetryDelaySeconds(7, 30), 3600);
  EXPECT_EQ(IdentifyRetryDelaySeconds(1, 10 * kIdentifyGiveUpSeconds), kIdentifyGiveUpSeconds);
}

TEST_F(IdentificationStateTest, PassingFailuresHoldTracksForADayLastingOnesReleaseThemAtOnce) {
  EXPECT_FALSE(IdentificationReleasesTracks());
  IdentificationStatus s = NoteIdentificationFailed("down.", kNow, 0);
  EXPECT_EQ(s.state, IdentificationState::kRetrying);
  EXPECT_EQ(s.next_attempt, kNow + 60);
  EXPECT_FALSE(IdentificationReleasesTracks());
  s = NoteIdentificationFailed("down.", kNow + kIdentifyGiveUpSeconds - 1, 0);
  EXPECT_EQ(s.failing_since, kNow);
  EXPECT_FALSE(IdentificationReleasesTracks());
  s = NoteIdentificationFailed("down.", kNow + kIdentifyGiveUpSeconds, 0);
  EXPECT_EQ(s.state, IdentificationState::kGivenUp);
  EXPECT_TRUE(IdentificationReleasesTracks());
  EXPECT_NE(IdentificationStatusText(true, kNow).find("sending tracks unidentified: down."),
            std::string::npos);

  NoteIdentificationRan();
  EXPECT_FALSE(IdentificationReleasesTracks());
  NoteIdentificationUnavailable("No client key.");
  EXPECT_TRUE(IdentificationReleasesTracks());
  EXPECT_EQ(IdentificationStatusText(true, kNow), "sending tracks unidentified: No client key.");
  EXPECT_EQ(IdentificationStatusText(false, kNow).rfind("off", 0), 0u);
}

TEST_F(IdentificationStateTest,
       AFailureBeginningRememberedFromBeforeARestartCountsUnlessInTheFuture) {
  IdentificationStatus s =
      NoteIdentificationFailed("down.", kNow, 0, kNow - kIdentifyGiveUpSeconds);
  EXPECT_EQ(s.state, IdentificationState::kGivenUp);
  ResetIdentificationState();
  s = NoteIdentificationFailed("down.", kNow, 0, kNow + 5000);
  EXPECT_EQ(s.failing_since, kNow);
  EXPECT_EQ(s.state, IdentificationState::kRetrying);
  EXPECT_NE(IdentificationStatusText(true, kNow).find("holding new tracks back: down."),
            std::string::npos);
}

}  // namespace
