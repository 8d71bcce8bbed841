#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/terminal.h"

namespace platform {
namespace {

// Reads up to a line feed; a carriage return before it is dropped. Stops
// reading once the line would pass `max_bytes`.
bool ReadLine(int fd, std::string* line, std::size_t max_bytes, bool* too_long) {
  line->clear();
  if (too_long) *too_long = false;
  bool any = false;
  for (;;) {
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return any;
    any = true;
    if (c == '\n') break;
    // One byte of room for a carriage return before the line feed.
    if (line->size() > max_bytes) {
      line->clear();
      if (too_long) *too_long = true;
      return false;
    }
    line->push_back(c);
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  if (line->size() > max_bytes) {
    line->clear();
    if (too_long) *too_long = true;
    return false;
  }
  return true;
}

}  // namespace

bool ReadSecretLine(const std::string& prompt, std::string* line, std::size_t max_bytes,
                    bool* too_long) {
  termios saved{};
  if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved) != 0)
    return ReadLine(STDIN_FILENO, line, max_bytes, too_long);
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  const bool ok = ReadLine(STDIN_FILENO, line, max_bytes, too_long);
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  return ok;
}

}  // namespace platform
