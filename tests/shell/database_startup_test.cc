// Start-up and shutdown of the real vornic binary with the database: a first
// start creates kivclient.db in the data folder; a file that is not a
// database stops the program with its message and is left as it was.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/folders.h"
#include "tests/support/temp_env.h"

extern char** environ;

namespace {

using testing_support::ReadFile;
using testing_support::TempEnv;
using testing_support::WriteFile;

constexpr const char* kReady = "Application Startup Completed, entering background mode";
constexpr const char* kStopped = "******** KIVClient 1.0.3.105 Stopped ********";

// Starts vornic --headless with standard error in `err_path`.
pid_t StartVornic(const std::string& err_path) {
  char arg0[] = VORNIC_BINARY;
  char arg1[] = "--headless";
  char* argv[] = {arg0, arg1, nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  EXPECT_EQ(::posix_spawn(&pid, VORNIC_BINARY, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit code, or -1 when the process did not exit normally within 30 s
// (it is then killed).
int WaitForExit(pid_t pid) {
  for (int i = 0; i < 3000; ++i) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

std::string LogText() { return ReadFile(platform::DataDir() + "/kivclient.log"); }

TEST(DatabaseStartupTest, FirstStartCreatesTheDatabase) {
  TempEnv env;
  pid_t pid = StartVornic(env.Path("stderr"));
  for (int i = 0; i < 3000 && LogText().find(kReady) == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_NE(LogText().find(kReady), std::string::npos) << ReadFile(env.Path("stderr"));
  std::string db = platform::DataDir() + "/kivclient.db";
  std::string bytes = ReadFile(db);
  ASSERT_EQ(bytes.size(), 256u);
  EXPECT_EQ(bytes.substr(0, 5), "KIVDB");
  EXPECT_NE(LogText().find("Setting database file: " + db), std::string::npos);
  EXPECT_NE(LogText().find("LoadIndex loaded 0 records into index"), std::string::npos);
  ::kill(pid, SIGTERM);
  EXPECT_EQ(WaitForExit(pid), 0);
  EXPECT_NE(LogText().find(kStopped), std::string::npos);
}

TEST(DatabaseStartupTest, AFileThatIsNotADatabaseStopsTheProgramUntouched) {
  TempEnv env;
  std::filesystem::create_directories(platform::DataDir());
  std::string db = platform::DataDir() + "/kivclient.db";
  std::string not_db = "SQLite format 3" + std::string(300, '\1');
  WriteFile(db, not_db);
  pid_t pid = StartVornic(env.Path("stderr"));
  EXPECT_EQ(WaitForExit(pid), 1);
  EXPECT_EQ(ReadFile(db), not_db);
  std::string log = LogText();
  // The log keeps each message on one line.
  EXPECT_NE(log.find("Unable to initlialize Vornic Database.Vornic will shutdown."),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("DB header magic value invalid. Bad DB!"), std::string::npos);
  EXPECT_EQ(log.find(kReady), std::string::npos);
  EXPECT_NE(log.find(kStopped), std::string::npos);
  EXPECT_NE(ReadFile(env.Path("stderr"))
                .find("Unable to initlialize Vornic Database.\nVornic will "
                      "shutdown."),
            std::string::npos);
}

}  // namespace
