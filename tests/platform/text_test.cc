#include "platform/text.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(TextTest, RoundTripsAstralAndBmpText) {
  std::string utf8 = "K\xC3\xA4se \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xB5";
  std::u16string utf16 = Utf8ToUtf16(utf8);
  EXPECT_EQ(utf16.size(), 10u);  // the note needs a surrogate pair
  EXPECT_EQ(Utf16Length(utf8), utf16.size());
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
}

TEST(TextTest, InvalidUtf8BecomesReplacementAndIsReported) {
  bool valid = true;
  std::u16string out = Utf8ToUtf16(
      "a\xFF"
      "b\xE6\x97",
      &valid);
  EXPECT_FALSE(valid);
  EXPECT_EQ(out, u"a\uFFFDb\uFFFD\uFFFD");
  EXPECT_FALSE(IsValidUtf8("plain ascii then \xFF"));
  EXPECT_TRUE(IsValidUtf8("plain ascii"));
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // encoded surrogate
  EXPECT_TRUE(IsValidUtf8(""));
}

TEST(TextTest, UnpairedSurrogateBecomesReplacement) {
  std::u16string lone = u"x";
  lone += static_cast<char16_t>(0xD800);
  EXPECT_EQ(Utf16ToUtf8(lone), "x\xEF\xBF\xBD");
}

TEST(TextTest, AppendingKeepsWhatTheBufferHeld) {
  std::string out = "/music/";
  AppendUtf16AsUtf8(u"\u00C4rtist \u65E5/Album of the Year/\U0001F3B5 01 Song Title.mp3", &out);
  EXPECT_EQ(out,
            "/music/\xC3\x84rtist \xE6\x97\xA5/Album of the Year/\xF0\x9F\x8E\xB5 01 Song "
            "Title.mp3");
  out.clear();
  AppendUtf16AsUtf8(u"a", &out);
  EXPECT_EQ(out, "a");
}

TEST(TextTest, PrefixNeverCutsACharacter) {
  std::string s = "ab\xE6\x97\xA5";
  EXPECT_EQ(Utf8Prefix(s, 4), "ab");
  EXPECT_EQ(Utf8Prefix(s, 5), s);
  EXPECT_EQ(Utf8Prefix(s, 0), "");
}

TEST(TextTest, TrimAndLower) {
  EXPECT_EQ(TrimWhite(" \t a b \r\n"), "a b");
  EXPECT_EQ(TrimWhite("   "), "");
  EXPECT_EQ(AsciiLower("VLC.EXE"), "vlc.exe");
}

TEST(TextTest, BaseNameIsThePartAfterTheLastSlash) {
  EXPECT_EQ(BaseName("/music/a b/Song.mp3"), "Song.mp3");
  EXPECT_EQ(BaseName("Song.mp3"), "Song.mp3");
  EXPECT_EQ(BaseName("/music/"), "");
}

}  // namespace
}  // namespace platform
