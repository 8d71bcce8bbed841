#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

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
    bool tz_set = false;
    std::string tz;
    std::int64_t stored = 0;
  };
  thread_local Memo memo;
  const char* tz = ::getenv("TZ");
  if (memo.valid && memo.t == t && memo.tz_set == (tz != nullptr) && (!tz || memo.tz == tz))
    return memo.stored;
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  tm.tm_isdst = -1;
  const std::int64_t stored = static_cast<std::int64_t>(::mktime(&tm));
  memo.valid = true;
  memo.t = t;
  memo.tz_set = tz != nullptr;
  memo.tz = tz ? tz : "";
  memo.stored = stored;
  return stored;
}

std::string FormatLocalTime(std::time_t t, const char* format) {
  std::tm tm = LocalTime(t);
  char buf[128];
  size_t n = ::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

}  // namespace platform
