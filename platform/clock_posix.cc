#include <time.h>

#include <cerrno>
#include <chrono>

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
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(::mktime(&tm));
}

std::string FormatLocalTime(std::time_t t, const char* format) {
  std::tm tm = LocalTime(t);
  char buf[128];
  size_t n = ::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

}  // namespace platform
