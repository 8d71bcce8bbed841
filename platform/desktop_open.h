// Hands a file to the desktop's default handler for its type (xdg-open), as
// a user's double click would. The program never runs the file itself.
//
// Safe from any thread.
#pragma once

#include <functional>
#include <string>

namespace platform {

enum class DesktopOpen {
  kOpened,      // xdg-open ended with status 0, or was still working at the end of the wait
  kFailed,      // xdg-open ended with another status (no handler, the handler failed)
  kNotStarted,  // xdg-open could not be started
};

// Starts "xdg-open <path>" (the first xdg-open on PATH) in a session of its
// own and waits up to `wait_ms` for its exit status, or less when
// `give_up` (polled every 50 ms, may be empty) answers true. A handler
// still running then is left to itself and reaped in the background.
// `*detail` (when given) receives the exit status or the errno-style code.
DesktopOpen OpenWithDesktopHandler(const std::string& path, int wait_ms,
                                   const std::function<bool()>& give_up = {},
                                   int* detail = nullptr);

}  // namespace platform
