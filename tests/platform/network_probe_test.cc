// The TCP probe against a real loopback listener whose queue is full, so
// that a connection attempt gets no answer at all.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/last_error.h"
#include "platform/network.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

TEST(NetworkProbeTest, ASilentServerIsGivenUpOnAStop) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const int port = ntohs(addr.sin_port);
  // Never accepted: once the queue is full, further attempts go unanswered.
  std::vector<int> queued;
  for (int i = 0; i < 3; ++i) {
    queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    ::connect(queued.back(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  }
  EXPECT_FALSE(ProbeTcpConnect("127.0.0.1", port, 300));

  const auto start = Clock::now();
  const auto stop_at = start + std::chrono::milliseconds(200);
  EXPECT_FALSE(
      ProbeTcpConnect("127.0.0.1", port, 20000, nullptr, [&] { return Clock::now() >= stop_at; }));
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
  EXPECT_EQ(GetLastError(), ErrorFromErrno(ECANCELED));
  for (int fd : queued) ::close(fd);
  ::close(listener);
}

}  // namespace
}  // namespace platform
