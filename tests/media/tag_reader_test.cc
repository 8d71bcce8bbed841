// The tag reader's rules that need no media: the extension list and its
// lifetime, the route rule, the MP4 tag line parser and the field writer.
#include "media/tag_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "media/decoder.h"
#include "media/tag_reader_internal.h"
#include "platform/text.h"

namespace {

using scan_internal::ApplyMp4TagLine;
using scan_internal::ChooseTagRoute;
using scan_internal::FillTagField;
using scan_internal::TagRoute;

MediaTagSet EmptySet(DWORD cch = kMediaTagChars) {
  MediaTagSet tags;
  std::memset(&tags, 0, sizeof(tags));
  tags.cbSize = kMediaTagSetSize;
  tags.cchField = cch;
  return tags;
}

bool Listed(const std::string& extension) {
  std::vector<std::string> list = SupportedExtensions();
  return std::find(list.begin(), list.end(), extension) != list.end();
}

TEST(TagReaderTest, ReferencesFillAndEmptyTheExtensionList) {
  EXPECT_TRUE(SupportedExtensions().empty());
  EXPECT_FALSE(IsSupportedFile("song.mp3"));
  std::vector<std::string> first;
  {
    CTagReaderRef outer;
    first = SupportedExtensions();
    ASSERT_GE(first.size(), 8u);
    std::vector<std::string> base(first.begin(), first.begin() + 8);
    EXPECT_EQ(base,
              (std::vector<std::string>{"wav", "mp3", "m4p", "m4a", "aiff", "mp2", "mp1", "ogg"}));
    {
      CTagReaderRef inner;  // a second reference changes nothing
      EXPECT_EQ(SupportedExtensions(), first);
    }
    EXPECT_EQ(SupportedExtensions(), first);
    EXPECT_TRUE(IsSupportedFile("song.mp3"));
  }
  EXPECT_TRUE(SupportedExtensions().empty());
  EXPECT_FALSE(IsSupportedFile("song.mp3"));
  CTagReaderRef again;
  EXPECT_EQ(SupportedExtensions(), first);
}

TEST(TagReaderTest, ListHoldsFfmpegFormatsWithoutDuplicates) {
  CTagReaderRef ref;
  std::vector<std::string> list = SupportedExtensions();
  EXPECT_EQ(std::set<std::string>(list.begin(), list.end()).size(), list.size());
  // Debian's FFmpeg reads all of these.
  for (const char* extension : {"flac", "fla", "wma", "opus", "oga", "ape", "wv", "mpc", "m4b"}) {
    EXPECT_TRUE(Listed(extension)) << extension;
  }
  for (const std::string& extension : list) {
    EXPECT_EQ(extension, platform::AsciiLower(extension));
    EXPECT_FALSE(extension.empty());
  }
}

TEST(TagReaderTest, SupportedFileRulesFollowTheLastDot) {
  CTagReaderRef ref;
  EXPECT_TRUE(IsSupportedFile("song.MP3"));
  EXPECT_TRUE(IsSupportedFile("song.mp3"));
  EXPECT_TRUE(IsSupportedFile("/home/u/a.b/song.Mp3"));
  EXPECT_TRUE(IsSupportedFile("mp3"));    // no dot: the whole text
  EXPECT_FALSE(IsSupportedFile(".mp3"));  // the only dot is at position 0
  EXPECT_FALSE(IsSupportedFile("song.mp3.txt"));
  EXPECT_FALSE(IsSupportedFile("song."));
  EXPECT_FALSE(IsSupportedFile("/music/a.b/song"));
  EXPECT_FALSE(IsSupportedFile(""));

  EXPECT_EQ(GetExtension("A.B.FLAC"), "flac");
  EXPECT_EQ(GetExtension("MP3"), "mp3");
  EXPECT_EQ(GetExtension(".Hidden"), ".hidden");
  EXPECT_EQ(GetExtension("x."), "");
}

TEST(TagReaderTest, AddExtensionKeepsOrderAndRefusesDuplicates) {
  CTagReaderRef ref;
  std::size_t before = SupportedExtensions().size();
  ASSERT_FALSE(Listed("xyz1"));
  scan_internal::AddExtensionList("*.XYZ1;*.xyz2");
  scan_internal::AddExtensionList("*.mp3");  // already there
  AddExtension("Xyz1");
  AddExtension("");
  AddExtension("tar.gz");
  std::vector<std::string> list = SupportedExtensions();
  ASSERT_EQ(list.size(), before + 2);
  EXPECT_EQ(list[before], "xyz1");
  EXPECT_EQ(list[before + 1], "xyz2");
  EXPECT_TRUE(IsSupportedFile("a.XYZ2"));
  EXPECT_FALSE(IsSupportedFile("name."));  // no empty entry was made
}

TEST(TagReaderTest, RouteFollowsTheExtension) {
  for (const char* path :
       {"a.mp3", "a.MP2", "a.mp1", "b.c/a.Ogg", "a.flac", "a.wma", "a.ape", "a.ofr", "a.mpc"}) {
    EXPECT_EQ(ChooseTagRoute(path), TagRoute::kTagAddOn) << path;
  }
  for (const char* path : {"a.m4a", "a.m4p", "a.wav", "a.aiff", "a.opus", "noext", "a.mp3.m4a"}) {
    EXPECT_EQ(ChooseTagRoute(path), TagRoute::kMp4Tags) << path;
  }
}

TEST(TagReaderTest, Mp4TagLinesFillTheirFields) {
  MediaTagSet tags = EmptySet();
  ApplyMp4TagLine("=title=x", &tags);
  EXPECT_EQ(std::u16string(tags.title), u"x");
  ApplyMp4TagLine("TITLE=a=b", &tags);  // the value keeps its '='
  EXPECT_EQ(std::u16string(tags.title), u"a=b");
  ApplyMp4TagLine("year=1999", &tags);
  ApplyMp4TagLine("date=2001-02-03", &tags);  // the later one wins
  EXPECT_EQ(std::u16string(tags.year), u"2001-02-03");
  ApplyMp4TagLine("gnid=G-1", &tags);
  ApplyMp4TagLine("track=4/9", &tags);
  ApplyMp4TagLine("comment=K\xC3\xA4se", &tags);
  EXPECT_EQ(std::u16string(tags.gnid), u"G-1");
  EXPECT_EQ(std::u16string(tags.track), u"4/9");
  EXPECT_EQ(std::u16string(tags.comment), u"Käse");

  MediaTagSet before = tags;
  for (const char* line : {"tempo=120", "artist", "artist=", "=", "", "album"}) {
    ApplyMp4TagLine(line, &tags);
  }
  EXPECT_EQ(std::memcmp(&before, &tags, sizeof(tags)), 0);
}

TEST(TagReaderTest, FieldsAreCutAtACharacterAndAlwaysTerminated) {
  char16_t field[kMediaTagChars];
  std::fill(std::begin(field), std::end(field), u'#');
  FillTagField(field, kMediaTagChars, std::string(1000, 'a'));
  EXPECT_EQ(std::u16string(field), std::u16string(255, u'a'));

  // A note (two UTF-16 units) that does not fit whole is dropped whole.
  std::fill(std::begin(field), std::end(field), u'#');
  FillTagField(field, 4, "ab\xF0\x9F\x8E\xB5");
  EXPECT_EQ(std::u16string(field), u"ab");
  FillTagField(field, 5, "ab\xF0\x9F\x8E\xB5");
  EXPECT_EQ(std::u16string(field), u"ab\U0001F3B5");

  FillTagField(field, 8, "x\xFFy");  // invalid UTF-8
  EXPECT_EQ(std::u16string(field), u"x\uFFFDy");

  std::fill(std::begin(field), std::end(field), u'#');
  FillTagField(field, 0, "abc");  // no room at all: nothing written
  EXPECT_EQ(field[0], u'#');
  FillTagField(field, 1, "abc");
  EXPECT_EQ(field[0], 0);
}

TEST(TagReaderTest, CallerCapacityIsHonouredAndClamped) {
  MediaTagSet tags = EmptySet(3);
  ApplyMp4TagLine("artist=abcdef", &tags);
  EXPECT_EQ(std::u16string(tags.artist), u"ab");
  EXPECT_EQ(tags.artist[3], 0);  // nothing written past the capacity

  tags = EmptySet(100000);  // more than the field holds
  ApplyMp4TagLine("album=" + std::string(600, 'z'), &tags);
  EXPECT_EQ(std::u16string(tags.album).size(), kMediaTagChars - 1);
  EXPECT_EQ(tags.genre[0], 0);
}

TEST(TagReaderTest, BadSetOrNoReferenceIsRefused) {
  MediaTagSet tags = EmptySet();
  tags.cbSize = 4096;
  tags.title[0] = u'k';
  MediaTagSet before = tags;
  {
    CTagReaderRef ref;
    EXPECT_EQ(ReadTags("/nonexistent.mp3", &tags), E_POINTER);
    EXPECT_EQ(std::memcmp(&before, &tags, sizeof(tags)), 0);
    EXPECT_EQ(ReadTags("/nonexistent.mp3", nullptr), E_POINTER);
    tags.cbSize = kMediaTagSetSize;
    EXPECT_EQ(ReadTags("/nonexistent.mp3", &tags), E_FAIL);
  }
  EXPECT_EQ(ReadTags("/nonexistent.mp3", &tags), E_FAIL);  // not initialised
}

TEST(TagReaderTest, ConcurrentReferencesKeepTheListWhole) {
  CTagReaderRef held;
  std::vector<std::string> expected = SupportedExtensions();
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        CTagReaderRef ref;
        if (!IsSupportedFile("x.flac") || SupportedExtensions() != expected) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
}

}  // namespace
