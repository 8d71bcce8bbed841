#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/desktop_open.h"

extern char** environ;

namespace platform {

DesktopOpen OpenWithDesktopHandler(const std::string& path, int wait_ms,
                                   const std::function<bool()>& give_up, int* detail) {
  std::string program = "xdg-open";
  std::string argument = path;
  char* argv[] = {program.data(), argument.data(), nullptr};
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own session: a signal meant for the program's terminal does not
  // reach the handler the user is now working with.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, program.c_str(), nullptr, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    if (detail) *detail = rc;
    return DesktopOpen::kNotStarted;
  }
  constexpr int kPollMs = 50;
  for (int waited = 0;; waited += kPollMs) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      if (detail) *detail = code;
      return code == 0 ? DesktopOpen::kOpened : DesktopOpen::kFailed;
    }
    if (done < 0 && errno != EINTR) {
      if (detail) *detail = errno;
      return DesktopOpen::kFailed;
    }
    if (waited >= wait_ms || (give_up && give_up())) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  // Some xdg-open back ends stay as long as the handler does; nobody waits
  // for them any longer.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  if (detail) *detail = 0;
  return DesktopOpen::kOpened;
}

}  // namespace platform
