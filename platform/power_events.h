// PowerEvents: tells the program when the system is about to sleep and when
// it has resumed, from logind's PrepareForSleep(bool) signal on the system
// D-Bus (true = going to sleep, false = resumed). Only signals sent by the
// owner of the name org.freedesktop.login1 count, so another program on the
// bus cannot disable the agents by faking one.
//
// Where there is no system bus (containers, CI) the watcher does not run:
// ok() is false and error() says why; the caller logs it once.
//
// Construct and destroy on one thread. The callback runs on the watcher's
// own thread; it should only post a message and return.
#pragma once

#include <functional>
#include <string>
#include <thread>

#include "platform/wake_event.h"

struct sd_bus;
struct sd_bus_slot;

namespace platform {

class PowerEvents {
 public:
  // Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set) and
  // starts watching.
  explicit PowerEvents(std::function<void(bool suspending)> on_event);
  ~PowerEvents();
  PowerEvents(const PowerEvents&) = delete;
  PowerEvents& operator=(const PowerEvents&) = delete;

  bool ok() const { return bus_ != nullptr; }
  const std::string& error() const { return error_; }

 private:
  void Watch();
  void Close();

  std::function<void(bool)> on_event_;
  sd_bus* bus_ = nullptr;
  sd_bus_slot* slot_ = nullptr;
  std::string error_;
  WakeEvent stop_;
  std::thread thread_;
};

}  // namespace platform
