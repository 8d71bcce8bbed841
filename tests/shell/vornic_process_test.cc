// Runs the real vornic binary in a temporary home: start, second start,
// SIGTERM, and start-up with damaged or unusable settings.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "app/reg_settings.h"
#include "platform/folders.h"
#include "platform/single_instance.h"
#include "shell/remote_protocol.h"
#include "tests/support/temp_env.h"

extern char** environ;

namespace {

using testing_support::ReadFile;
using testing_support::TempEnv;
using testing_support::WriteFile;

constexpr auto kPatience = std::chrono::seconds(30);

// One child process running vornic with standard error sent to a file.
class Vornic {
 public:
  Vornic(const TempEnv& env, std::vector<std::string> args) : err_path_(NextErrPath(env)) {
    args.insert(args.begin(), VORNIC_BINARY);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    EXPECT_EQ(::posix_spawn(&pid_, VORNIC_BINARY, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Vornic() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  void Signal(int signo) { ::kill(pid_, signo); }
  pid_t pid() const { return pid_; }
  // The exit code, or -1 when it did not exit normally in time.
  int Wait() {
    auto end = std::chrono::steady_clock::now() + kPatience;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  std::string Stderr() const { return ReadFile(err_path_); }

 private:
  static std::string NextErrPath(const TempEnv& env) {
    static int count = 0;
    return env.Path("stderr-" + std::to_string(++count));
  }

  std::string err_path_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

bool WaitUntil(const std::function<bool()>& done) {
  auto end = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Sets an environment variable for the copies started while it lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

constexpr const char* kStarted = "******** KIVClient 1.0.3.105 Started ********";
constexpr const char* kStopped = "******** KIVClient 1.0.3.105 Stopped ********";
constexpr const char* kReady = "Application Startup Completed, entering background mode";

class VornicProcessTest : public ::testing::Test {
 protected:
  VornicProcessTest() {
    settings_.SetCompanyName("KIV");
    settings_.SetApplicationName("Windows Client");
  }
  std::string LogText() const { return ReadFile(platform::DataDir() + "/kivclient.log"); }
  std::string RegString(const char* subkey, const char* name) const {
    std::string value;
    settings_.ReadString(subkey, name, value);
    return value;
  }

  TempEnv env_;
  CRegSettings settings_;
};

TEST_F(VornicProcessTest, SecondStartIsRefusedAndSigtermStopsTheFirst) {
  Vornic first(env_, {"--headless"});
  ASSERT_TRUE(WaitUntil([&] { return LogText().find(kReady) != std::string::npos; }))
      << LogText() << first.Stderr();

  Vornic second(env_, {"--headless"});
  EXPECT_EQ(second.Wait(), 0);
  ASSERT_TRUE(WaitUntil([&] { return LogText().find("command 1624") != std::string::npos; }));
  std::string log = LogText();
  EXPECT_NE(log.find("ERROR    \tAPPLICATION   \tAnother instance of the KIV client is currently "
                     "running.  Only one instance of the KIV Client is permitted to run at once."),
            std::string::npos);
  EXPECT_EQ(Count(log, kStarted), 2u);
  EXPECT_EQ(Count(log, kStopped), 1u);
  EXPECT_EQ(Count(log, kReady), 1u);

  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
  log = LogText();
  EXPECT_EQ(Count(log, kStopped), 2u);
  EXPECT_NE(log.find("Application Shutdown Completed, cleaning up"), std::string::npos);
  // The stop banner's two lines are the last ones.
  const std::string last_two = std::string(kStopped) + "\r\n";
  const std::size_t stop_at = log.rfind(kStopped);
  ASSERT_NE(stop_at, std::string::npos);
  const std::string rest = log.substr(stop_at + last_two.size());
  EXPECT_EQ(Count(rest, "\n"), 1u) << log;
  EXPECT_NE(rest.find("\t" + std::string(44, '*') + "\r\n"), std::string::npos);
  DWORD level = 0, mask = 0;
  EXPECT_TRUE(settings_.ReadDword(kSubKeySettings, "LogLevel", level));
  EXPECT_TRUE(settings_.ReadDword(kSubKeySettings, "LogModule", mask));
  EXPECT_EQ(level, 5u);
  EXPECT_EQ(mask, 0xFFFFFFFFu);
  EXPECT_FALSE(std::filesystem::exists(platform::RuntimeDir() + "/kiv.sock"));
}

TEST_F(VornicProcessTest, TheSocketTakesOnlyKnownRequestsAndNoClientsHoldUpTheStop) {
  Vornic first(env_, {"--headless"});
  ASSERT_TRUE(WaitUntil([&] { return LogText().find(kReady) != std::string::npos; }))
      << LogText() << first.Stderr();
  platform::SingleInstance socket(platform::DataDir(), platform::RuntimeDir());
  auto ask = [&](const std::vector<std::string>& fields) {
    std::string answer;
    socket.SendRequest(EncodeFields(fields), &answer, 5000);
    return answer;
  };
  // Command numbers other than "show the window" (1137 toggled the
  // agents; the shutdown command was reachable).
  for (const char* number : {"1137", "32770", "2", "4294967295"})
    EXPECT_EQ(ask({number}), "error unknown request") << number;
  EXPECT_EQ(ask({"1624"}), "ok");
  // Folders: only absolute paths without control characters.
  const std::string music = env_.Path("music");
  std::filesystem::create_directories(music + "/a\x1b[2Jb");
  EXPECT_EQ(ask({"add-folder", "."}),
            EncodeFields({"error", "a music folder must be given as an absolute path"}));
  EXPECT_EQ(ask({"add-folder", music + "/a\x1b[2Jb"}),
            EncodeFields({"error", "a music folder path cannot hold control characters"}));
  EXPECT_EQ(ask({"add-folder", music + std::string("\0", 1) + "/x"}),
            EncodeFields({"error", "a music folder path cannot hold control characters"}));
  EXPECT_EQ(LogText().find('\0'), std::string::npos);
  EXPECT_EQ(LogText().find('\x1b'), std::string::npos);

  // Eight clients asking for the status without pause, then SIGTERM.
  std::atomic<bool> done{false};
  std::vector<std::thread> clients;
  for (int i = 0; i < 8; ++i)
    clients.emplace_back([&] {
      platform::SingleInstance client(platform::DataDir(), platform::RuntimeDir());
      std::string answer;
      while (!done) client.SendRequest(EncodeFields({"status"}), &answer, 3000);
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  done = true;
  for (std::thread& t : clients) t.join();
  EXPECT_LT(seconds, 2.0);
}

// A copy started by cron, su or ssh has no runtime folder of the session,
// but it meets the session copy's lock beside the database all the same,
// and finds the socket the session copy published there.
TEST_F(VornicProcessTest, ACopyWithAnotherRuntimeFolderIsRefusedAndTheDatabaseStaysAsItIs) {
  Vornic first(env_, {"--headless"});
  ASSERT_TRUE(WaitUntil([&] { return LogText().find(kReady) != std::string::npos; }))
      << LogText() << first.Stderr();
  const std::string db = platform::DataDir() + "/kivclient.db";
  const std::string before = ReadFile(db);
  ASSERT_FALSE(before.empty());
  {
    std::filesystem::create_directories(env_.Path("other-runtime"));
    ScopedEnv runtime("XDG_RUNTIME_DIR", env_.Path("other-runtime"));
    Vornic second(env_, {"--headless"});
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_NE(
        second.Stderr().find("a copy is already running (pid " + std::to_string(first.pid()) + ")"),
        std::string::npos)
        << second.Stderr();
  }
  EXPECT_TRUE(WaitUntil([&] { return LogText().find("command 1624") != std::string::npos; }));
  EXPECT_EQ(ReadFile(db), before);
  EXPECT_EQ(Count(LogText(), kReady), 1u);
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
}

// Two data folders whose settings name one database folder: the second
// copy stops at the database and says who holds it.
TEST_F(VornicProcessTest, ACopyReachingTheSameDatabaseThroughDBPathStopsAndNamesTheHolder) {
  const std::string shared = env_.Path("shared-db");
  std::filesystem::create_directories(shared);
  ASSERT_TRUE(settings_.WriteString(kSubKeySettings, "DBPath", shared));
  Vornic first(env_, {"--headless"});
  ASSERT_TRUE(WaitUntil([&] { return LogText().find(kReady) != std::string::npos; }))
      << LogText() << first.Stderr();
  const std::string db = shared + "/kivclient.db";
  const std::string before = ReadFile(db);
  ASSERT_FALSE(before.empty());
  {
    std::filesystem::create_directories(env_.Path("other-runtime"));
    ScopedEnv runtime("XDG_RUNTIME_DIR", env_.Path("other-runtime"));
    ScopedEnv data("XDG_DATA_HOME", env_.Path("other-data"));
    Vornic second(env_, {"--headless"});
    EXPECT_EQ(second.Wait(), 1);
    const std::string text = "The local db file " + db + " is in use by another process (pid " +
                             std::to_string(first.pid()) + ")";
    EXPECT_NE(second.Stderr().find(text), std::string::npos) << second.Stderr();
    EXPECT_NE(second.Stderr().find("Unable to initlialize Vornic Database."), std::string::npos);
  }
  EXPECT_EQ(ReadFile(db), before);
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
}

TEST_F(VornicProcessTest, SigintAlsoRunsTheShutdown) {
  Vornic vornic(env_, {"--headless"});
  ASSERT_TRUE(WaitUntil([&] { return LogText().find(kReady) != std::string::npos; }));
  vornic.Signal(SIGINT);
  EXPECT_EQ(vornic.Wait(), 0);
  EXPECT_NE(LogText().find("Received SIGINT, shutting down"), std::string::npos);
  EXPECT_EQ(Count(LogText(), kStopped), 1u);
}

TEST_F(VornicProcessTest, DamagedRegistryIsReportedAndKept) {
  const std::string reg = platform::ConfigDir() + "/registry.reg";
  std::filesystem::create_directories(platform::ConfigDir());
  const std::string damaged = "this is not registry text\n[HKEY_CURRENT_USER\\Software\n";
  WriteFile(reg, damaged);
  Vornic vornic(env_, {"--headless"});
  ASSERT_TRUE(WaitUntil([&] { return LogText().find(kReady) != std::string::npos; }))
      << vornic.Stderr();
  vornic.Signal(SIGTERM);
  EXPECT_EQ(vornic.Wait(), 0);
  EXPECT_NE(LogText().find("ERROR    \tREGISTRY      \t"), std::string::npos) << LogText();
  EXPECT_EQ(ReadFile(reg + ".bad"), damaged);
}

TEST_F(VornicProcessTest, UnusableLogPathsAreReportedOnceAndTheSettingIsKept) {
  std::vector<std::string> values = {env_.Path("missing/folder/kiv.log"), env_.Path("fifo")};
  ASSERT_EQ(::mkfifo(env_.Path("fifo").c_str(), 0600), 0);
  if (::geteuid() != 0) {
    // Root writes anywhere, so a read-only folder only counts for others.
    std::filesystem::create_directories(env_.Path("readonly"));
    std::filesystem::permissions(env_.Path("readonly"), std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::owner_exec);
    values.push_back(env_.Path("readonly"));
  }
  const std::string socket = platform::RuntimeDir() + "/kiv.sock";
  for (const std::string& value : values) {
    SCOPED_TRACE(value);
    ASSERT_TRUE(settings_.WriteString(kSubKeySettings, "LogFileName", value));
    settings_.DeleteValue(kSubKeyLog, "LastLogMessage");
    Vornic vornic(env_, {"--headless"});
    // The socket is there once the copy is past its single-instance check.
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(socket); })) << vornic.Stderr();
    vornic.Signal(SIGTERM);
    EXPECT_EQ(vornic.Wait(), 0);
    EXPECT_NE(vornic.Stderr().find("unable to use the log file"), std::string::npos);
    EXPECT_EQ(RegString(kSubKeyLog, "LogFileFailure"),
              "The log filename is not specified, I have nowhere to log!");
    // Recorded once, with the first line that found no log: the banner.
    const std::string last = RegString(kSubKeyLog, "LastLogMessage");
    EXPECT_NE(last.find(std::string(44, '*') + "\r\n"), std::string::npos) << last;
    EXPECT_EQ(RegString(kSubKeySettings, "LogFileName"), value);
  }
  EXPECT_FALSE(std::filesystem::exists(env_.Path("missing")));

  // A log sent to /dev/null is a choice, not a failure.
  ASSERT_TRUE(settings_.WriteString(kSubKeySettings, "LogFileName", "/dev/null"));
  settings_.DeleteValue(kSubKeyLog, "LogFileFailure");
  Vornic quiet(env_, {"--headless"});
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(socket); })) << quiet.Stderr();
  quiet.Signal(SIGTERM);
  EXPECT_EQ(quiet.Wait(), 0);
  EXPECT_EQ(quiet.Stderr().find("unable to use the log file"), std::string::npos);
  EXPECT_EQ(RegString(kSubKeyLog, "LogFileFailure"), "");
}

TEST_F(VornicProcessTest, ADataFolderOthersMayWriteToStopsTheStart) {
  // Someone planted the log as a link to a file of the user's.
  const std::string victim = env_.Path("home/notes.txt");
  WriteFile(victim, "mine\n");
  std::filesystem::create_directories(platform::DataDir());
  ASSERT_EQ(::symlink(victim.c_str(), (platform::DataDir() + "/kivclient.log").c_str()), 0);
  std::filesystem::permissions(platform::DataDir(), std::filesystem::perms::all);
  Vornic vornic(env_, {"--headless"});
  EXPECT_EQ(vornic.Wait(), 1);
  EXPECT_NE(vornic.Stderr().find("the data folder " + platform::DataDir() +
                                 " is not safe to use (other users may write to it)"),
            std::string::npos)
      << vornic.Stderr();
  EXPECT_EQ(ReadFile(victim), "mine\n");
  EXPECT_FALSE(std::filesystem::exists(platform::DataDir() + "/kivclient.db"));
}

TEST_F(VornicProcessTest, VersionAndHelpPrintAndStartNothing) {
  Vornic version(env_, {"--version"});
  EXPECT_EQ(version.Wait(), 0);
  Vornic help(env_, {"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_FALSE(std::filesystem::exists(platform::DataDir() + "/kivclient.log"));
}

}  // namespace
