#include "platform/file_handle.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "platform/file_info.h"
#include "platform/file_map.h"
#include "platform/last_error.h"
#include "tests/support/temp_env.h"

namespace {

using platform::FileHandle;
using testing_support::ReadFile;
using testing_support::TempEnv;
using testing_support::WriteFile;

TEST(FileHandleTest, PositionalReadsAndWritesDoNotShareAPointer) {
  TempEnv env;
  std::string path = env.Path("f.bin");
  FileHandle a, b;
  ASSERT_TRUE(a.OpenReadWrite(path));
  ASSERT_TRUE(b.OpenReadWrite(path));
  EXPECT_EQ(a.Size(), 0);
  ASSERT_TRUE(a.WriteAt(4, "wxyz", 4));
  ASSERT_TRUE(b.WriteAt(0, "abcd", 4));
  char buf[16] = {};
  std::size_t got = 0;
  ASSERT_TRUE(a.ReadAt(2, buf, sizeof buf, &got));
  EXPECT_EQ(std::string(buf, got), "cdwxyz");  // short only at the end of the file
  EXPECT_EQ(b.Size(), 8);
  ASSERT_TRUE(b.Truncate(3));
  EXPECT_EQ(a.Size(), 3);
  EXPECT_TRUE(a.Flush());
  EXPECT_TRUE(a.Close());
  EXPECT_FALSE(a.is_open());
  EXPECT_FALSE(a.ReadAt(0, buf, 1, &got));
  EXPECT_EQ(ReadFile(path), "abc");
}

TEST(FileHandleTest, OnlyAHandleThatWroteSinceItsLastFlushHasSomethingToFlush) {
  TempEnv env;
  std::string path = env.Path("f.bin");
  FileHandle writer, reader;
  ASSERT_TRUE(writer.OpenReadWrite(path));
  ASSERT_TRUE(reader.OpenReadWrite(path));
  EXPECT_FALSE(writer.written_since_flush());
  ASSERT_TRUE(writer.WriteAt(0, "abcd", 4));
  char buf[4];
  std::size_t got = 0;
  ASSERT_TRUE(reader.ReadAt(0, buf, sizeof buf, &got));
  EXPECT_TRUE(writer.written_since_flush());
  EXPECT_FALSE(reader.written_since_flush());  // the other handle's writes are not its own
  ASSERT_TRUE(writer.Flush());
  EXPECT_FALSE(writer.written_since_flush());
  ASSERT_TRUE(writer.Truncate(2));
  FileHandle moved = std::move(writer);
  EXPECT_TRUE(moved.written_since_flush());
  EXPECT_FALSE(writer.written_since_flush());
  ASSERT_TRUE(moved.Close());
  EXPECT_FALSE(moved.written_since_flush());
}

TEST(FileHandleTest, OpenNeverTruncatesAndReportsMissingFolders) {
  TempEnv env;
  std::string path = env.Path("keep.bin");
  WriteFile(path, "content");
  FileHandle h;
  ASSERT_TRUE(h.OpenReadWrite(path));
  EXPECT_EQ(h.Size(), 7);
  FileHandle bad;
  EXPECT_FALSE(bad.OpenReadWrite(env.Path("missing/dir/x.bin")));
  EXPECT_EQ(platform::GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(bad.last_errno(), ENOENT);
  FileHandle moved = std::move(h);
  EXPECT_TRUE(moved.is_open());
  EXPECT_FALSE(h.is_open());
}

TEST(FileInfoTest, StatReportsKindSizeAndTimes) {
  TempEnv env;
  std::string path = env.Path("a.txt");
  WriteFile(path, std::string(300000, 'x'));
  platform::FileInfo info;
  ASSERT_TRUE(platform::StatFile(path, &info));
  EXPECT_EQ(info.path, path);
  EXPECT_TRUE(info.is_regular);
  EXPECT_FALSE(info.is_directory);
  EXPECT_EQ(info.size, 300000u);
  EXPECT_GT(info.modified, 0);
  EXPECT_GT(info.created, 0);
  EXPECT_GT(info.accessed, 0);
  ASSERT_TRUE(platform::StatFile(env.root(), &info));
  EXPECT_TRUE(info.is_directory);
  EXPECT_FALSE(info.is_regular);
  ASSERT_TRUE(platform::StatFile("/dev/null", &info));
  EXPECT_FALSE(info.is_regular);
  EXPECT_FALSE(platform::StatFile(env.Path("none"), &info));
  EXPECT_EQ(platform::GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace

// A mapped file cut short by someone else: the lost pages read as zeros and
// the view says so, instead of the process dying of SIGBUS; a SIGBUS of
// another origin still ends the process.
TEST(ReadMappingTest, AFileShrinkingUnderTheViewCostsNoCrash) {
  TempEnv env;
  const std::string path = env.Path("f.bin");
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  WriteFile(path, std::string(3 * page, 'x'));
  FileHandle file;
  ASSERT_TRUE(file.OpenRead(path));
  platform::ReadMapping view;
  ASSERT_TRUE(view.Map(file, 3 * page));
  EXPECT_EQ(view.data()[2 * page], 'x');
  EXPECT_FALSE(view.lost());
  FileHandle writer;
  ASSERT_TRUE(writer.OpenReadWrite(path));
  ASSERT_TRUE(writer.Truncate(page));
  const volatile char* data = view.data();
  EXPECT_EQ(data[2 * page + 1], 0);
  EXPECT_EQ(data[0], 'x');
  EXPECT_TRUE(view.lost());
  view.Unmap();
  EXPECT_DEATH(::raise(SIGBUS), "");
}
