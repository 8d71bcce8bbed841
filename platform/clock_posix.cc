#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace platform {
namespace {

class RealClock : public Clock {
 public:
  std::time_t WallTime() const override { return ::time(nullptr); }

  std::uint64_t TickMs() const override {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }

  void SleepMs(std::uint32_t ms) override {
    timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
  }
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Days from 1970-01-01 to the proleptic Gregorian date (y, m, d).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// mktime (tm_isdst = -1) of the UTC calendar fields of `t`: those fields
// taken as local time.
std::int64_t FieldsAsLocalTime(std::time_t t) {
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(::mktime(&tm));
}

// What a memo of local conversions is valid for: the TZ variable and the
// wall-clock second it was made in (a zone file replaced meanwhile is seen
// from the next second on).
struct ZoneStamp {
  bool tz_set = false;
  std::string tz;
  std::time_t second = 0;
  bool operator==(const ZoneStamp&) const = default;
};

ZoneStamp CurrentZoneStamp() {
  const char* tz = ::getenv("TZ");
  return {tz != nullptr, tz ? tz : "", ::time(nullptr)};
}

// FieldsAsLocalTime for `t` (seconds 0 to 59 of its minute) through a memo
// of hours: a batch of dates (an iTunes library has three a track) mostly
// shares hours, and within an hour without a zone change the conversion
// moves second for second. An hour counts as such when its first and last
// second convert 3599 s apart; any other hour is converted date by date.
std::int64_t CachedFieldsAsLocalTime(std::int64_t t) {
  struct Hour {
    bool valid = false;
    std::int64_t hour = 0;
    bool even = false;
    std::int64_t start = 0;
  };
  struct Memo {
    ZoneStamp zone;
    Hour hours[64];
  };
  thread_local Memo memo;
  const ZoneStamp zone = CurrentZoneStamp();
  if (!(memo.zone == zone)) memo = Memo{zone, {}};
  const std::int64_t hour = t >= 0 ? t / 3600 : (t - 3599) / 3600;
  // Hours a fixed distance apart (a day, a month) must not share slots.
  Hour& slot = memo.hours[(static_cast<std::uint64_t>(hour) * 0x9E3779B97F4A7C15u) >> 58];
  if (!slot.valid || slot.hour != hour) {
    slot.valid = true;
    slot.hour = hour;
    slot.start = FieldsAsLocalTime(static_cast<std::time_t>(hour * 3600));
    const std::int64_t end = FieldsAsLocalTime(static_cast<std::time_t>(hour * 3600 + 3599));
    slot.even = slot.start != -1 && end - slot.start == 3599;
  }
  if (!slot.even) return FieldsAsLocalTime(static_cast<std::time_t>(t));
  return slot.start + (t - hour * 3600);
}

}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return tm;
}

bool TryLocalTime(std::time_t t, std::tm* out) {
  *out = std::tm{};
  return ::localtime_r(&t, out) != nullptr;
}

std::int64_t NowAsStoredTime(std::time_t t) {
  // mktime looks the time zone up again on every call (glibc stats
  // /etc/localtime each time when TZ is unset), which made it the largest
  // cost of adding a record. Its answer depends only on `t` and the zone, so
  // each thread keeps its last answer and reuses it while the second and the
  // TZ variable are unchanged; a zone file replaced meanwhile is seen from
  // the next second on.
  struct Memo {
    bool valid = false;
    std::time_t t = 0;
    ZoneStamp zone;
    std::int64_t stored = 0;
  };
  thread_local Memo memo;
  const ZoneStamp zone = CurrentZoneStamp();
  if (memo.valid && memo.t == t && memo.zone == zone) return memo.stored;
  memo.valid = true;
  memo.t = t;
  memo.zone = zone;
  memo.stored = FieldsAsLocalTime(t);
  return memo.stored;
}

std::string FormatLocalTime(std::time_t t, const char* format) {
  std::tm tm = LocalTime(t);
  char buf[128];
  size_t n = ::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

bool ParseTimeText(std::string_view text, std::int64_t* stored) {
  if (text.size() < 19) return false;
  auto number = [&](std::size_t pos, std::size_t width, int* value) {
    *value = 0;
    for (std::size_t i = pos; i < pos + width; ++i) {
      if (!IsDigit(text[i])) return false;
      *value = *value * 10 + (text[i] - '0');
    }
    return true;
  };
  int year, month, day, hour, minute, second;
  if (!number(0, 4, &year) || !number(5, 2, &month) || !number(8, 2, &day) ||
      !number(11, 2, &hour) || !number(14, 2, &minute) || !number(17, 2, &second))
    return false;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  // The fields as UTC seconds, turned back into the same calendar fields
  // and converted as local time, as NowAsStoredTime does: what the record's
  // times are made of.
  const std::int64_t utc =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
      hour * 3600 + minute * 60 + second;
  *stored = second < 60 ? CachedFieldsAsLocalTime(utc) : FieldsAsLocalTime(utc);
  return true;
}

}  // namespace platform
