#include "scan/absent_volume.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_env.h"

namespace {

namespace fs = std::filesystem;

TEST(AbsentVolumeTest, AnEmptyFolderAboveTheFileMeansItsVolumeIsAbsent) {
  testing_support::TempEnv env;
  ForgetMountPoints();
  const std::string music = env.Path("music");
  fs::create_directories(music + "/usb");
  testing_support::WriteFile(music + "/kept.mp3", "x");
  // The mount point is there and empty, or gone altogether.
  EXPECT_TRUE(OnAbsentVolume(music + "/usb/Album/a.mp3"));
  EXPECT_FALSE(OnAbsentVolume(music + "/b.mp3"));
  // A file where a folder was: what was below it is gone.
  testing_support::WriteFile(music + "/usb/Album", "x");
  EXPECT_FALSE(OnAbsentVolume(music + "/usb/Album/a.mp3"));

  // A mount point seen earlier that is not mounted now, even with files
  // put into its folder since.
  RememberMountPoint(music + "/usb/");
  EXPECT_TRUE(OnAbsentVolume(music + "/usb/Album/a.mp3"));
  EXPECT_FALSE(OnAbsentVolume(music + "/gone/a.mp3"));  // a folder gone from a present volume
  EXPECT_FALSE(IsMountPointNow(music + "/usb"));
  EXPECT_FALSE(IsMountPointNow("/"));
  ForgetMountPoints();
  EXPECT_FALSE(OnAbsentVolume(music + "/usb/Album/a.mp3"));
}

}  // namespace
