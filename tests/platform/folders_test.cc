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
