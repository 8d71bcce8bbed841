// ReadTags on real files of every format the test-media tool writes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "media/decoder.h"
#include "media/tag_reader.h"
#include "platform/inotify_watcher.h"
#include "platform/text.h"
#include "tests/support/media_cache.h"
#include "tests/support/temp_env.h"

namespace {

using media_cache::CachedMedia;
using media_cache::SampleTags;
using media_cache::TaggedPlan;
using test_media::TagSupport;

std::string Text(const char16_t* field) { return platform::Utf16ToUtf8(field); }

struct ReadResult {
  HRESULT hr;
  MediaTagSet tags;
};

ReadResult Read(const std::string& path, DWORD cch = kMediaTagChars) {
  ReadResult result;
  std::memset(&result.tags, 0, sizeof(result.tags));
  result.tags.cbSize = kMediaTagSetSize;
  result.tags.cchField = cch;
  result.hr = ReadTags(path, &result.tags);
  return result;
}

class TagReaderMediaTest : public ::testing::Test {
 protected:
  CTagReaderRef ref_;
  testing_support::TempEnv env_;
};

TEST_F(TagReaderMediaTest, ReadsTheTagsOfEveryFormat) {
  test_media::MediaTags expected = SampleTags();
  for (const test_media::FormatInfo& format : test_media::TestMediaFormats()) {
    SCOPED_TRACE(format.extension);
    ASSERT_TRUE(IsSupportedFile("x." + format.extension));
    std::string path = CachedMedia(TaggedPlan(format.extension));
    ASSERT_FALSE(path.empty());
    ReadResult read = Read(path);
    ASSERT_EQ(read.hr, S_OK);
    if (format.tags == TagSupport::kNone) continue;
    EXPECT_EQ(Text(read.tags.title), expected.title);
    EXPECT_EQ(Text(read.tags.artist), expected.artist);
    EXPECT_EQ(Text(read.tags.album), expected.album);
    EXPECT_EQ(Text(read.tags.genre), expected.genre);
    if (format.tags == TagSupport::kPartial) continue;
    EXPECT_EQ(Text(read.tags.year), expected.date);
    EXPECT_EQ(Text(read.tags.comment), expected.comment);
    EXPECT_EQ(Text(read.tags.track), expected.track);
    EXPECT_EQ(Text(read.tags.gnid), format.gnid ? expected.gnid : "");
  }
}

TEST_F(TagReaderMediaTest, GnidComesOnlyThroughTheMp4Route) {
  std::string m4a = CachedMedia(TaggedPlan("m4a"));
  ASSERT_FALSE(m4a.empty());
  // The same MP4 file named .mp3 takes the common-tag route: same tags,
  // no gnid.
  std::string renamed = env_.Path("song.mp3");
  std::filesystem::copy_file(m4a, renamed);
  ReadResult read = Read(renamed);
  ASSERT_EQ(read.hr, S_OK);
  EXPECT_EQ(Text(read.tags.title), SampleTags().title);
  EXPECT_EQ(Text(read.tags.gnid), "");
  // With no dot at all the MP4 route is taken.
  std::string bare = env_.Path("song");
  std::filesystem::copy_file(m4a, bare);
  read = Read(bare);
  ASSERT_EQ(read.hr, S_OK);
  EXPECT_EQ(Text(read.tags.gnid), SampleTags().gnid);
}

TEST_F(TagReaderMediaTest, ContentDecidesWhenTheExtensionLies) {
  // An Ogg Vorbis file named .mp3 and an MP3 named .flac.
  std::string ogg = CachedMedia(TaggedPlan("ogg"));
  std::string mp3 = CachedMedia(TaggedPlan("mp3"));
  ASSERT_FALSE(ogg.empty() || mp3.empty());
  std::filesystem::copy_file(ogg, env_.Path("vorbis.mp3"));
  std::filesystem::copy_file(mp3, env_.Path("mpeg.flac"));
  for (const char* name : {"vorbis.mp3", "mpeg.flac"}) {
    SCOPED_TRACE(name);
    ReadResult read = Read(env_.Path(name));
    ASSERT_EQ(read.hr, S_OK);
    EXPECT_EQ(Text(read.tags.artist), SampleTags().artist);
  }
}

TEST_F(TagReaderMediaTest, LongValuesAreCutToTheCallersCapacity) {
  test_media::MediaPlan plan = TaggedPlan("flac");
  plan.tags.title = std::string(300, 'x') + "\xE6\x97\xA5";
  plan.tags.comment = "ab\xF0\x9F\x8E\xB5";
  std::string path = CachedMedia(plan);
  ASSERT_FALSE(path.empty());
  ReadResult read = Read(path);
  ASSERT_EQ(read.hr, S_OK);
  EXPECT_EQ(Text(read.tags.title), std::string(255, 'x'));
  read = Read(path, 4);
  ASSERT_EQ(read.hr, S_OK);
  EXPECT_EQ(Text(read.tags.title), "xxx");
  EXPECT_EQ(Text(read.tags.comment), "ab");  // the pair did not fit whole
}

TEST_F(TagReaderMediaTest, UntaggedFileGivesEmptyFields) {
  test_media::MediaPlan plan;
  plan.format = "mp3";
  std::string path = CachedMedia(plan);
  ASSERT_FALSE(path.empty());
  ReadResult read = Read(path);
  ASSERT_EQ(read.hr, S_OK);
  for (const char16_t* field :
       {read.tags.title, read.tags.artist, read.tags.year, read.tags.track, read.tags.gnid}) {
    EXPECT_EQ(field[0], 0);
  }
}

TEST_F(TagReaderMediaTest, ReadingLooksLikeNoChangeToAFolderWatcher) {
  // The folder monitor re-indexes on a close after writing; reading tags or
  // decoding must not cause one, or every index pass would start another.
  std::string folder = env_.Path("music");
  std::filesystem::create_directories(folder);
  std::vector<std::string> files;
  for (const char* format : {"mp3", "m4a", "flac", "wav"}) {
    files.push_back(folder + "/song." + format);
    std::filesystem::copy_file(CachedMedia(TaggedPlan(format)), files.back());
  }
  platform::InotifyWatcher watcher;
  ASSERT_TRUE(watcher.ok());
  ASSERT_GE(watcher.AddWatch(folder), 0);
  class Sink : public ISampleSink {
    HRESULT Begin(DWORD, DWORD, DWORD) override { return S_OK; }
    HRESULT Write(const void*, DWORD) override { return S_OK; }
    HRESULT Finish(void*) override { return S_OK; }
  } sink;
  for (const std::string& file : files) {
    EXPECT_EQ(Read(file).hr, S_OK);
    EXPECT_EQ(DecodeToSink(file, &sink, nullptr, nullptr), S_OK);
  }
  std::vector<platform::WatchEvent> events;
  EXPECT_FALSE(watcher.Wait(100, &events));
  EXPECT_TRUE(events.empty());
}

}  // namespace
