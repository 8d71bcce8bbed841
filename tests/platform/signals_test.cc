#include "platform/signals.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace platform {
namespace {

TEST(SignalWatcherTest, TermAndIntReachTheCallbackInsteadOfEndingTheProcess) {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<int> seen;
  {
    SignalWatcher watcher([&](int signo) {
      std::lock_guard<std::mutex> lock(mutex);
      seen.push_back(signo);
      cv.notify_all();
    });
    ASSERT_TRUE(watcher.ok());
    SignalWatcher second([](int) {});
    EXPECT_FALSE(second.ok());
    ::kill(::getpid(), SIGTERM);
    ::kill(::getpid(), SIGINT);
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return seen.size() >= 2; }));
  }
  EXPECT_EQ(seen, (std::vector<int>{SIGTERM, SIGINT}));
  EXPECT_STREQ(SignalName(SIGTERM), "SIGTERM");
  // The previous disposition is back.
  struct sigaction now {};
  ::sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace platform
