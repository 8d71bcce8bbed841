#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "platform/folders.h"
#include "tests/support/temp_env.h"

namespace platform {
namespace {

using testing_support::TempEnv;

// Collects commands from the listener thread.
struct Received {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::uint32_t> commands;

  void Add(std::uint32_t command) {
    std::lock_guard<std::mutex> lock(mutex);
    commands.push_back(command);
    cv.notify_all();
  }
  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(5), [&] { return commands.size() >= count; });
  }
};

// Copies started with another runtime folder, or none, meet the same lock
// and find the first copy's socket through it.
TEST(SingleInstanceTest, TheLockNamesTheRunningCopyAndItsSocket) {
  TempEnv env;
  const std::string data = env.Path("data");
  const std::string session = env.Path("session");
  ASSERT_TRUE(EnsureDir(data) && EnsureDir(session) && EnsureDir(env.Path("other")));
  EXPECT_FALSE(FindRunningCopy(data).running);

  Received received;
  SingleInstance first(data, session);
  ASSERT_EQ(first.Acquire(), SingleInstance::State::kFirst);
  ASSERT_TRUE(first.Listen([&](std::uint32_t c) {
    received.Add(c);
    return true;
  }));
  const RunningCopyInfo found = FindRunningCopy(data);
  EXPECT_TRUE(found.running);
  EXPECT_EQ(found.pid, static_cast<long>(::getpid()));
  EXPECT_EQ(found.socket_path, session + "/kiv.sock");

  for (const std::string& own_runtime : {env.Path("other"), data}) {
    SingleInstance later(data, own_runtime);
    EXPECT_EQ(later.Acquire(), SingleInstance::State::kAnotherRunning);
    EXPECT_EQ(later.PeerSocketPath(), session + "/kiv.sock");
    EXPECT_TRUE(later.SendCommand(1624));
  }
  ASSERT_TRUE(received.WaitFor(2));
  first.Release();
  EXPECT_FALSE(FindRunningCopy(data).running);
}

TEST(SingleInstanceTest, SecondCopyIsRefusedAndHandsItsCommandToTheFirst) {
  TempEnv env;
  Received received;
  SingleInstance first(RuntimeDir());
  ASSERT_EQ(first.Acquire(), SingleInstance::State::kFirst);
  ASSERT_TRUE(first.Listen([&](std::uint32_t c) {
    received.Add(c);
    return true;
  }));

  SingleInstance second(RuntimeDir());
  EXPECT_EQ(second.Acquire(), SingleInstance::State::kAnotherRunning);
  EXPECT_TRUE(second.SendCommand(1624));
  EXPECT_TRUE(second.SendCommand(7));
  ASSERT_TRUE(received.WaitFor(2));
  EXPECT_EQ(received.commands, (std::vector<std::uint32_t>{1624, 7}));

  // Once the first copy is gone, the next start becomes the first copy.
  first.Release();
  EXPECT_FALSE(PathExists(first.SocketPath()));
  SingleInstance third(RuntimeDir());
  EXPECT_EQ(third.Acquire(), SingleInstance::State::kFirst);
}

TEST(SingleInstanceTest, StaleSocketIsReplacedAndSendFailsWithoutListener) {
  TempEnv env;
  testing_support::WriteFile(RuntimeDir() + "/kiv.sock", "left by a crashed copy");
  Received received;
  {
    SingleInstance first(RuntimeDir());
    ASSERT_EQ(first.Acquire(), SingleInstance::State::kFirst);
    ASSERT_TRUE(first.Listen([&](std::uint32_t c) {
      received.Add(c);
      return true;
    }));
    SingleInstance second(RuntimeDir());
    ASSERT_EQ(second.Acquire(), SingleInstance::State::kAnotherRunning);
    EXPECT_TRUE(second.SendCommand(1624));
    ASSERT_TRUE(received.WaitFor(1));
  }
  // Lock held but nobody listening: the sender gives up after its time-out.
  SingleInstance holder(RuntimeDir());
  ASSERT_EQ(holder.Acquire(), SingleInstance::State::kFirst);
  SingleInstance late(RuntimeDir());
  ASSERT_EQ(late.Acquire(), SingleInstance::State::kAnotherRunning);
  EXPECT_FALSE(late.SendCommand(1624, 100));
  EXPECT_NE(late.error(), 0);
}

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A connection to the socket at `path` that the test drives by hand; -1
// when it could not connect.
int ConnectTo(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(SingleInstanceTest, SlowAndIdleClientsHoldUpNeitherOthersNorShutdown) {
  TempEnv env;
  Received received;
  SingleInstance first(RuntimeDir());
  ASSERT_EQ(first.Acquire(), SingleInstance::State::kFirst);
  ASSERT_TRUE(first.Listen([&](std::uint32_t c) {
    received.Add(c);
    return true;
  }));

  // Idle connections, more than are served at once, and one that trickles
  // a byte now and then: the second copy still gets through at once.
  std::vector<int> idle;
  for (int i = 0; i < 12; ++i) idle.push_back(ConnectTo(first.SocketPath()));
  const int slow = ConnectTo(first.SocketPath());
  ASSERT_GE(slow, 0);
  std::thread trickle([slow] {
    for (int i = 0; i < 5; ++i) {
      if (::send(slow, "1", 1, MSG_NOSIGNAL) != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(90));
    }
  });
  SingleInstance second(RuntimeDir());
  std::string answer;
  EXPECT_TRUE(second.SendRequest("1624", &answer, 2000)) << second.error();
  EXPECT_EQ(answer, "ok");
  EXPECT_TRUE(second.SendRequest("open the pod bay doors", &answer, 2000));
  EXPECT_EQ(answer, "error unknown request");
  ASSERT_TRUE(received.WaitFor(1));

  const auto start = Clock::now();
  first.Release();
  EXPECT_LT(SecondsSince(start), 0.5);
  trickle.join();
  for (int fd : idle)
    if (fd >= 0) ::close(fd);
  ::close(slow);
  EXPECT_EQ(received.commands, (std::vector<std::uint32_t>{1624}));
}

TEST(SingleInstanceTest, ASenderGivesUpOnACopyThatNeverAnswers) {
  TempEnv env;
  SingleInstance holder(RuntimeDir());
  ASSERT_EQ(holder.Acquire(), SingleInstance::State::kFirst);
  // A socket that is listened on but never served, its queue full.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, holder.SocketPath().c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 0), 0);
  std::vector<int> queued;
  for (int i = 0; i < 4; ++i) {
    const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    queued.push_back(client);
  }
  SingleInstance late(RuntimeDir());
  ASSERT_EQ(late.Acquire(), SingleInstance::State::kAnotherRunning);
  auto start = Clock::now();
  EXPECT_FALSE(late.SendCommand(1624, 300));
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_NE(late.error(), 0);
  // Accepted but never answered: the same.
  for (int client : queued) ::close(client);
  start = Clock::now();
  EXPECT_FALSE(late.SendCommand(1624, 300));
  EXPECT_LT(SecondsSince(start), 2.0);
  ::close(fd);
}

TEST(SingleInstanceTest, UnusableFolderIsAFailureNotAnotherCopy) {
  TempEnv env;
  SingleInstance instance(env.Path("missing/folder"));
  EXPECT_EQ(instance.Acquire(), SingleInstance::State::kFailed);
  EXPECT_NE(instance.error(), 0);
}

TEST(SingleInstanceTest, CommandTextIsADecimalLine) {
  std::uint32_t command = 0;
  EXPECT_TRUE(ParseInstanceCommand("1624\n", &command));
  EXPECT_EQ(command, 1624u);
  EXPECT_TRUE(ParseInstanceCommand("4294967295", &command));
  EXPECT_FALSE(ParseInstanceCommand("4294967296\n", &command));
  EXPECT_FALSE(ParseInstanceCommand("16x4\n", &command));
  EXPECT_FALSE(ParseInstanceCommand("\n", &command));
}

}  // namespace
}  // namespace platform
