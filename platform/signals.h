// SignalWatcher: turns SIGINT and SIGTERM into a callback on a thread of its
// own, so the main loop can end the way the shutdown command ends it (the
// callback posts a message; nothing runs inside the signal handler but a
// write to a self-pipe).
//
// One watcher may exist at a time per process; create it on the main thread
// early in start-up. The callback runs on the watcher's thread. While the
// watcher exists the two signals no longer end the process by themselves;
// the destructor stops the thread and restores the previous handlers.
#pragma once

#include <functional>
#include <thread>

#include "platform/wake_event.h"

namespace platform {

class SignalWatcher {
 public:
  explicit SignalWatcher(std::function<void(int signo)> on_signal);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // False when the pipe or the handlers could not be set up (another
  // watcher exists, or the system refused); the signals then keep their
  // default action.
  bool ok() const { return ok_; }

 private:
  void Watch();

  std::function<void(int)> on_signal_;
  WakeEvent stop_;
  std::thread thread_;
  bool ok_ = false;
};

// "SIGINT", "SIGTERM", ... or "signal N".
const char* SignalName(int signo);

}  // namespace platform
