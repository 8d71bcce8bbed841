#include "playmon/handle_information.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "playmon/process_information.h"
#include "tests/playmon/play_fixture.h"

namespace playmon_test {
namespace {

namespace fs = std::filesystem;

class HandleInformationTest : public PlayFixture {};

TEST_F(HandleInformationTest, OnlyThePlayersFilesAreListedWithPositionAndAccess) {
  const std::string song = PutSong(music_ + "/a.mp3");
  const std::string written = PutSong(music_ + "/w.mp3");
  const std::string gone = PutSong(music_ + "/gone.mp3");
  const std::string odd = PutSong(music_ + "/kept (deleted).mp3");
  auto player = StartPlayer("qmmp", {"s:" + song, "w:" + written, "s:" + gone, "s:" + odd});
  auto other = StartPlayer("not-a-player", {"s:" + song});
  fs::remove(gone);
  // This process holds the song too: its own handles are never listed.
  const int own = ::open(song.c_str(), O_RDONLY);

  SystemProcessInformation players({"QMMP"}, true);
  ASSERT_EQ(players.processes().size(), 1u);
  EXPECT_EQ(players.processes().begin()->second, "qmmp");
  const DWORD pid = players.processes().begin()->first;
  EXPECT_EQ(pid, static_cast<DWORD>(player->pid()));

  SystemHandleInformation handles(kAllProcesses, false, nullptr);
  handles.SetProcesses({pid, static_cast<DWORD>(::getpid())});
  ASSERT_TRUE(handles.SetFilter(kFileTypeName, true));
  std::vector<std::string> names;
  for (const HandleEntry& entry : handles.handles()) {
    EXPECT_EQ(entry.process_id, pid);
    EXPECT_EQ(entry.object_type, kFileTypeNumber);
    std::string name;
    ASSERT_TRUE(GetName(entry.handle_value, &name, entry.process_id));
    names.push_back(name);
    std::uint64_t position = 7;
    std::uint32_t access = 7;
    ASSERT_TRUE(GetFilePositionAndAccess(entry.handle_value, &position, &access, pid));
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(access, name == written ? 0x2u : 0x1u) << name;
  }
  // The deleted file (descriptor 5) is neither listed nor named; the
  // standard descriptors are not files.
  EXPECT_EQ(names, (std::vector<std::string>{song, written, odd}));
  std::string name;
  EXPECT_FALSE(GetName(5, &name, pid));

  // Without a type filter the pipe and /dev/null are there too.
  ASSERT_TRUE(handles.SetFilter("", true));
  EXPECT_GT(handles.handles().size(), 2u);
  std::string type;
  ASSERT_TRUE(GetTypeToken(1, &type, pid));
  EXPECT_EQ(type, "Pipe");
  ::close(own);
}

// A read position past 4 GiB (long high-resolution recordings) is read whole,
// so a repeat near the end of such a file is still seen.
TEST_F(HandleInformationTest, PositionsPastFourGibibytesAreReadWhole) {
  const int fd = ::open(PutSong(music_ + "/long.flac").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const off_t far = (off_t{5} << 30) + 123;
  ASSERT_EQ(::lseek(fd, far, SEEK_SET), far);
  std::uint64_t position = 0;
  std::uint32_t access = 0;
  ASSERT_TRUE(GetFilePositionAndAccess(fd, &position, &access, ::getpid()));
  EXPECT_EQ(position, static_cast<std::uint64_t>(far));
  ::close(fd);
}

TEST(HandleQueriesTest, ClosedHandlesFailAndNamesNeedAFullPath) {
  std::uint64_t position = 7;
  std::uint32_t access = 7;
  EXPECT_FALSE(GetFilePositionAndAccess(999999, &position, &access, ::getpid()));
  EXPECT_EQ(position, 0u);
  EXPECT_EQ(access, 0u);
  std::string name;
  EXPECT_FALSE(GetName(999999, &name, ::getpid()));

  std::string path;
  EXPECT_TRUE(DeviceToDosPath("/home/me/Music/a.mp3", &path));
  EXPECT_EQ(path, "/home/me/Music/a.mp3");
  EXPECT_FALSE(DeviceToDosPath("socket:[1234]", &path));
  EXPECT_FALSE(DeviceToDosPath("", &path));

  std::uint8_t number = 0;
  EXPECT_TRUE(GetTypeFromTypeToken("File", &number));
  EXPECT_EQ(number, kFileTypeNumber);
  EXPECT_TRUE(GetTypeFromTypeToken("Directory", &number));
  EXPECT_EQ(number, 2);
  EXPECT_FALSE(GetTypeFromTypeToken("file", &number));
  EXPECT_FALSE(GetTypeFromTypeToken("Socket", &number));

  HandleEntry entry;
  entry.process_id = static_cast<DWORD>(::getpid());
  EXPECT_FALSE(IsSupportedHandle(entry));
  entry.process_id = 1;
  EXPECT_TRUE(IsSupportedHandle(entry));
  entry.granted_access = 0x100004;
  EXPECT_FALSE(IsSupportedHandle(entry));
}

}  // namespace
}  // namespace playmon_test
