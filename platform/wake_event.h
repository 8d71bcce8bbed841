// WakeEvent: a counter-less "something happened" flag backed by an eventfd,
// so a waiting thread can be woken from any thread and another event loop
// can watch the descriptor (readable = signalled).
//
// Signal() is safe from any thread. Wait() and Clear() belong to the one
// thread that owns the waiting side. The descriptor closes on destruction.
#pragma once

namespace platform {

class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  // False when the eventfd could not be created; Wait then sleeps for its
  // time-out without waking early and Signal does nothing.
  bool ok() const { return fd_ >= 0; }
  // Readable while signalled; -1 when not ok().
  int fd() const { return fd_; }

  void Signal();
  // Resets to not signalled.
  void Clear();
  // Waits until signalled or `timeout_ms` passed (-1: no limit). True when
  // signalled. Does not clear the event.
  bool Wait(int timeout_ms);

 private:
  int fd_ = -1;
};

}  // namespace platform
