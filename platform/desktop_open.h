// Hands a file to the desktop's default handler for its type (xdg-open), as
// a user's double click would. The program never runs the file itself.
//
// Safe from any thread; returns without waiting for the handler.
#pragma once

#include <string>

namespace platform {

// Starts "xdg-open <path>" (the first xdg-open on PATH) in a session of its
// own and reaps it in the background. False when it could not be started
// (errno-style code in `*error` when given).
bool OpenWithDesktopHandler(const std::string& path, int* error = nullptr);

}  // namespace platform
