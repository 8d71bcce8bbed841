// The set-up options of the real vornic binary against the development
// server: with no copy running (the settings change directly) and with a
// copy running headless (the requests go over its socket), and a wrong
// option that must touch nothing.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "tests/support/media_cache.h"
#include "tests/support/temp_env.h"
#include "tools/kiv_devserver_process.h"
#include "tools/test_media.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempEnv;
using testing_support::WriteFile;

constexpr const char* kUser = "me@example.org";
constexpr const char* kSecret = "s3cret-word, longer than a short string";

pid_t Spawn(const TempEnv& env, std::vector<std::string> args, const std::string& input,
            const std::string& tag) {
  WriteFile(env.Path(tag + ".in"), input);
  args.insert(args.begin(), VORNIC_BINARY);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, env.Path(tag + ".in").c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, env.Path(tag + ".out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, env.Path(tag + ".err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  EXPECT_EQ(::posix_spawn(&pid, VORNIC_BINARY, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The places where `text` occurs in the readable memory of process `pid`,
// each as its mapping and the printable bytes around it; nullopt when its
// memory cannot be read (not root, no /proc).
std::optional<std::vector<std::string>> CopiesInMemory(pid_t pid, const std::string& text) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  const int mem = ::open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
  if (!maps || mem < 0) return std::nullopt;
  std::vector<std::string> copies;
  std::string line;
  while (std::getline(maps, line)) {
    unsigned long begin = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line.c_str(), "%lx-%lx %4s", &begin, &end, perms) != 3 || perms[0] != 'r' ||
        line.find("[vvar]") != std::string::npos || end - begin > (1ul << 32))
      continue;
    std::string bytes(end - begin, '\0');
    const ssize_t n = ::pread(mem, bytes.data(), bytes.size(), static_cast<off_t>(begin));
    if (n <= 0) continue;
    bytes.resize(static_cast<std::size_t>(n));
    for (std::size_t at = bytes.find(text); at != std::string::npos;
         at = bytes.find(text, at + 1)) {
      const std::size_t from = at < 64 ? 0 : at - 64;
      std::string around = bytes.substr(from, at + text.size() + 64 - from);
      for (char& c : around)
        if (c < 0x20 || c > 0x7e) c = '.';
      char where[40];
      std::snprintf(where, sizeof where, "%#lx", begin + at);
      copies.push_back(std::string(where) + " in " + line + ": " + around);
    }
  }
  ::close(mem);
  return copies;
}

struct Result {
  int code = -1;
  std::string out, err;
};

// Runs one set-up option to its end; standard input holds `input`.
Result RunVornic(const TempEnv& env, std::vector<std::string> args, const std::string& input = "") {
  static int count = 0;
  const std::string tag = "run-" + std::to_string(++count);
  const pid_t pid = Spawn(env, std::move(args), input, tag);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(env.Path(tag + ".out")),
          ReadFile(env.Path(tag + ".err"))};
}

bool WaitUntil(const std::function<bool()>& done, int seconds = 60) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return done();
}

std::vector<std::string> FilesUnder(const std::string& root) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (!entry.is_directory()) files.push_back(entry.path().string());
  return files;
}

class CliVerbsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(env_.Path("server"));
    server_ = std::make_unique<kiv_devserver::DevServer>(
        env_.Path("server"),
        std::vector<std::string>{"--account", std::string(kUser) + ":" + kSecret});
    ASSERT_TRUE(server_->ok());
    UseServer(server_->Url());
    fs::create_directories(env_.Path("music"));
  }

  void UseServer(const std::string& url) {
    fs::create_directories(env_.ConfigHome() + "/kiv");
    WriteFile(env_.ConfigHome() + "/kiv/registry.reg",
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings]\r\n"
              "\"ServerUrl\"=\"" +
                  url + "\"\r\n");
  }
  std::string Settings() const { return ReadFile(env_.ConfigHome() + "/kiv/registry.reg"); }
  std::string Log() const { return ReadFile(env_.DataHome() + "/kiv/kivclient.log"); }

  TempEnv env_;
  std::unique_ptr<kiv_devserver::DevServer> server_;
};

TEST(CliVerbsOptions, WrongOptionsPrintTheUsageAndTouchNothing) {
  TempEnv env;
  const auto before = FilesUnder(env.root());
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--bogus"},
                                               {"--login"},
                                               {"--folders", "--rescan"},
                                               {"--status", "--headless"},
                                               {"--logout=now"}}) {
    const Result r = RunVornic(env, args);
    EXPECT_EQ(r.code, 2) << args[0];
    EXPECT_NE(r.err.find("Usage: vornic"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // Only the test's own stdin/stdout/stderr files were added.
  for (const std::string& file : FilesUnder(env.root()))
    EXPECT_NE(file.find("/run-"), std::string::npos) << file << " was created";
  EXPECT_EQ(before.size(), 0u);
}

TEST_F(CliVerbsTest, StoppedCopySignInAndFoldersChangeTheSettings) {
  Result r = RunVornic(env_, {"--login", kUser}, std::string(5000, 'x') + "\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("the password is longer than 1024 characters"), std::string::npos) << r.err;
  EXPECT_TRUE(server_->Calls().empty());
  r = RunVornic(env_, {"--login", kUser}, "not-it\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("refused"), std::string::npos) << r.err;

  r = RunVornic(env_, {"--login", kUser}, std::string(kSecret) + "\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::string("accepted: signed in as ") + kUser + "\n");
  // The client password the server issued is kept, never the user's own.
  EXPECT_NE(Settings().find("\"Password\"=\"cp-"), std::string::npos) << Settings();
  EXPECT_EQ(Settings().find(kSecret), std::string::npos);
  EXPECT_EQ(Log().find(kSecret), std::string::npos);

  const std::string music = env_.Path("music");
  EXPECT_EQ(RunVornic(env_, {"--add-folder", music + "/"}).code, 0);
  r = RunVornic(env_, {"--add-folder", music});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("already a music folder"), std::string::npos) << r.err;
  EXPECT_EQ(RunVornic(env_, {"--add-folder", env_.Path("nowhere")}).code, 1);
  EXPECT_EQ(RunVornic(env_, {"--folders"}).out, "enabled  present  " + music + "\n");
  r = RunVornic(env_, {"--status"});
  EXPECT_NE(r.out.find("running:  no"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(kUser), std::string::npos) << r.out;
  EXPECT_EQ(RunVornic(env_, {"--remove-folder", music}).code, 0);
  EXPECT_EQ(RunVornic(env_, {"--remove-folder", music}).code, 1);
  EXPECT_EQ(RunVornic(env_, {"--folders"}).out, "no music folders\n");

  // An unreachable server changes nothing.
  const std::string before = Settings();
  server_->Stop();
  r = RunVornic(env_, {"--login", kUser}, std::string(kSecret) + "\n");
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("server unreachable"), std::string::npos) << r.err;
  EXPECT_EQ(Settings(), before);

  EXPECT_EQ(RunVornic(env_, {"--logout"}).code, 0);
  EXPECT_EQ(Settings().find("\"Password\"=\"cp-"), std::string::npos);
}

// Cron, su or ssh give another runtime folder, or none: the options still
// find the running copy through its lock, and never write the settings
// behind its back.
TEST_F(CliVerbsTest, TheRunningCopyIsFoundWhateverTheRuntimeFolder) {
  const std::string music = env_.Path("music");
  const std::string session = env_.Path("session-runtime");
  const std::string other = env_.Path("other-runtime");
  fs::create_directories(session);
  fs::create_directories(other);
  fs::permissions(session, fs::perms::owner_all);
  fs::permissions(other, fs::perms::owner_all);
  ::setenv("XDG_RUNTIME_DIR", session.c_str(), 1);
  const pid_t copy = Spawn(env_, {"--headless"}, "", "copy");
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(session + "/kiv.sock"); })) << Log();
  ASSERT_TRUE(
      WaitUntil([&] { return Log().find("Application Startup Completed") != std::string::npos; }));
  const std::string running = "running:  yes (pid " + std::to_string(copy) + ")";

  ::setenv("XDG_RUNTIME_DIR", other.c_str(), 1);
  Result r = RunVornic(env_, {"--status"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find(running), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("identify: off"), std::string::npos) << r.out;
  EXPECT_EQ(RunVornic(env_, {"--add-folder", music}).code, 0);
  EXPECT_TRUE(WaitUntil(
      [&] { return Log().find("Music folder added from the command line") != std::string::npos; }));
  ::unsetenv("XDG_RUNTIME_DIR");
  r = RunVornic(env_, {"--folders"});
  EXPECT_EQ(r.out, "enabled  present  " + music + "\n") << r.err;
  r = RunVornic(env_, {});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("a copy is already running (pid " + std::to_string(copy) + ")"),
            std::string::npos)
      << r.err;

  // A copy that cannot be reached: nothing is written, and the status says so.
  fs::remove(session + "/kiv.sock");
  const std::string before = Settings();
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--add-folder", other},
                                               {"--logout"},
                                               {"--rescan"},
                                               {"--status"}}) {
    r = RunVornic(env_, args);
    EXPECT_EQ(r.code, 3) << args[0] << r.out;
    EXPECT_NE(r.err.find("Vornic is running (pid " + std::to_string(copy) + ")"), std::string::npos)
        << r.err;
  }
  r = RunVornic(env_, {"--login", kUser}, std::string(kSecret) + "\n");
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_EQ(Settings(), before);
  // A second start that cannot reach it says so, with the matching status.
  r = RunVornic(env_, {"--headless"});
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("did not answer"), std::string::npos) << r.err;

  ::kill(copy, SIGTERM);
  int status = 0;
  ::waitpid(copy, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  r = RunVornic(env_, {"--rescan"});
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("Vornic is not running"), std::string::npos) << r.err;
  EXPECT_EQ(Settings(), before);
  EXPECT_NE(RunVornic(env_, {"--status"}).out.find("running:  no"), std::string::npos);
}

TEST_F(CliVerbsTest, RunningCopyCarriesOutEveryOption) {
  const std::string music = env_.Path("music");
  ASSERT_EQ(RunVornic(env_, {"--add-folder", music}).code, 0);
  const pid_t copy = Spawn(env_, {"--headless"}, "", "copy");
  ASSERT_TRUE(
      WaitUntil([&] { return Log().find("Application Startup Completed") != std::string::npos; }));

  Result r = RunVornic(env_, {});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.err.find("a copy is already running (pid " + std::to_string(copy) + ")"),
            std::string::npos)
      << r.err;
  // A copy without a window has nothing to show, and the second start says so.
  EXPECT_NE(r.err.find("without a window (headless: no display)"), std::string::npos) << r.err;
  // The session's autostart entry leaves a running copy alone, silently.
  r = RunVornic(env_, {"--autostart"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");

  r = RunVornic(env_, {"--login", kUser}, "not-it\n");
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  r = RunVornic(env_, {"--login", kUser}, std::string(kSecret) + "\n");
  EXPECT_EQ(r.code, 0) << r.err;
  // A refusal after a sign-in leaves no client password, and says so.
  EXPECT_EQ(RunVornic(env_, {"--login", kUser}, "not-it\n").code, 1);
  EXPECT_NE(RunVornic(env_, {"--status"})
                .out.find(std::string(kUser) + " (no client password: sign in again)"),
            std::string::npos);
  r = RunVornic(env_, {"--login", kUser}, std::string(kSecret) + "\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(WaitUntil([&] {
    return RunVornic(env_, {"--status"}).out.find("(login accepted)") != std::string::npos;
  }));
  // The typed password leaves no copy in the running copy's memory once the
  // sign-in's calls are over (a busy machine may still be finishing one).
  // Memory already freed counts too: the sanitizer keeps freed blocks
  // untouched for a long while, as a reader of a freed heap would find them.
  std::optional<std::vector<std::string>> copies;
  WaitUntil([&] { return !(copies = CopiesInMemory(copy, kSecret)) || copies->empty(); }, 10);
  if (copies)
    for (const std::string& copy_at : *copies) ADD_FAILURE() << "password in memory: " << copy_at;

  // A rescan finds a file that appeared since the last search.
  test_media::MediaPlan plan;
  plan.format = "mp3";
  plan.seconds = test_media::SecondsForSize(plan, 150000);
  plan.tags.title = "Rescanned";
  plan.tags.artist = "Mara Vell";
  const std::string track = media_cache::CachedMedia(plan);
  ASSERT_FALSE(track.empty());
  fs::copy_file(track, music + "/new.mp3");
  r = RunVornic(env_, {"--rescan"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(WaitUntil([&] {
    return RunVornic(env_, {"--status"}).out.find("1 found") != std::string::npos;
  })) << RunVornic(env_, {"--status"}).out;

  const std::string other = env_.Path("more");
  fs::create_directories(other);
  EXPECT_EQ(RunVornic(env_, {"--add-folder", other}).code, 0);
  fs::remove(other);
  EXPECT_EQ(RunVornic(env_, {"--folders"}).out,
            "enabled  missing  " + other + "\nenabled  present  " + music + "\n");
  EXPECT_EQ(RunVornic(env_, {"--remove-folder", other}).code, 0);
  EXPECT_EQ(RunVornic(env_, {"--remove-folder", other}).code, 1);
  // A removed folder's tracks are no longer counted.
  EXPECT_EQ(RunVornic(env_, {"--remove-folder", music}).code, 0);
  r = RunVornic(env_, {"--status"});
  EXPECT_NE(r.out.find("tracks:   0 found, 0 reported"), std::string::npos) << r.out;

  server_->Stop();
  r = RunVornic(env_, {"--login", kUser}, std::string(kSecret) + "\n");
  EXPECT_EQ(r.code, 3) << r.out << r.err;
  // The copy keeps the pair and tries again: nothing is said to be unchanged.
  EXPECT_NE(r.err.find("the running copy keeps the sign-in"), std::string::npos) << r.err;

  ::kill(copy, SIGTERM);
  int status = 0;
  ::waitpid(copy, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(Log().find("Stopped"), std::string::npos);
  EXPECT_EQ(Log().find(kSecret), std::string::npos);
  EXPECT_EQ(Settings().find(kSecret), std::string::npos);
}

}  // namespace
