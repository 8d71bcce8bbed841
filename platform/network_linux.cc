#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file_io.h"
#include "platform/last_error.h"
#include "platform/network.h"
#include "platform/text.h"

namespace platform {
namespace {

// ARPHRD_LOOPBACK in the interface's `type` file.
constexpr int kArpTypeLoopback = 772;

bool ReadSmallFile(const std::filesystem::path& path, std::string* out) {
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  *out = std::string(TrimWhite(text.str()));
  return true;
}

// "02:fc:00:00:00:01" -> bytes; empty for anything else.
std::vector<unsigned char> ParseHardwareAddress(const std::string& text) {
  std::vector<unsigned char> bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (i + 2 > text.size() || !std::isxdigit(static_cast<unsigned char>(text[i])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
      return {};
    bytes.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
    if (i < text.size()) {
      if (text[i] != ':') return {};
      ++i;
    }
  }
  return bytes;
}

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Non-blocking connect to one address; 0 or the errno of the failure.
int ConnectOne(const addrinfo* ai, int timeout_ms, const std::function<bool()>& should_stop) {
  Socket sock(
      ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol));
  if (sock.fd() < 0) return errno;
  if (::connect(sock.fd(), ai->ai_addr, ai->ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  pollfd pfd{sock.fd(), POLLOUT, 0};
  // In steps, so that a stop is noticed while the peer stays silent.
  constexpr int kStepMs = 50;
  int n;
  for (int left = std::max(timeout_ms, 0);; left -= kStepMs) {
    do {
      n = ::poll(&pfd, 1, should_stop ? std::min(left, kStepMs) : left);
    } while (n < 0 && errno == EINTR);
    if (n != 0 || left <= kStepMs || !should_stop) break;
    if (should_stop()) return ECANCELED;
  }
  if (n < 0) return errno;
  if (n == 0) return ETIMEDOUT;
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(sock.fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

}  // namespace

bool ListNetAdapters(std::vector<NetAdapter>* out, const std::string& root) {
  out->clear();
  std::error_code ec;
  std::filesystem::directory_iterator it(root, ec);
  if (ec) {
    SetLastErrorEx(ErrorFromErrno(ec.value()));
    return false;
  }
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::filesystem::path dir = it->path();
    std::string index_text, address_text, type_text;
    if (!ReadSmallFile(dir / "ifindex", &index_text)) continue;
    NetAdapter adapter;
    adapter.name = dir.filename().string();
    try {
      adapter.ifindex = std::stoi(index_text);
    } catch (const std::exception&) {
      continue;
    }
    if (ReadSmallFile(dir / "address", &address_text))
      adapter.address = ParseHardwareAddress(address_text);
    if (ReadSmallFile(dir / "type", &type_text)) {
      try {
        adapter.loopback = std::stoi(type_text) == kArpTypeLoopback;
      } catch (const std::exception&) {
      }
    }
    out->push_back(std::move(adapter));
  }
  return true;
}

bool HasConnectedInterface() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) {
    SetLastErrorEx(ErrorFromErrno(errno));
    return false;
  }
  bool found = false;
  for (const ifaddrs* ifa = list; ifa && !found; ifa = ifa->ifa_next) {
    if (!ifa->ifa_addr) continue;
    const int family = ifa->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    found = (ifa->ifa_flags & IFF_UP) && !(ifa->ifa_flags & IFF_LOOPBACK);
  }
  ::freeifaddrs(list);
  return found;
}

bool IsLoopbackHost(const std::string& host) {
  std::string name = AsciiLower(host);
  if (!name.empty() && name.back() == '.') name.pop_back();
  if (name == "localhost" || name.ends_with(".localhost")) return true;
  if (name.size() > 2 && name.front() == '[' && name.back() == ']')
    name = name.substr(1, name.size() - 2);
  in_addr v4{};
  if (::inet_pton(AF_INET, name.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (::inet_pton(AF_INET6, name.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return false;
}

bool ProbeTcpConnect(const std::string& host, int port, int timeout_ms, std::string* why,
                     const std::function<bool()>& should_stop) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string name = host;
  if (name.size() > 2 && name.front() == '[' && name.back() == ']')
    name = name.substr(1, name.size() - 2);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  int rc = ::getaddrinfo(name.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    SetLastErrorEx(ErrorFromErrno(rc == EAI_SYSTEM ? errno : ENOENT));
    if (why) *why = ::gai_strerror(rc);
    return false;
  }
  int err = ETIMEDOUT;
  for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      err = ETIMEDOUT;
      break;
    }
    err = ConnectOne(ai, static_cast<int>(left), should_stop);
    if (err == 0 || err == ECANCELED) break;
  }
  ::freeaddrinfo(found);
  if (err == 0) return true;
  SetLastErrorEx(ErrorFromErrno(err));
  if (why) *why = ErrnoText(err);
  return false;
}

std::string SystemNameAndRelease() {
  utsname names{};
  if (::uname(&names) != 0) {
    SetLastErrorEx(ErrorFromErrno(errno));
    return {};
  }
  return std::string(names.sysname) + " " + names.release;
}

std::string SystemProxySetting() {
  for (const char* name : {"http_proxy", "HTTP_PROXY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != 0) return value;
  }
  return {};
}

}  // namespace platform
