#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/terminal.h"

namespace platform {
namespace {

// Reads up to a line feed; a carriage return before it is dropped.
bool ReadLine(int fd, std::string* line) {
  line->clear();
  bool any = false;
  for (;;) {
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return any;
    any = true;
    if (c == '\n') break;
    line->push_back(c);
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

}  // namespace

bool ReadSecretLine(const std::string& prompt, std::string* line) {
  termios saved{};
  if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved) != 0)
    return ReadLine(STDIN_FILENO, line);
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  const bool ok = ReadLine(STDIN_FILENO, line);
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  return ok;
}

}  // namespace platform
