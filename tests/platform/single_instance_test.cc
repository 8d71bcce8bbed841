#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
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

TEST(SingleInstanceTest, SecondCopyIsRefusedAndHandsItsCommandToTheFirst) {
  TempEnv env;
  Received received;
  SingleInstance first(RuntimeDir());
  ASSERT_EQ(first.Acquire(), SingleInstance::State::kFirst);
  ASSERT_TRUE(first.Listen([&](std::uint32_t c) { received.Add(c); }));

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
    ASSERT_TRUE(first.Listen([&](std::uint32_t c) { received.Add(c); }));
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
