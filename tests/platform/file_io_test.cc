#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/temp_env.h"

namespace platform {
namespace {

using testing_support::ReadFile;
using testing_support::TempEnv;
using testing_support::WriteFile;

TEST(FileIoTest, AppendCreatesPrivateFileAndAppends) {
  TempEnv env;
  std::string path = env.Path("a.log");
  ASSERT_TRUE(AppendToFile(path, "one\r\n").ok());
  ASSERT_TRUE(AppendToFile(path, "two\r\n").ok());
  EXPECT_EQ(ReadFile(path), "one\r\ntwo\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::int64_t size = 0;
  ASSERT_TRUE(FileSize(path, &size));
  EXPECT_EQ(size, 10);
}

TEST(FileIoTest, AppendReportsTheOpenErrorAndRefusesFifosAndFolders) {
  TempEnv env;
  AppendResult missing = AppendToFile(env.Path("no/such/folder/a.log"), "x");
  EXPECT_EQ(missing.open_error, ENOENT);
  EXPECT_EQ(AppendToFile(env.root(), "x").open_error, EISDIR);
  // A character device is written like a file.
  EXPECT_TRUE(AppendToFile("/dev/null", "x").ok());
  EXPECT_EQ(TryOpenForAppend("/dev/null"), 0);
  // A FIFO without a reader must not block the caller; with one it is
  // refused all the same.
  std::string fifo = env.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_NE(TryOpenForAppend(fifo), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(AppendToFile(fifo, "x").open_error, EINVAL);
  ::close(reader);
  EXPECT_EQ(TryOpenForAppend(env.Path("new.log")), 0);
  EXPECT_TRUE(PathExists(env.Path("new.log")));
}

TEST(FileIoTest, ReadLimitedReadsRegularFilesUpToTheLimitOnly) {
  TempEnv env;
  std::string out = "stale";
  WriteFile(env.Path("f"), std::string(1000, 'x'));
  EXPECT_EQ(ReadFileLimited(env.Path("f"), 1000, &out), 0);
  EXPECT_EQ(out.size(), 1000u);
  EXPECT_EQ(ReadFileLimited(env.Path("f"), 999, &out), EFBIG);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(ReadFileLimited(env.Path("missing"), 10, &out), ENOENT);
  EXPECT_EQ(ReadFileLimited(env.root(), 10, &out), EINVAL);
  // A FIFO without a writer must not block the caller.
  ASSERT_EQ(::mkfifo(env.Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadFileLimited(env.Path("fifo"), 10, &out), EINVAL);
}

TEST(FileIoTest, CopyOverwritesAndRemoveDeletes) {
  TempEnv env;
  WriteFile(env.Path("src"), std::string(200000, 'a'));
  WriteFile(env.Path("dst"), "old contents that are longer than nothing");
  EXPECT_EQ(CopyFileOverwrite(env.Path("src"), env.Path("dst")), 0);
  EXPECT_EQ(ReadFile(env.Path("dst")), std::string(200000, 'a'));
  EXPECT_EQ(RemoveFile(env.Path("dst")), 0);
  EXPECT_FALSE(PathExists(env.Path("dst")));
  EXPECT_EQ(RemoveFile(env.Path("dst")), ENOENT);
  EXPECT_EQ(CopyFileOverwrite(env.Path("missing"), env.Path("dst")), ENOENT);
  EXPECT_TRUE(IsDirectory(env.root()));
  EXPECT_FALSE(IsDirectory(env.Path("src")));
  EXPECT_FALSE(IsDirectory(""));
}

}  // namespace
}  // namespace platform
