#include "platform/folders.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/support/temp_env.h"

namespace platform {
namespace {

TEST(FoldersTest, FollowTheXdgVariables) {
  testing_support::TempEnv env;
  EXPECT_EQ(ConfigDir(), env.ConfigHome() + "/kiv");
  EXPECT_EQ(DataDir(), env.DataHome() + "/kiv");
  EXPECT_EQ(RuntimeDir(), env.RuntimeDir());
  EXPECT_EQ(MusicDir(), env.Path("home") + "/Music");
}

TEST(FoldersTest, SystemTreesAreWholeComponentsFromTheRootButRemovableDrivesAreNot) {
  for (const char* path : {"/proc", "/proc/1/fd", "/usr/share/sounds/a.wav", "/etc", "/dev/sda",
                           "/boot/x", "/run/user/1000/a.mp3", "/sys/class"})
    EXPECT_TRUE(IsInSystemTree(path)) << path;
  for (const char* path : {"/home/me/Music/etc/a.mp3", "/usrlocal/a.mp3", "/home/run dmc/x.mp3",
                           "/mnt/usr", "/", "", "/run/media/me/USB/a.mp3", "/run/mediaplayer/x"})
    EXPECT_EQ(IsInSystemTree(path), std::string(path) == "/run/mediaplayer/x") << path;
}

TEST(FoldersTest, RelativeXdgValuesAreIgnored) {
  testing_support::TempEnv env;
  ::setenv("XDG_DATA_HOME", "relative/data", 1);
  EXPECT_EQ(DataDir(), env.Path("home") + "/.local/share/kiv");
}

TEST(FoldersTest, MusicFolderComesFromUserDirs) {
  testing_support::TempEnv env;
  testing_support::WriteFile(env.ConfigHome() + "/user-dirs.dirs",
                             "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                             "XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
  EXPECT_EQ(MusicDir(), env.Path("home") + "/Musik");
  EXPECT_EQ(ParseUserDirsMusic("XDG_MUSIC_DIR=\"/srv/music/\"", "/h"), "/srv/music");
  EXPECT_EQ(ParseUserDirsMusic("XDG_MUSIC_DIR=\"relative\"", "/h"), "");
}

TEST(FoldersTest, EnsureDirCreatesPrivateParents) {
  testing_support::TempEnv env;
  std::string dir = env.Path("a/b/c");
  ASSERT_TRUE(EnsureDir(dir));
  struct stat st {};
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  testing_support::WriteFile(env.Path("file"), "x");
  EXPECT_FALSE(EnsureDir(env.Path("file")));
}

TEST(FoldersTest, ProgramDirIsTheTestBinaryFolder) {
  EXPECT_FALSE(ProgramDir().empty());
  EXPECT_EQ(ProgramDir()[0], '/');
}

}  // namespace
}  // namespace platform
