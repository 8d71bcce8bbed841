#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iterator>

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

// The terminal's settings before the echo went off, for the signal handler.
termios g_saved_terminal;
constexpr int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// A signal that ends the program while the echo is off: the
// terminal gets its echo back, then the signal takes its usual course.
void RestoreAndResignal(int signo) {
  ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  ::signal(signo, SIG_DFL);
  ::raise(signo);
}

// Installs RestoreAndResignal for the signals above while it lives.
class RestoreOnSignal {
 public:
  explicit RestoreOnSignal(const termios& saved) {
    g_saved_terminal = saved;
    struct sigaction action {};
    action.sa_handler = &RestoreAndResignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kRestoringSignals); ++i)
      ::sigaction(kRestoringSignals[i], &action, &previous_[i]);
  }
  ~RestoreOnSignal() {
    for (std::size_t i = 0; i < std::size(kRestoringSignals); ++i)
      ::sigaction(kRestoringSignals[i], &previous_[i], nullptr);
  }
  RestoreOnSignal(const RestoreOnSignal&) = delete;
  RestoreOnSignal& operator=(const RestoreOnSignal&) = delete;

 private:
  struct sigaction previous_[std::size(kRestoringSignals)]{};
};

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
  RestoreOnSignal restore(saved);
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  const bool ok = ReadLine(STDIN_FILENO, line, max_bytes, too_long);
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  return ok;
}

}  // namespace platform
