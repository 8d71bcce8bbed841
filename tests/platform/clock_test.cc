#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
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

// Time texts are converted through a memo of hours; every second of a day
// with a daylight-saving change (and of its neighbours) must still convert
// as mktime does, whatever order the texts come in.
TEST(ClockTest, TimeTextsMatchMktimeAcrossZoneChanges) {
  // Changes at half past, inside an hour.
  ::setenv("TZ", "CET-1CEST,M3.5.0/2:30,M10.5.0/2:30", 1);
  ::tzset();
  auto text = [](std::time_t fields) {
    std::tm tm{};
    ::gmtime_r(&fields, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return std::string(buf);
  };
  auto mktime_of = [](std::time_t fields) {
    std::tm tm{};
    ::gmtime_r(&fields, &tm);
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(::mktime(&tm));
  };
  // 2023-03-26 (spring forward) and 2023-10-29 (fall back), as UTC fields.
  for (const std::time_t day : {std::time_t{1679788800}, std::time_t{1698537600}}) {
    for (std::time_t s = day - 3600; s < day + 86400 + 3600; s += 61) {
      // Interleaved with a far date, so the memo keeps several hours.
      for (const std::time_t fields : {s, s + 40 * 86400}) {
        std::int64_t stored = 0;
        ASSERT_TRUE(ParseTimeText(text(fields), &stored));
        const std::int64_t expected = mktime_of(fields);
        // 01:30-02:29 of the fall-back day is there twice; either reading
        // may be mktime's.
        const bool repeated = fields >= 1698537600 + 5400 && fields < 1698537600 + 9000;
        if (repeated && stored != expected) {
          EXPECT_EQ(std::llabs(stored - expected), 3600) << text(fields);
        } else {
          EXPECT_EQ(stored, expected) << text(fields);
        }
      }
    }
  }
  ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace platform
