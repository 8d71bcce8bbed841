#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/inotify_watcher.h"
#include "platform/last_error.h"

namespace platform {
namespace {

constexpr std::uint32_t kWatchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY | IN_ONLYDIR;

WatchEvent::Kind KindOf(std::uint32_t mask) {
  if (mask & IN_Q_OVERFLOW) return WatchEvent::Kind::kOverflow;
  if (mask & IN_IGNORED) return WatchEvent::Kind::kWatchGone;
  if (mask & IN_ISDIR) {
    if (mask & (IN_CREATE | IN_MOVED_TO)) return WatchEvent::Kind::kFolderAppeared;
    if (mask & IN_MOVED_FROM) return WatchEvent::Kind::kFolderMovedAway;
    if (mask & IN_DELETE) return WatchEvent::Kind::kFolderDeleted;
  }
  return WatchEvent::Kind::kChanged;
}

}  // namespace

InotifyWatcher::InotifyWatcher() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (fd_ < 0) SetLastErrorEx(ErrorFromErrno(errno));
}

InotifyWatcher::~InotifyWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

int InotifyWatcher::AddWatch(const std::string& path, bool* limit_reached) {
  if (limit_reached) *limit_reached = false;
  if (fd_ < 0) return -1;
  int watch = ::inotify_add_watch(fd_, path.c_str(), kWatchMask);
  if (watch < 0) {
    int err = errno;
    if (limit_reached) *limit_reached = (err == ENOSPC || err == ENOMEM);
    SetLastErrorEx(ErrorFromErrno(err));
  }
  return watch;
}

void InotifyWatcher::RemoveWatch(int watch) {
  if (fd_ >= 0 && watch >= 0) ::inotify_rm_watch(fd_, watch);
}

bool InotifyWatcher::Wait(int timeout_ms, std::vector<WatchEvent>* events) {
  if (fd_ < 0) return false;
  struct pollfd pfd = {fd_, POLLIN, 0};
  int ready = ::poll(&pfd, 1, timeout_ms);
  if (ready <= 0) return false;
  bool any = false;
  alignas(struct inotify_event) char buffer[16384];
  for (;;) {
    ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;  // EAGAIN: drained
    for (ssize_t at = 0; at < got;) {
      const auto* raw = reinterpret_cast<const struct inotify_event*>(buffer + at);
      WatchEvent event;
      event.kind = KindOf(raw->mask);
      event.watch = raw->wd;
      if (raw->len > 0) event.name = raw->name;  // NUL-padded
      events->push_back(std::move(event));
      any = true;
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + raw->len);
    }
  }
  return any;
}

std::uint64_t MaxUserWatches() {
  std::ifstream in("/proc/sys/fs/inotify/max_user_watches");
  std::uint64_t value = 0;
  if (!(in >> value)) return 0;
  return value;
}

}  // namespace platform
