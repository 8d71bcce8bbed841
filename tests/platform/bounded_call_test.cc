#include "platform/bounded_call.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using Steady = std::chrono::steady_clock;

TEST(RunWithinTest, AnswersInTimeOrGivesUpWithoutWaitingForTheCall) {
  auto value = std::make_shared<std::atomic<int>>(0);
  EXPECT_TRUE(platform::RunWithin(5000, [value] { *value = 1; }));
  EXPECT_EQ(*value, 1);

  // A call that hangs (as stat on a dead network mount does): the caller
  // goes on after the time-out and the call finishes later on its own.
  auto release = std::make_shared<std::atomic<bool>>(false);
  const auto start = Steady::now();
  EXPECT_FALSE(platform::RunWithin(50, [release, value] {
    while (!*release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    *value = 2;
  }));
  EXPECT_LT(Steady::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(*value, 1);
  *release = true;
  const auto deadline = Steady::now() + std::chrono::seconds(5);
  while (*value != 2 && Steady::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(*value, 2);
}

}  // namespace
