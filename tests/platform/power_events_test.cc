// The sleep and resume watcher against a private bus daemon started for the
// test, with a helper process that plays logind.
#include "platform/power_events.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_env.h"

extern char** environ;

namespace {

using testing_support::TempEnv;

constexpr const char* kDaemon = "/usr/bin/dbus-daemon";

// Standard error goes to `err_path` when given (the daemon talks there).
pid_t Spawn(std::vector<std::string> args, const std::string& err_path = {}) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!err_path.empty())
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  pid_t pid = -1;
  if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Sets DBUS_SYSTEM_BUS_ADDRESS for the test and restores it afterwards.
class SystemBusAddress {
 public:
  explicit SystemBusAddress(const std::string& address) {
    if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) old_ = old;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
  }
  ~SystemBusAddress() {
    if (old_)
      ::setenv("DBUS_SYSTEM_BUS_ADDRESS", old_->c_str(), 1);
    else
      ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }

 private:
  std::optional<std::string> old_;
};

// What the watcher delivered, on its own thread.
class Events {
 public:
  std::function<void(bool)> Callback() {
    return [this](bool suspending) {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back(suspending);
      cv_.notify_all();
    };
  }
  std::optional<bool> Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::seconds(20), [&] { return !seen_.empty(); }))
      return std::nullopt;
    bool value = seen_.front();
    seen_.pop_front();
    return value;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<bool> seen_;
};

TEST(PowerEventsTest, WithoutASystemBusItReportsWhyAndDoesNotRun) {
  TempEnv env;
  SystemBusAddress address("unix:path=" + env.Path("no-such-bus"));
  Events events;
  platform::PowerEvents watcher(events.Callback());
  EXPECT_FALSE(watcher.ok());
  EXPECT_EQ(watcher.error().rfind("no system bus: ", 0), 0u) << watcher.error();
}

TEST(PowerEventsTest, DeliversLogindsSleepAndResumeOnly) {
  if (::access(kDaemon, X_OK) != 0) GTEST_SKIP() << "dbus-daemon is not installed";
  TempEnv env;
  const std::string socket = env.Path("bus");
  const std::string bus = "unix:path=" + socket;
  pid_t daemon = Spawn({kDaemon, "--session", "--nofork", "--nopidfile", "--address=" + bus},
                       env.Path("dbus-daemon.err"));
  ASSERT_GT(daemon, 0);
  for (int i = 0; i < 2000 && !std::filesystem::exists(socket); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  {
    SystemBusAddress address(bus);
    Events events;
    platform::PowerEvents watcher(events.Callback());
    ASSERT_TRUE(watcher.ok()) << watcher.error();

    EXPECT_EQ(WaitExit(Spawn({POWER_EMIT_HELPER, bus, "true"})), 0);
    EXPECT_EQ(events.Next(), std::optional<bool>(true));
    // A connection that does not own logind's name is not believed.
    EXPECT_EQ(WaitExit(Spawn({POWER_EMIT_HELPER, bus, "true", "--no-name"})), 0);
    EXPECT_EQ(WaitExit(Spawn({POWER_EMIT_HELPER, bus, "false"})), 0);
    EXPECT_EQ(events.Next(), std::optional<bool>(false));
  }
  ::kill(daemon, SIGTERM);
  WaitExit(daemon);
}

}  // namespace
