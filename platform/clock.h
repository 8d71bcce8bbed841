// Time as the program sees it: wall time, a monotonic millisecond tick and
// sleeping. Everything that waits, measures or stamps goes through a Clock
// so that tests can substitute FakeClock and move time by hand.
//
// SystemClock() is safe from any thread. A FakeClock is safe from any thread
// too; its sleeps return at once after advancing the fake time.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since the epoch (UTC), as time().
  virtual std::time_t WallTime() const = 0;
  // Milliseconds of a monotonic clock; only differences mean anything.
  virtual std::uint64_t TickMs() const = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
};

// The real clock: time(), steady_clock, nanosleep.
Clock& SystemClock();

class FakeClock : public Clock {
 public:
  explicit FakeClock(std::time_t wall = 1700000000, std::uint64_t tick = 1000000)
      : wall_ms_(static_cast<std::int64_t>(wall) * 1000), tick_(tick) {}

  std::time_t WallTime() const override { return static_cast<std::time_t>(wall_ms_ / 1000); }
  std::uint64_t TickMs() const override { return tick_; }
  void SleepMs(std::uint32_t ms) override { Advance(ms); }

  void Advance(std::uint64_t ms) {
    tick_ += ms;
    wall_ms_ += static_cast<std::int64_t>(ms);
  }

 private:
  std::atomic<std::int64_t> wall_ms_;
  std::atomic<std::uint64_t> tick_;
};

// The local calendar time of `t` (localtime_r).
std::tm LocalTime(std::time_t t);
// As LocalTime, but false when `t` has no local calendar time (a year
// beyond what std::tm holds).
bool TryLocalTime(std::time_t t, std::tm* out);

// The program's "now" for stored times: the UTC calendar fields of `t`
// (gmtime_r) converted back as if they were local time (mktime with
// tm_isdst = -1). The database and the server rely on this exact
// convention, so it is not "fixed" here.
std::int64_t NowAsStoredTime(std::time_t t);

// A time text "YYYY-MM-DDTHH:MM:SS..." (the library dates, the UpdateCheck
// setting): the six numbers at their fixed positions (0, 5, 8, 11, 14, 17)
// taken as a calendar time in the local time zone and converted the way
// stored times are (as NowAsStoredTime does). False, leaving `*stored`
// alone, when the text is shorter than 19 characters, a number position
// holds anything but digits, or a field is out of its calendar range.
bool ParseTimeText(std::string_view text, std::int64_t* stored);

// strftime of the local time of `t`.
std::string FormatLocalTime(std::time_t t, const char* format);

}  // namespace platform
