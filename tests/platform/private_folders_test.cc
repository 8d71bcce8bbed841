// Folders and files another local user could tamper with: foreign or
// shared folders are not used, and the program's files are never opened
// through a symbolic link. The tests of other owners need root (CI runs as
// root) and use the `nobody` user; they are skipped otherwise.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/file_handle.h"
#include "platform/file_io.h"
#include "platform/file_lock.h"
#include "platform/folders.h"
#include "platform/single_instance.h"
#include "tests/support/temp_env.h"

namespace platform {
namespace {

using testing_support::ReadFile;
using testing_support::TempEnv;
using testing_support::WriteFile;

// A folder at `path` with `mode`, belonging to `uid` (-1: the caller).
void MakeFolder(const std::string& path, mode_t mode, uid_t uid = static_cast<uid_t>(-1)) {
  std::filesystem::create_directories(path);
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
  if (uid != static_cast<uid_t>(-1)) {
    ASSERT_EQ(::chown(path.c_str(), uid, uid), 0);
  }
}

TEST(PrivateFoldersTest, OnlyTheUsersOwnUnsharedFoldersArePrivate) {
  TempEnv env;
  std::string why;
  MakeFolder(env.Path("mine"), 0755);
  EXPECT_TRUE(IsPrivateDir(env.Path("mine"), &why));
  EXPECT_EQ(why, "");
  MakeFolder(env.Path("shared"), 01777);
  EXPECT_FALSE(IsPrivateDir(env.Path("shared"), &why));
  EXPECT_EQ(why, "other users may write to it");
  MakeFolder(env.Path("group"), 0770);
  EXPECT_FALSE(IsPrivateDir(env.Path("group")));
  WriteFile(env.Path("file"), "x");
  EXPECT_FALSE(IsPrivateDir(env.Path("file"), &why));
  EXPECT_EQ(why, "it is not a folder");
}

TEST(PrivateFoldersTest, TheDataFolderIsKeptPrivateOrRefused) {
  TempEnv env;
  std::string problem;
  ASSERT_TRUE(PrepareDataDir(&problem)) << problem;
  struct stat st {};
  ASSERT_EQ(::stat(DataDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::chmod(DataDir().c_str(), 0755), 0);
  ASSERT_TRUE(PrepareDataDir(&problem));
  ASSERT_EQ(::stat(DataDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  // A world-writable folder is refused and left as it is.
  ASSERT_EQ(::chmod(DataDir().c_str(), 01777), 0);
  EXPECT_FALSE(PrepareDataDir(&problem));
  EXPECT_EQ(problem, "the data folder " + DataDir() +
                         " is not safe to use (other users may write to it); it must belong to "
                         "you and be writable by you alone");
  ASSERT_EQ(::stat(DataDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 01777u);
  // A shared runtime folder is not used either.
  ASSERT_EQ(::chmod(env.RuntimeDir().c_str(), 01777), 0);
  EXPECT_EQ(RuntimeDir(), DataDir());
}

TEST(PrivateFoldersTest, FilesAreNeverOpenedThroughASymbolicLink) {
  TempEnv env;
  const std::string victim = env.Path("victim");
  WriteFile(victim, "precious\n");
  const std::string link = env.Path("planted");
  ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);

  EXPECT_EQ(AppendToFile(link, "log line\n").open_error, ELOOP);
  EXPECT_EQ(TryOpenForAppend(link), ELOOP);
  FileHandle handle;
  EXPECT_FALSE(handle.OpenReadWrite(link));
  EXPECT_EQ(CopyFileOverwrite(env.Path("victim"), link), ELOOP);
  EXPECT_EQ(CopyFileOverwrite(link, env.Path("copy")), ELOOP);
  ASSERT_EQ(::symlink(victim.c_str(), (env.RuntimeDir() + "/kiv.lock").c_str()), 0);
  SingleInstance instance(env.RuntimeDir());
  EXPECT_EQ(instance.Acquire(), SingleInstance::State::kFailed);
  EXPECT_EQ(instance.error(), ELOOP);
  FileLock lock;
  EXPECT_EQ(lock.Take(link), FileLock::State::kFailed);
  EXPECT_EQ(lock.error(), ELOOP);
  EXPECT_EQ(ReadFile(victim), "precious\n");
}

class ForeignOwnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give folders to another user";
    const passwd* pw = ::getpwnam("nobody");
    if (!pw) GTEST_SKIP() << "no user nobody";
    nobody_ = pw->pw_uid;
  }
  uid_t nobody_ = 0;
};

TEST_F(ForeignOwnerTest, FoldersOfAnotherUserAreNotUsed) {
  TempEnv env;
  MakeFolder(DataDir(), 0700, nobody_);
  std::string problem;
  EXPECT_FALSE(PrepareDataDir(&problem));
  EXPECT_NE(problem.find("(it belongs to another user)"), std::string::npos) << problem;

  // A runtime folder of someone else's, with their lock and socket in it:
  // the data folder stands in and this copy starts.
  ASSERT_EQ(::chown(DataDir().c_str(), ::geteuid(), ::getegid()), 0);
  MakeFolder(env.RuntimeDir(), 0755, nobody_);
  const std::string planted = env.RuntimeDir() + "/kiv.lock";
  WriteFile(planted, "");
  ASSERT_EQ(::chown(planted.c_str(), nobody_, nobody_), 0);
  const int held = ::open(planted.c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(RuntimeDir(), DataDir());
  SingleInstance instance(RuntimeDir());
  EXPECT_EQ(instance.Acquire(), SingleInstance::State::kFirst);
  ::close(held);
}

}  // namespace
}  // namespace platform
