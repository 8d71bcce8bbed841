// The real program, restricted as the user's service unit restricts it,
// counts a play of a real player (mpv). No user service manager runs in a
// test machine, so each setting of the unit is applied the way the manager
// applies it, by other means: a user namespace mapping only the own user
// (unshare), no new privileges and no capabilities (setpriv), the unit's
// system call filter with its argument checks (a libseccomp tool, the call
// groups as systemd-analyze lists them) and the umask. A setting the test
// cannot apply is listed; one it does not know fails the test, so a change
// of the unit is never left untried.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tests/e2e/road_fixture.h"

extern char** environ;

namespace road_test {
namespace {

using Settings = std::multimap<std::string, std::string>;

// Settings without effect on what the program can see, and sandbox
// settings this test cannot apply without a service manager.
const std::set<std::string> kNotApplied = {"Type",
                                           "ExecStart",
                                           "ExecStartPre",
                                           "Restart",
                                           "RestartSec",
                                           "KillSignal",
                                           "TimeoutStopSec",
                                           "LockPersonality",
                                           "RestrictRealtime",
                                           "RestrictSUIDSGID",
                                           "KeyringMode",
                                           "SystemCallArchitectures"};

Settings ServiceSettings(const std::string& path) {
  std::ifstream in(path);
  Settings settings;
  bool service = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '[') service = line == "[Service]";
    const std::size_t eq = line.find('=');
    if (service && eq != std::string::npos && line[0] != '#')
      settings.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return settings;
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, n);
    ::pclose(pipe);
  }
  return text;
}

// The system calls of `name`, a call or a group as systemd-analyze lists it.
void AddCalls(const std::string& name, std::set<std::string>* calls) {
  if (name.empty() || name[0] != '@') {
    if (!name.empty()) calls->insert(name);
    return;
  }
  std::istringstream listing(Output("systemd-analyze syscall-filter " + name + " 2>/dev/null"));
  for (std::string line; std::getline(listing, line);) {
    if (line.empty() || line[0] != ' ') continue;  // the group's own name
    std::istringstream words(line);
    std::string entry;
    if (words >> entry && entry[0] != '#') AddCalls(entry, calls);
  }
}

// setpriv, and where the test runs as root, without root's capabilities:
// the program and the player are processes of an ordinary user.
std::vector<std::string> AsAUser() {
  if (::geteuid() != 0) return {"/usr/bin/setpriv"};
  return {"/usr/bin/setpriv", "--bounding-set=-all", "--inh-caps=-all"};
}

bool Yes(const std::string& value) { return value == "yes" || value == "true"; }

// The command line that runs a program as the unit runs it.
std::vector<std::string> UnitSandbox(const Settings& settings) {
  std::vector<std::string> userns, privileges = AsAUser(), filter = {SYSCALL_FILTER};
  std::string umask = "0022";
  std::set<std::string> allowed;
  bool allow_list = false;
  for (const auto& [key, value] : settings) {
    if (key == "PrivateUsers" && Yes(value)) {
      userns = {"/usr/bin/unshare", "--user", "--map-current-user"};
    } else if (key == "NoNewPrivileges" && Yes(value)) {
      privileges.push_back("--no-new-privs");
    } else if (key == "UMask") {
      umask = value;
    } else if (key == "SystemCallFilter") {
      std::set<std::string> calls;
      std::istringstream names(value[0] == '~' ? value.substr(1) : value);
      for (std::string name; names >> name;) AddCalls(name, &calls);
      if (value[0] == '~') {
        for (const std::string& call : calls) allowed.erase(call);
      } else {
        if (!allow_list) AddCalls("@default", &allowed);  // the manager adds it too
        allow_list = true;
        allowed.insert(calls.begin(), calls.end());
      }
    } else if (key == "SystemCallErrorNumber") {
      filter.insert(filter.end(), {"--errno", value == "EPERM" ? "1" : value});
    } else if (key == "RestrictAddressFamilies") {
      filter.insert(filter.end(), {"--families", value});
    } else if (key == "MemoryDenyWriteExecute" && Yes(value)) {
      filter.push_back("--deny-write-execute");
    } else if (key == "RestrictNamespaces" && Yes(value)) {
      filter.push_back("--restrict-namespaces");
    } else if (kNotApplied.count(key) == 0) {
      ADD_FAILURE() << "the test cannot apply the unit's " << key << "=" << value;
    }
  }
  if (allow_list) {
    std::string list;
    for (const std::string& call : allowed) list += call + " ";
    filter.insert(filter.end(), {"--allow", list});
  }
  std::vector<std::string> command = userns;
  command.insert(command.end(), privileges.begin(), privileges.end());
  command.insert(command.end(), {"/bin/sh", "-c", "umask " + umask + " && exec \"$@\"", "sh"});
  command.insert(command.end(), filter.begin(), filter.end());
  command.push_back("--");
  return command;
}

class SandboxedPlayTest : public RoadTest {
 protected:
  void TearDown() override {
    if (player_ > 0) {
      ::kill(player_, SIGKILL);
      ::waitpid(player_, nullptr, 0);
    }
    RoadTest::TearDown();
  }
  pid_t player_ = -1;
};

TEST_F(SandboxedPlayTest, APlayIsCountedUnderTheServiceUnitsRestrictions) {
#ifndef SYSCALL_FILTER
  GTEST_SKIP() << "built without libseccomp";
#else
  for (const char* tool : {"/usr/bin/mpv", "/usr/bin/unshare", "/usr/bin/setpriv"})
    if (::access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
  if (Output("systemd-analyze syscall-filter @default 2>/dev/null").empty())
    GTEST_SKIP() << "systemd-analyze is not installed";
  const Settings unit = ServiceSettings(SERVICE_UNIT);
  ASSERT_FALSE(unit.empty());
  const std::vector<std::string> sandbox = UnitSandbox(unit);

  StartServer();
  PutTracks(1);
  const std::string song = TrackPath(0);
  std::vector<std::string> args = AsAUser();
  args.insert(args.end(), {"/usr/bin/mpv", "--no-config", "--no-video", "--ao=null",
                           "--really-quiet", "--loop-file=inf", song});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ASSERT_EQ(::posix_spawn(&player_, argv[0], nullptr, nullptr, argv.data(), environ), 0);

  // The leak checker of a sanitizer build needs ptrace, which the filter
  // forbids as it should.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string saved_asan = asan ? asan : "";
  ::setenv("ASAN_OPTIONS", (saved_asan + (asan ? ":" : "") + "detect_leaks=0").c_str(), 1);
  StartVornic(sandbox);
  ::setenv("ASAN_OPTIONS", saved_asan.c_str(), 1);
  const std::string out = env_.Path("vornic-1.out");
  EXPECT_TRUE(WaitFor(
      [&] {
        return testing_support::ReadFile(out).find("Now Playing: 00.mp3") != std::string::npos;
      },
      60))
      << testing_support::ReadFile(out) << RunLog();
  StopVornic();
  EXPECT_EQ(Records()[song].play_count, 1);
#endif
}

}  // namespace
}  // namespace road_test
