#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/wake_event.h"

namespace platform {

WakeEvent::WakeEvent() { fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

WakeEvent::~WakeEvent() {
  if (fd_ >= 0) ::close(fd_);
}

void WakeEvent::Signal() {
  if (fd_ < 0) return;
  std::uint64_t one = 1;
  // EAGAIN means the counter is already at its maximum: still signalled.
  while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void WakeEvent::Clear() {
  if (fd_ < 0) return;
  std::uint64_t value;
  while (::read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool WakeEvent::Wait(int timeout_ms) {
  if (fd_ < 0) {
    if (timeout_ms > 0) {
      timespec req{timeout_ms / 1000, static_cast<long>(timeout_ms % 1000) * 1000000L};
      ::nanosleep(&req, nullptr);
    }
    return false;
  }
  pollfd p{fd_, POLLIN, 0};
  // An interrupted poll counts as an early wake-up: callers re-check.
  return ::poll(&p, 1, timeout_ms) > 0;
}

}  // namespace platform
