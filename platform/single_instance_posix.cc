#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/single_instance.h"

namespace platform {
namespace {

constexpr int kClientReadTimeoutMs = 1000;
constexpr std::size_t kMaxCommandBytes = 32;

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

}  // namespace

bool ParseInstanceCommand(const std::string& text, std::uint32_t* command) {
  std::size_t end = text.find_first_of("\r\n");
  std::string digits = text.substr(0, end);
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
  if (lock_fd_ < 0) lock_fd_ = ::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock_fd_ < 0) {
    error_ = errno;
    return state_ = State::kFailed;
  }
  if (::flock(lock_fd_, LOCK_EX | LOCK_NB) == 0) return state_ = State::kFirst;
  error_ = errno;
  ::close(lock_fd_);
  lock_fd_ = -1;
  return state_ = (error_ == EWOULDBLOCK) ? State::kAnotherRunning : State::kFailed;
}

bool SingleInstance::Listen(std::function<void(std::uint32_t)> on_command) {
  if (state_ != State::kFirst || listen_fd_ >= 0) {
    error_ = EINVAL;
    return false;
  }
  sockaddr_un addr;
  if (!MakeAddress(SocketPath(), &addr)) {
    error_ = ENAMETOOLONG;
    return false;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
  on_command_ = std::move(on_command);
  stop_.Clear();
  listener_ = std::thread([this] { Serve(); });
  return true;
}

void SingleInstance::Serve() {
  pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    HandleClient(client);
    ::close(client);
  }
}

void SingleInstance::HandleClient(int client) {
  std::string text;
  pollfd p{client, POLLIN, 0};
  while (text.size() < kMaxCommandBytes && text.find('\n') == std::string::npos) {
    if (::poll(&p, 1, kClientReadTimeoutMs) <= 0) break;
    char buf[kMaxCommandBytes];
    ssize_t n = ::recv(client, buf, sizeof buf, 0);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  std::uint32_t command;
  if (ParseInstanceCommand(text, &command) && on_command_) on_command_(command);
}

bool SingleInstance::SendCommand(std::uint32_t command, int timeout_ms) {
  sockaddr_un addr;
  if (!MakeAddress(SocketPath(), &addr)) {
    error_ = ENAMETOOLONG;
    return false;
  }
  const std::string line = std::to_string(command) + "\n";
  constexpr int kStepMs = 50;
  for (int waited = 0;; waited += kStepMs) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error_ = errno;
      return false;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      ssize_t n = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
      error_ = n == static_cast<ssize_t>(line.size()) ? 0 : (n < 0 ? errno : EIO);
      ::close(fd);
      return error_ == 0;
    }
    error_ = errno;
    ::close(fd);
    if (waited >= timeout_ms) return false;
    SleepMs(kStepMs);
  }
}

void SingleInstance::Release() {
  if (listener_.joinable()) {
    stop_.Signal();
    listener_.join();
  }
  if (listen_fd_ >= 0) {
    ::close(listen_fd_);
    listen_fd_ = -1;
    ::unlink(SocketPath().c_str());
  }
  if (lock_fd_ >= 0) {
    ::close(lock_fd_);  // Releases the flock.
    lock_fd_ = -1;
  }
  if (state_ == State::kFirst) state_ = State::kNotTried;
}

}  // namespace platform
