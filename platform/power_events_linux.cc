#include <poll.h>
#include <string.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <cerrno>
#include <cstdint>

#include "platform/power_events.h"

namespace platform {
namespace {

std::string ErrorText(const char* what, int negative_errno) {
  return std::string(what) + ": " + ::strerror(-negative_errno);
}

// Milliseconds from now until the monotonic deadline `usec`; -1 for none.
int PollTimeoutMs(std::uint64_t usec) {
  if (usec == UINT64_MAX) return -1;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t now_usec = static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
                                 static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
  if (usec <= now_usec) return 0;
  const std::uint64_t ms = (usec - now_usec + 999) / 1000;
  return ms > 60000 ? 60000 : static_cast<int>(ms);
}

// `userdata` is the watcher's callback.
int OnPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*) {
  int suspending = 0;
  if (::sd_bus_message_read(message, "b", &suspending) < 0) return 0;
  (*static_cast<std::function<void(bool)>*>(userdata))(suspending != 0);
  return 0;
}

}  // namespace

PowerEvents::PowerEvents(std::function<void(bool)> on_event) : on_event_(std::move(on_event)) {
  if (!stop_.ok()) {
    error_ = "unable to create the wake-up event";
    return;
  }
  int r = ::sd_bus_open_system(&bus_);
  if (r < 0) {
    bus_ = nullptr;
    error_ = ErrorText("no system bus", r);
    return;
  }
  r = ::sd_bus_match_signal(bus_, &slot_, "org.freedesktop.login1", "/org/freedesktop/login1",
                            "org.freedesktop.login1.Manager", "PrepareForSleep", &OnPrepareForSleep,
                            &on_event_);
  if (r < 0) {
    error_ = ErrorText("unable to watch PrepareForSleep on the system bus", r);
    Close();
    return;
  }
  thread_ = std::thread([this] { Watch(); });
}

PowerEvents::~PowerEvents() {
  if (thread_.joinable()) {
    stop_.Signal();
    thread_.join();
  }
  Close();
}

void PowerEvents::Close() {
  if (slot_) ::sd_bus_slot_unref(slot_);
  slot_ = nullptr;
  if (bus_) ::sd_bus_flush_close_unref(bus_);
  bus_ = nullptr;
}

void PowerEvents::Watch() {
  for (;;) {
    int r = ::sd_bus_process(bus_, nullptr);
    if (r < 0) return;  // connection lost: no more events
    if (r > 0) continue;
    std::uint64_t deadline = UINT64_MAX;
    if (::sd_bus_get_timeout(bus_, &deadline) < 0) deadline = UINT64_MAX;
    const int events = ::sd_bus_get_events(bus_);
    pollfd fds[2] = {{::sd_bus_get_fd(bus_), static_cast<short>(events < 0 ? POLLIN : events), 0},
                     {stop_.fd(), POLLIN, 0}};
    if (::poll(fds, 2, PollTimeoutMs(deadline)) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
  }
}

}  // namespace platform
