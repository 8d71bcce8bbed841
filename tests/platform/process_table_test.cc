#include "platform/process_table.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/temp_env.h"

namespace platform {
namespace {

// A child process whose first argument is `argv0`; killed on destruction.
class NamedChild {
 public:
  explicit NamedChild(const char* argv0) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/bin/sleep", argv0, "30", static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~NamedChild() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  std::uint32_t pid() const { return static_cast<std::uint32_t>(pid_); }

 private:
  pid_t pid_;
};

std::string ImageOf(std::uint32_t wanted) {
  std::string found = "<none>";
  ListProcesses([&](std::uint32_t pid, std::string_view image) {
    if (pid == wanted) found = image;
  });
  return found;
}

TEST(ProcessTableTest, ProcessesAreListedByTheBaseNameOfTheirFirstArgument) {
  NamedChild plain("/opt/players/audacious");
  NamedChild wine("C:\\Program Files\\Winamp\\winamp.exe");
  // The child has replaced its image once its cmdline shows the new name.
  for (int i = 0; i < 200 && ImageOf(wine.pid()) != "winamp.exe"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(ImageOf(plain.pid()), "audacious");
  EXPECT_EQ(ImageOf(wine.pid()), "winamp.exe");
  EXPECT_TRUE(ProcessBelongsToUser(plain.pid()));
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
