// The data folder turning read-only under the running monitor: a real ext4
// file system on a loop device, mounted with errors=remount-ro and made to
// fail as a dying disk would. Needs root, loop devices and mkfs.ext4; the
// test skips otherwise.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "db/kiv_db.h"
#include "platform/folders.h"
#include "tests/playmon/play_fixture.h"

namespace playmon_test {
namespace {

namespace fs = std::filesystem;

bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The device mounted at `folder` ("loop3"), empty when none.
std::string MountedDevice(const std::string& folder) {
  std::ifstream mounts("/proc/self/mounts");
  std::string device, point, rest;
  while (mounts >> device >> point && std::getline(mounts, rest))
    if (point == folder && device.rfind("/dev/", 0) == 0) return device.substr(5);
  return "";
}

class ReadOnlyPlayTest : public PlayFixture {
 protected:
  void SetUp() override {
    data_ = env_.DataHome();
    image_ = env_.Path("data.img");
    fs::create_directories(data_);
    if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
    std::ofstream(image_).close();
    fs::resize_file(image_, 16 << 20);
    if (!Shell("mkfs.ext4 -q -F " + image_)) GTEST_SKIP() << "no mkfs.ext4";
    mounted_ = Shell("mount -o loop,errors=remount-ro " + image_ + " " + data_);
    if (!mounted_) GTEST_SKIP() << "no loop device to mount an ext4 image on";
    device_ = MountedDevice(data_);
    ASSERT_FALSE(device_.empty());
    PlayFixture::SetUp();
    counted_ = std::make_unique<CountedPlays>(platform::DataDir() + "/playmon.counted");
  }
  void TearDown() override {
    PlayFixture::TearDown();
    if (mounted_) ::umount2(data_.c_str(), MNT_DETACH);
  }
  // An ext4 error: the kernel remounts the file system read-only at once,
  // with the database still open for writing. False when this kernel
  // cannot be asked for one.
  bool FailFileSystem() {
    std::ofstream trigger("/sys/fs/ext4/" + device_ + "/trigger_fs_error");
    if (!(trigger << "1" << std::flush)) return false;
    const int fd = ::open((data_ + "/probe").c_str(), O_WRONLY | O_CREAT, 0600);
    EXPECT_LT(fd, 0) << "still writable";
    EXPECT_EQ(errno, EROFS);
    if (fd >= 0) ::close(fd);
    return true;
  }
  // Lines of the levels that report a fault.
  int Complaints() {
    const std::string log = LogText();
    return Occurrences(log, " ERROR ") + Occurrences(log, " WARNING ") +
           Occurrences(log, " CRITICAL ");
  }
  // Unmounts, repairs the file system as the next boot would and mounts it
  // again: what reached the disk.
  void Remount() {
    KivDB::Shutdown();
    ASSERT_EQ(::umount2(data_.c_str(), 0), 0);
    mounted_ = false;
    Shell("e2fsck -fy " + image_);
    mounted_ = Shell("mount -o loop " + image_ + " " + data_);
    ASSERT_TRUE(mounted_);
    ASSERT_TRUE(KivDB::Initialise(clock_));
  }

  std::string data_;
  std::string image_;
  std::string device_;
  bool mounted_ = false;
};

TEST_F(ReadOnlyPlayTest, ADataFolderTurnedReadOnlyKeepsItsRecordsAndSaysSoOnce) {
  const std::string counted = PutSong(music_ + "/counted.mp3", "Counted");
  const std::string kept = PutSong(music_ + "/kept.mp3", "Kept");
  Choose(music_);
  Index(counted);
  Index(kept);
  auto monitor = MakeMonitor();
  auto player = StartPlayer("mpv", {"r:" + counted});
  for (int i = 0; i < 3; ++i) Look(*monitor);
  ASSERT_EQ(Events(Posted()), std::vector<std::string>{"Now Playing: counted.mp3"});

  if (!FailFileSystem()) GTEST_SKIP() << "this kernel cannot be made to fail an ext4 file system";
  player = StartPlayer("mpv", {"r:" + kept});
  for (int i = 0; i < 5; ++i) Look(*monitor);
  EXPECT_EQ(Events(Posted()), std::vector<std::string>{"Play Ended: counted.mp3"})
      << "announced a play that was not stored";
  // The records stay readable; a new one is refused without damage.
  EXPECT_EQ(Record(counted).play_count, 1);
  EXPECT_EQ(Record(kept).play_count, 0);
  {
    KivDB db;
    EXPECT_FALSE(db.AddEntry(PutSong(music_ + "/new.mp3", "New")));
  }
  EXPECT_TRUE(KivDB::WritesFailing());

  // Told once, then quiet however long it stays so: no line per look.
  const std::string log = LogText();
  EXPECT_EQ(Occurrences(log, "Writes to the local db fail (Read-only file system)"), 1) << log;
  EXPECT_EQ(Occurrences(log, "Unable to write to local db file: "), 1) << log;
  EXPECT_EQ(Occurrences(log, "Could not store the play"), 1) << log;
  EXPECT_EQ(Occurrences(log, "Unable to create or open local db file"), 0) << log;
  const int complaints = Complaints();
  for (int i = 0; i < 20; ++i) Look(*monitor);
  EXPECT_EQ(Complaints(), complaints) << LogText();

  // What reached the disk: the play announced before the failure, in a
  // file that loads whole.
  player.reset();
  monitor.reset();
  Remount();
  EXPECT_EQ(KivDB::ValidCount(), 2u);
  EXPECT_EQ(Record(counted).play_count, 1);
  EXPECT_TRUE(Record(counted).flags & DBFLAG_PLAYED);
}

}  // namespace
}  // namespace playmon_test
