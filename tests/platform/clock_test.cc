#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace platform {
namespace {

TEST(ClockTest, FakeClockMovesOnlyByHand) {
  FakeClock clock(1000, 50);
  EXPECT_EQ(clock.TickMs(), 50u);
  clock.SleepMs(2500);
  EXPECT_EQ(clock.TickMs(), 2550u);
  EXPECT_EQ(clock.WallTime(), 1002);
}

TEST(ClockTest, StoredTimeFeedsUtcFieldsToLocalConversion) {
  ::setenv("TZ", "CET-1", 1);
  ::tzset();
  // 12:00 UTC read as 12:00 local CET is 11:00 UTC: one hour earlier.
  EXPECT_EQ(NowAsStoredTime(1700000000), 1700000000 - 3600);
  EXPECT_EQ(FormatLocalTime(0, "%Y-%m-%d %H"), "1970-01-01 01");
  ::unsetenv("TZ");
  ::tzset();
}

// Stored times are remembered per second; a zone changed in between, with
// or without tzset, must still be followed, on every thread.
TEST(ClockTest, StoredTimeFollowsTimeZoneChangesWithinOneSecond) {
  const std::time_t t = 1700000000;
  ::setenv("TZ", "CET-1", 1);
  ::tzset();
  EXPECT_EQ(NowAsStoredTime(t), t - 3600);
  EXPECT_EQ(NowAsStoredTime(t), t - 3600);
  ::setenv("TZ", "EST5", 1);
  ::tzset();
  EXPECT_EQ(NowAsStoredTime(t), t + 5 * 3600);
  std::int64_t other = 0;
  std::thread([&] { other = NowAsStoredTime(t); }).join();
  EXPECT_EQ(other, t + 5 * 3600);
  ::setenv("TZ", "UTC0", 1);
  EXPECT_EQ(NowAsStoredTime(t), t);
  EXPECT_EQ(NowAsStoredTime(t + 1), t + 1);
  ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace platform
