// The read-only, block-cached TagLib stream under ReadTags.
#include "media/cached_file_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temp_env.h"

namespace scan_internal {
namespace {

class CachedFileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 100 000 bytes, each position recognisable.
    for (int i = 0; i < 100000; ++i) content_ += static_cast<char>((i * 7 + i / 251) & 0xFF);
    path_ = env_.Path("data.bin");
    testing_support::WriteFile(path_, content_);
  }
  std::string Read(CachedFileStream& stream, unsigned long length) {
    TagLib::ByteVector block = stream.readBlock(length);
    return std::string(block.data(), block.size());
  }

  testing_support::TempEnv env_;
  std::string content_;
  std::string path_;
};

TEST_F(CachedFileStreamTest, ReadsMatchTheFileAcrossBlocksAndSeeks) {
  CachedFileStream stream(path_);
  ASSERT_TRUE(stream.isOpen());
  EXPECT_TRUE(stream.readOnly());
  EXPECT_EQ(stream.length(), 100000);
  EXPECT_EQ(Read(stream, 10), content_.substr(0, 10));
  EXPECT_EQ(stream.tell(), 10);
  for (long at : {4090L, 16380L}) {  // straddling block boundaries
    stream.seek(at);
    EXPECT_EQ(Read(stream, 20), content_.substr(at, 20));
  }
  stream.seek(-8, TagLib::IOStream::End);
  EXPECT_EQ(Read(stream, 100), content_.substr(99992));  // cut at the end
  EXPECT_EQ(Read(stream, 1), "");                        // at the end
  stream.seek(-50000, TagLib::IOStream::Current);
  EXPECT_EQ(stream.tell(), 50000);
  EXPECT_EQ(Read(stream, 40000), content_.substr(50000, 40000));  // past the cache
  for (long at : {0L, 70000L, 1000L, 99999L, 33000L, 5L}) {       // more blocks than cached
    stream.seek(at);
    EXPECT_EQ(Read(stream, 3000), content_.substr(at, 3000)) << at;
  }
  stream.seek(-10);
  EXPECT_EQ(stream.tell(), 0);
  stream.seek(200000);
  EXPECT_EQ(Read(stream, 10), "");
}

TEST_F(CachedFileStreamTest, MissingFileIsNotOpenAndWritesAreRefused) {
  CachedFileStream missing(env_.Path("missing.mp3"));
  EXPECT_FALSE(missing.isOpen());
  EXPECT_EQ(missing.readBlock(10).size(), 0u);

  CachedFileStream stream(path_);
  stream.writeBlock(TagLib::ByteVector("zzzz"));
  stream.insert(TagLib::ByteVector("zzzz"), 0, 0);
  stream.removeBlock(0, 10);
  stream.truncate(5);
  EXPECT_EQ(testing_support::ReadFile(path_), content_);
}

// A read longer than 4 GiB once filled a vector sized by the length's low
// 32 bits: a heap overflow.
TEST_F(CachedFileStreamTest, ReadsBeyondFourGibibytesStayInsideTheirVector) {
  constexpr unsigned long kFourGiB = 1ul << 32;
  const std::string path = env_.Path("sparse.bin");
  testing_support::WriteFile(path, "head");
  std::filesystem::resize_file(path, kFourGiB + 32);
  {
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(static_cast<std::streamoff>(kFourGiB));
    out << "tail";
  }
  CachedFileStream stream(path, 65536);
  ASSERT_TRUE(stream.isOpen());
  const std::string first = Read(stream, kFourGiB + 16);
  ASSERT_EQ(first.size(), 65536u);
  EXPECT_EQ(first.substr(0, 4), "head");
  EXPECT_EQ(stream.tell(), 65536);

  CachedFileStream whole(path);
  whole.seek(static_cast<long>(kFourGiB) - 8);
  const std::string last = Read(whole, kFourGiB + 16);
  ASSERT_EQ(last.size(), 40u);
  EXPECT_EQ(last.substr(8, 4), "tail");
  EXPECT_EQ(whole.tell(), static_cast<long>(kFourGiB + 32));
}

}  // namespace
}  // namespace scan_internal
