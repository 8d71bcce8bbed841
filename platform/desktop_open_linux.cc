#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

#include "platform/desktop_open.h"

extern char** environ;

namespace platform {

bool OpenWithDesktopHandler(const std::string& path, int* error) {
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
    if (error) *error = rc;
    return false;
  }
  // xdg-open may stay as long as the handler; nobody waits for it here.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace platform
