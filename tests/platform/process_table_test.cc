#include "platform/process_table.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "tests/support/temp_env.h"

namespace platform {
namespace {

// A child process running `program` with `argv0` as its first argument
// (and `arg`); killed on destruction. Its standard input is a pipe the
// test may write to.
class NamedChild {
 public:
  explicit NamedChild(const char* argv0, const char* program = "/bin/sleep",
                      const char* arg = "30") {
    int in[2];
    if (::pipe(in) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::close(in[1]);
      ::execl(program, argv0, arg, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    input_ = in[1];
  }
  void Say(const char* line) {
    if (::write(input_, line, std::strlen(line)) < 0) ADD_FAILURE() << "write";
  }
  ~NamedChild() {
    ::close(input_);
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  std::uint32_t pid() const { return static_cast<std::uint32_t>(pid_); }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
};

ProcessNames NamesOf(std::uint32_t wanted, ProcessTable* table = nullptr) {
  ProcessNames found{"<none>", "<none>"};
  auto visit = [&](std::uint32_t pid, const ProcessNames& names) {
    if (pid == wanted) found = names;
  };
  EXPECT_TRUE(table ? table->List(visit) : ListProcesses(visit));
  return found;
}
std::string ImageOf(std::uint32_t wanted) { return NamesOf(wanted).image; }

bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 400 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done();
}

TEST(ProcessTableTest, ProcessesAreListedByTheBaseNameOfTheirFirstArgument) {
  NamedChild plain("/opt/players/audacious");
  NamedChild wine("C:\\Program Files\\Winamp\\winamp.exe");
  // A child has replaced its image once its cmdline shows the new name.
  ASSERT_TRUE(Eventually([&] { return ImageOf(wine.pid()) == "winamp.exe"; }));
  EXPECT_TRUE(Eventually([&] { return ImageOf(plain.pid()) == "audacious"; }))
      << ImageOf(plain.pid());
  EXPECT_EQ(NamesOf(plain.pid()).comm, "sleep");
  EXPECT_TRUE(ProcessBelongsToUser(plain.pid()));
}

TEST(ProcessTableTest, AScriptIsKnownByItsInterpreterAndItsOwnKernelName) {
  testing_support::TempEnv env;
  const std::string script = env.Path("quodlibet");
  testing_support::WriteFile(script, "#!/bin/sh\nread line\n");
  ::chmod(script.c_str(), 0700);
  NamedChild player(script.c_str(), script.c_str(), nullptr);
  ASSERT_TRUE(Eventually([&] { return NamesOf(player.pid()).comm == "quodlibet"; }));
  EXPECT_EQ(ImageOf(player.pid()), "sh");
}

TEST(ProcessTableTest, ARememberingTableSeesAnExecWithinItsRefreshListings) {
  // A shell that reads its commands from the test, then becomes "mpv".
  NamedChild child("launcher", "/bin/bash", nullptr);
  ASSERT_TRUE(Eventually([&] { return ImageOf(child.pid()) == "launcher"; }));
  ProcessTable table;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(NamesOf(child.pid(), &table).image, "launcher");
  child.Say("exec -a mpv sleep 30\n");
  ASSERT_TRUE(Eventually([&] { return ImageOf(child.pid()) == "mpv"; }));
  int listings = 0;
  while (NamesOf(child.pid(), &table).image != "mpv" && listings < 20) ++listings;
  EXPECT_LT(listings, static_cast<int>(ProcessTable::kRefreshListings));
  EXPECT_GT(table.size(), 1u);
}

class DescriptorTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int fd : fds_) ::close(fd);
  }
  int Keep(int fd) {
    EXPECT_GE(fd, 0);
    fds_.push_back(fd);
    return fd;
  }
  Descriptor Find(int number) {
    std::vector<Descriptor> list;
    EXPECT_TRUE(ListDescriptors(CurrentProcessId(), &list));
    for (const Descriptor& d : list)
      if (d.number == number) return d;
    return {};
  }

  testing_support::TempEnv env_;
  std::vector<int> fds_;
};

TEST_F(DescriptorTest, KindsTargetsAndDeletedFiles) {
  const std::string song = env_.Path("a song.mp3");
  testing_support::WriteFile(song, std::string(100000, 'x'));
  const int file = Keep(::open(song.c_str(), O_RDONLY));
  const int folder = Keep(::open(env_.root().c_str(), O_RDONLY | O_DIRECTORY));
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  Keep(pipe_fds[0]);
  Keep(pipe_fds[1]);
  const int sock = Keep(::socket(AF_UNIX, SOCK_STREAM, 0));
  const std::string gone = env_.Path("gone.mp3");
  testing_support::WriteFile(gone, "x");
  const int deleted = Keep(::open(gone.c_str(), O_RDONLY));
  ::unlink(gone.c_str());

  EXPECT_EQ(Find(file).kind, DescriptorKind::kFile);
  EXPECT_FALSE(Find(file).unlinked);
  // Which file it is, however it was opened.
  struct stat st {};
  ASSERT_EQ(::stat(song.c_str(), &st), 0);
  EXPECT_EQ(Find(file).device, static_cast<std::uint64_t>(st.st_dev));
  EXPECT_EQ(Find(file).inode, static_cast<std::uint64_t>(st.st_ino));
  EXPECT_EQ(Find(file).size, 100000u);
  EXPECT_EQ(Find(folder).kind, DescriptorKind::kDirectory);
  EXPECT_EQ(Find(pipe_fds[0]).kind, DescriptorKind::kPipe);
  EXPECT_EQ(Find(sock).kind, DescriptorKind::kSocket);
  EXPECT_EQ(Find(deleted).kind, DescriptorKind::kFile);
  EXPECT_TRUE(Find(deleted).unlinked);

  std::string target;
  ASSERT_TRUE(ReadDescriptorTarget(CurrentProcessId(), file, &target));
  EXPECT_EQ(target, song);
  Descriptor one;
  ASSERT_TRUE(QueryDescriptor(CurrentProcessId(), sock, &one));
  EXPECT_EQ(one.kind, DescriptorKind::kSocket);
  EXPECT_FALSE(QueryDescriptor(CurrentProcessId(), 999999, &one));
  EXPECT_FALSE(ReadDescriptorTarget(CurrentProcessId(), 999999, &target));
}

TEST(ProcessStartTimeTest, NamesOneProcessAndFailsOnceItEnded) {
  std::uint64_t mine = 0, again = 0;
  ASSERT_TRUE(ReadProcessStartTime(CurrentProcessId(), &mine));
  ASSERT_TRUE(ReadProcessStartTime(CurrentProcessId(), &again));
  EXPECT_EQ(mine, again);
  EXPECT_GT(mine, 0u);
  EXPECT_FALSE(ReadProcessStartTime(0x7FFFFFF0u, &again));
}

TEST_F(DescriptorTest, PositionAndAccessFollowTheOpen) {
  const std::string song = env_.Path("b.flac");
  testing_support::WriteFile(song, std::string(300000, 'x'));
  const int reader = Keep(::open(song.c_str(), O_RDONLY));
  const int writer = Keep(::open(song.c_str(), O_WRONLY | O_APPEND));
  const int both = Keep(::open(song.c_str(), O_RDWR));
  ASSERT_EQ(::lseek(reader, 131072, SEEK_SET), 131072);
  DescriptorInfo info;
  ASSERT_TRUE(ReadDescriptorInfo(CurrentProcessId(), reader, &info));
  EXPECT_EQ(info.position, 131072u);
  EXPECT_EQ(AccessFromOpenFlags(info.flags), 0x1u);
  ASSERT_TRUE(ReadDescriptorInfo(CurrentProcessId(), writer, &info));
  EXPECT_EQ(AccessFromOpenFlags(info.flags), 0x2u);
  ASSERT_TRUE(ReadDescriptorInfo(CurrentProcessId(), both, &info));
  EXPECT_EQ(AccessFromOpenFlags(info.flags), 0x3u);
  EXPECT_FALSE(ReadDescriptorInfo(CurrentProcessId(), 999999, &info));
}

TEST(ProcessTableOwnerTest, AnotherUsersProcessIsNotOurs) {
  if (::geteuid() != 0) {
    // Without root no second user can be made; pid 1 usually is another's.
    if (!ProcessBelongsToUser(1)) {
      std::vector<Descriptor> list;
      EXPECT_FALSE(ListDescriptors(1, &list));
    }
    GTEST_SKIP() << "needs root to run a process as another user";
  }
  // A child that becomes another user looks at this (root's) process.
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    std::vector<Descriptor> list;
    const bool ours = ProcessBelongsToUser(static_cast<std::uint32_t>(parent));
    const bool listed = ListDescriptors(static_cast<std::uint32_t>(parent), &list);
    ::_exit(ours ? 3 : listed ? 4 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace platform
