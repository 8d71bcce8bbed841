#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/signals.h"

namespace platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};

// The self-pipe; -1 when no watcher exists. Written from the handler only.
std::atomic<int> g_pipe_write{-1};
int g_pipe_read = -1;
struct sigaction g_previous[2];

void OnSignal(int signo) {
  int saved = errno;
  int fd = g_pipe_write.load();
  if (fd >= 0) {
    unsigned char byte = static_cast<unsigned char>(signo);
    ssize_t ignored = ::write(fd, &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void(int)> on_signal)
    : on_signal_(std::move(on_signal)) {
  if (g_pipe_write.load() >= 0 || !stop_.ok()) return;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_pipe_read = fds[0];
  g_pipe_write = fds[1];
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 2; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
  ok_ = true;
  thread_ = std::thread([this] { Watch(); });
}

SignalWatcher::~SignalWatcher() {
  if (!ok_) return;
  stop_.Signal();
  thread_.join();
  for (int i = 0; i < 2; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
  int write_fd = g_pipe_write.exchange(-1);
  ::close(write_fd);
  ::close(g_pipe_read);
  g_pipe_read = -1;
}

void SignalWatcher::Watch() {
  pollfd fds[2] = {{g_pipe_read, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    unsigned char buf[16];
    ssize_t n = ::read(g_pipe_read, buf, sizeof buf);
    for (ssize_t i = 0; i < n; ++i) on_signal_(buf[i]);
  }
}

const char* SignalName(int signo) {
  switch (signo) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default: {
      static thread_local char buf[32];
      std::snprintf(buf, sizeof buf, "signal %d", signo);
      return buf;
    }
  }
}

}  // namespace platform
