#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/secret_text.h"
#include "platform/single_instance.h"

namespace platform {
namespace {

// A client has this long from its connection to its whole request line;
// then it is dropped, so a slow or silent client holds up nothing.
constexpr int kClientDeadlineMs = 200;
// Clients served at once; a further connection displaces the oldest.
constexpr std::size_t kMaxClients = 8;
// A request holds at most a folder path or an account's name and password.
constexpr std::size_t kMaxRequestBytes = 8192;
// Answers may list every music folder.
constexpr std::size_t kMaxAnswerBytes = 65536;
constexpr int kRetryStepMs = 50;
// A lock found taken is tried again this often, this far apart: someone
// may only be looking at it (FindRunningCopy).
constexpr int kLockTries = 5;
constexpr int kLockRetryMs = 20;
// The published text is a pid and a socket path.
constexpr std::size_t kMaxPublishedBytes = 4096;

bool MakeAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

void SleepMs(int ms) {
  timespec req{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&req, &req) != 0 && errno == EINTR) {
  }
}

std::int64_t NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until `fd` is ready for `events` or `deadline_ms` passes.
bool WaitReady(int fd, short events, std::int64_t deadline_ms) {
  for (;;) {
    const std::int64_t left = deadline_ms - NowMs();
    if (left <= 0) {
      errno = ETIMEDOUT;
      return false;
    }
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

struct Client {
  int fd;
  std::int64_t deadline_ms;
  std::string text;
};

}  // namespace

bool ParseInstanceCommand(const std::string& text, std::uint32_t* command) {
  // A view, not a copy: the text may be a request that carries a password.
  const std::string_view digits = std::string_view(text).substr(0, text.find_first_of("\r\n"));
  if (digits.empty() || digits.size() > 10) return false;
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFull) return false;
  *command = static_cast<std::uint32_t>(value);
  return true;
}

SingleInstance::SingleInstance(std::string lock_dir, std::string socket_dir)
    : lock_dir_(std::move(lock_dir)), socket_dir_(std::move(socket_dir)) {}

SingleInstance::~SingleInstance() { Release(); }

SingleInstance::State SingleInstance::Acquire() {
  if (state_ == State::kFirst) return state_;
  if (lock_fd_ < 0)
    lock_fd_ = ::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock_fd_ < 0) {
    error_ = errno;
    return state_ = State::kFailed;
  }
  for (int tries = 1;; ++tries) {
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) == 0) {
      Publish("");
      return state_ = State::kFirst;
    }
    error_ = errno;
    if (error_ != EWOULDBLOCK || tries >= kLockTries) break;
    SleepMs(kLockRetryMs);
  }
  ::close(lock_fd_);
  lock_fd_ = -1;
  if (error_ != EWOULDBLOCK) return state_ = State::kFailed;
  const RunningCopyInfo running = FindRunningCopy(lock_dir_);
  if (!running.socket_path.empty()) peer_socket_ = running.socket_path;
  return state_ = State::kAnotherRunning;
}

void SingleInstance::Publish(const std::string& socket_path) {
  if (lock_fd_ < 0) return;
  const std::string text = std::to_string(::getpid()) + "\n" + socket_path + "\n";
  if (::ftruncate(lock_fd_, 0) == 0) {
    // Without it later copies fall back to their own socket folder.
    const ssize_t n = ::pwrite(lock_fd_, text.data(), text.size(), 0);
    (void)n;
  }
}

RunningCopyInfo FindRunningCopy(const std::string& lock_dir) {
  RunningCopyInfo info;
  const std::string path = lock_dir + "/kiv.lock";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return info;
  if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return info;
  }
  info.running = errno == EWOULDBLOCK;
  char buf[kMaxPublishedBytes];
  const ssize_t n = info.running ? ::pread(fd, buf, sizeof buf, 0) : 0;
  ::close(fd);
  if (n <= 0) return info;
  const std::string text(buf, static_cast<std::size_t>(n));
  const std::size_t end = text.find('\n');
  if (end == std::string::npos) return info;
  info.pid = std::strtol(text.substr(0, end).c_str(), nullptr, 10);
  const std::size_t socket_end = text.find('\n', end + 1);
  if (socket_end != std::string::npos) {
    std::string socket = text.substr(end + 1, socket_end - end - 1);
    // Only an absolute path is taken from the file.
    if (!socket.empty() && socket[0] == '/') info.socket_path = std::move(socket);
  }
  return info;
}

bool SingleInstance::Listen(std::function<bool(std::uint32_t)> on_command,
                            std::function<std::string(const std::string&)> on_request) {
  if (state_ != State::kFirst || listen_fd_ >= 0) {
    error_ = EINVAL;
    return false;
  }
  sockaddr_un addr;
  if (!MakeAddress(SocketPath(), &addr)) {
    error_ = ENAMETOOLONG;
    return false;
  }
  // Non-blocking, so that the listener takes every waiting connection and
  // then returns to its wait.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  // We hold the lock, so any socket file left here belongs to a copy that
  // is gone.
  ::unlink(addr.sun_path);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(addr.sun_path, 0600) != 0 || ::listen(fd, 8) != 0) {
    error_ = errno;
    ::close(fd);
    return false;
  }
  listen_fd_ = fd;
  Publish(SocketPath());
  on_command_ = std::move(on_command);
  on_request_ = std::move(on_request);
  stop_.Clear();
  stopping_ = false;
  listener_ = std::thread([this] { Serve(); });
  return true;
}

void SingleInstance::Serve() {
  std::vector<Client> clients;
  std::vector<pollfd> fds;
  for (;;) {
    fds.assign({{listen_fd_, POLLIN, 0}, {stop_.fd(), POLLIN, 0}});
    int wait_ms = -1;
    const std::int64_t now = NowMs();
    for (const Client& client : clients) {
      fds.push_back({client.fd, POLLIN, 0});
      const std::int64_t left = std::max<std::int64_t>(0, client.deadline_ms - now);
      if (wait_ms < 0 || left < wait_ms) wait_ms = static_cast<int>(left);
    }
    if (::poll(fds.data(), fds.size(), wait_ms) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) break;
    // Clients first: fds[2 + i] belongs to clients[i]. An answer may take
    // a while, so stopping is looked at before each one.
    for (std::size_t i = clients.size(); i-- > 0 && !stopping_;) {
      if (!ServeClient(clients[i].fd, fds[2 + i].revents != 0, clients[i].deadline_ms,
                       clients[i].text)) {
        ::close(clients[i].fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
    if (stopping_) break;
    if (fds[0].revents & POLLIN) {
      for (;;) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) break;
        // Full: the oldest client makes room, so idle connections cannot
        // keep a newcomer out.
        if (clients.size() >= kMaxClients) {
          WipeString(clients.front().text);
          ::close(clients.front().fd);
          clients.erase(clients.begin());
        }
        clients.push_back({fd, NowMs() + kClientDeadlineMs, {}});
        clients.back().text.reserve(kMaxRequestBytes * 2);  // never grown: no stale copies
      }
    }
  }
  for (Client& client : clients) {
    WipeString(client.text);
    ::close(client.fd);
  }
}

bool SingleInstance::ServeClient(int fd, bool readable, std::int64_t deadline_ms,
                                 std::string& text) {
  // A request may carry a password: every copy of it is wiped once used.
  if (readable) {
    char buf[kMaxRequestBytes];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return NowMs() < deadline_ms;
    if (n <= 0) {
      WipeString(text);
      return false;  // gone before its line was whole
    }
    text.append(buf, static_cast<std::size_t>(n));
    ::explicit_bzero(buf, static_cast<std::size_t>(n));
    const std::size_t end = text.find('\n');
    if (end != std::string::npos) {
      std::string request = text.substr(0, end);
      WipeString(text);
      const std::string answer = Answer(request) + "\n";
      WipeString(request);
      ::send(fd, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
      return false;
    }
    if (text.size() >= kMaxRequestBytes) {
      WipeString(text);
      return false;
    }
  }
  if (NowMs() < deadline_ms) return true;
  WipeString(text);
  return false;
}

std::string SingleInstance::Answer(const std::string& request) {
  std::uint32_t command;
  if (!ParseInstanceCommand(request, &command))
    return on_request_ ? on_request_(request) : "error unknown request";
  return on_command_ && on_command_(command) ? "ok" : "error unknown request";
}

bool SingleInstance::SendCommand(std::uint32_t command, int timeout_ms) {
  std::string answer;
  if (!SendRequest(std::to_string(command), &answer, timeout_ms)) return false;
  if (answer == "ok") return true;
  error_ = EPROTO;
  return false;
}

bool SingleInstance::SendRequest(const std::string& request, std::string* answer, int timeout_ms) {
  answer->clear();
  sockaddr_un addr;
  if (!MakeAddress(PeerSocketPath(), &addr)) {
    error_ = ENAMETOOLONG;
    return false;
  }
  const std::int64_t deadline = NowMs() + timeout_ms;
  int fd = -1;
  // The running copy may still be setting up its socket, or be busy: the
  // connection is tried again until the time limit, never waited on.
  for (;;) {
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      error_ = errno;
      return false;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
    error_ = errno;
    ::close(fd);
    if (NowMs() >= deadline) return false;
    SleepMs(kRetryStepMs);
  }
  std::string line = request + "\n";
  WipeOnExit wipe_line(line);
  std::size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitReady(fd, POLLOUT, deadline)) break;
    } else {
      break;
    }
  }
  std::string text;
  while (sent == line.size() && text.find('\n') == std::string::npos &&
         text.size() < kMaxAnswerBytes) {
    char buf[4096];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      text.append(buf, static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitReady(fd, POLLIN, deadline)) break;
    } else {
      errno = n == 0 ? ECONNRESET : errno;
      break;
    }
  }
  const std::size_t end = text.find('\n');
  error_ = end == std::string::npos ? (errno ? errno : EIO) : 0;
  ::close(fd);
  if (end == std::string::npos) return false;
  *answer = text.substr(0, end);
  return true;
}

void SingleInstance::StopListening() {
  if (listener_.joinable()) {
    stopping_ = true;
    stop_.Signal();
    listener_.join();
  }
  if (listen_fd_ >= 0) {
    ::close(listen_fd_);
    listen_fd_ = -1;
    ::unlink(SocketPath().c_str());
  }
}

void SingleInstance::Release() {
  StopListening();
  if (lock_fd_ >= 0) {
    if (state_ == State::kFirst && ::ftruncate(lock_fd_, 0) != 0) {
      // What it published stays, and is ignored while nobody holds the lock.
    }
    ::close(lock_fd_);  // Releases the flock.
    lock_fd_ = -1;
  }
  if (state_ == State::kFirst) state_ = State::kNotTried;
}

}  // namespace platform
