#include "scan/itunes_values.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

namespace {

TEST(ItunesValuesTest, DecimalReadsLikeAtoiAndClamps) {
  EXPECT_EQ(ParseDecimal("  42"), 42);
  EXPECT_EQ(ParseDecimal("-17abc"), -17);
  EXPECT_EQ(ParseDecimal("+8"), 8);
  EXPECT_EQ(ParseDecimal("abc"), 0);
  EXPECT_EQ(ParseDecimal(""), 0);
  EXPECT_EQ(ParseDecimal("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(ParseDecimal("99999999999999999999999"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(ParseDecimal("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(ParseDecimal("-99999999999999999999999"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(ParseDecimal32("5000000000"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(ParseDecimal32("-5000000000"), std::numeric_limits<std::int32_t>::min());
}

TEST(ItunesValuesTest, PercentDecodingKeepsBrokenEscapesAndRefusesOverlongResults) {
  std::string out;
  ASSERT_TRUE(PercentDecode("a%20b%2Fc%e2%82%ac", &out));
  EXPECT_EQ(out, "a b/c\xE2\x82\xAC");
  // Escapes cut short or not hexadecimal stay as they are.
  ASSERT_TRUE(PercentDecode("100%", &out));
  EXPECT_EQ(out, "100%");
  ASSERT_TRUE(PercentDecode("x%4", &out));
  EXPECT_EQ(out, "x%4");
  ASSERT_TRUE(PercentDecode("%zz%%41", &out));
  EXPECT_EQ(out, "%zz%A");
  // Exactly at the limit is fine, one byte more is refused rather than cut.
  std::string at_limit(kMaxLocationBytes - 1, 'a');
  ASSERT_TRUE(PercentDecode(at_limit + "%41", &out));
  EXPECT_EQ(out.size(), kMaxLocationBytes);
  EXPECT_FALSE(PercentDecode(at_limit + "%41b", &out));
}

TEST(ItunesValuesTest, LocationFormsGiveLocalPathsOnly) {
  std::string path;
  ASSERT_TRUE(LocationToPath("file://localhost/home/u/Music/A%20B/01%20Song.mp3", &path));
  EXPECT_EQ(path, "/home/u/Music/A B/01 Song.mp3");
  ASSERT_TRUE(LocationToPath("FILE://LOCALHOST/srv/x.mp3", &path));
  EXPECT_EQ(path, "/srv/x.mp3");
  ASSERT_TRUE(LocationToPath("file:///srv/m%C3%BCsic/y.flac", &path));
  EXPECT_EQ(path, "/srv/m\xC3\xBCsic/y.flac");
  // The prefix is tested after decoding, as the library writer may escape it.
  ASSERT_TRUE(LocationToPath("file%3A%2F%2F%2Fsrv/z.mp3", &path));
  EXPECT_EQ(path, "/srv/z.mp3");
  // A library written on Windows names a path that does not exist here; it
  // still converts and is then skipped because the file is missing.
  ASSERT_TRUE(LocationToPath("file://localhost/C:/Music/a.mp3", &path));
  EXPECT_EQ(path, "/C:/Music/a.mp3");

  path = "unchanged";
  EXPECT_FALSE(LocationToPath("http://example.com/a.mp3", &path));
  EXPECT_FALSE(LocationToPath("file://server/share/a.mp3", &path));
  EXPECT_FALSE(LocationToPath("file://localhost", &path));
  EXPECT_FALSE(LocationToPath("/plain/path.mp3", &path));
  EXPECT_FALSE(LocationToPath("file:///music/a%00.mp3", &path));
  EXPECT_FALSE(LocationToPath("file:///music/../etc/a.mp3", &path));
  EXPECT_FALSE(LocationToPath("file:///music/%2E%2E/etc/a.mp3", &path));
  EXPECT_FALSE(LocationToPath("file:///music/./a.mp3", &path));
  EXPECT_FALSE(LocationToPath("file:///" + std::string(kMaxLocationBytes, 'a'), &path));
  EXPECT_EQ(path, "unchanged");
  // Dots inside names are fine.
  ASSERT_TRUE(LocationToPath("file:///music/..a/b..mp3", &path));
  EXPECT_EQ(path, "/music/..a/b..mp3");
}

class ItunesDateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_tz_ = tz ? tz : "";
    had_tz_ = tz != nullptr;
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", saved_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  void SetZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

  std::string saved_tz_;
  bool had_tz_ = false;
};

TEST_F(ItunesDateTest, FieldsAreTakenAsLocalCalendarTime) {
  SetZone("UTC0");
  std::int64_t t = 0;
  ASSERT_TRUE(ParseItunesDate("2009-03-04T05:06:07Z", &t));
  EXPECT_EQ(t, 1236143167);
  // In a zone two hours east the same fields are two hours earlier in true
  // seconds: the record's times feed the library's fields to mktime.
  SetZone("EET-2");
  ASSERT_TRUE(ParseItunesDate("2009-03-04T05:06:07Z", &t));
  EXPECT_EQ(t, 1236143167 - 7200);
  std::tm tm{};
  const std::time_t back = static_cast<std::time_t>(t);
  localtime_r(&back, &tm);
  EXPECT_EQ(tm.tm_hour, 5);
  EXPECT_EQ(tm.tm_mday, 4);
}

TEST_F(ItunesDateTest, WrongFormatsAreRefused) {
  SetZone("UTC0");
  std::int64_t t = 77;
  EXPECT_FALSE(ParseItunesDate("2009-03-04", &t));
  EXPECT_FALSE(ParseItunesDate("", &t));
  EXPECT_FALSE(ParseItunesDate("2009-3-4T5:6:7Z", &t));
  EXPECT_FALSE(ParseItunesDate("20x9-03-04T05:06:07Z", &t));
  EXPECT_FALSE(ParseItunesDate("2009-13-04T05:06:07Z", &t));
  EXPECT_FALSE(ParseItunesDate("2009-00-04T05:06:07Z", &t));
  EXPECT_FALSE(ParseItunesDate("2009-03-32T05:06:07Z", &t));
  EXPECT_FALSE(ParseItunesDate("2009-03-04T24:06:07Z", &t));
  EXPECT_FALSE(ParseItunesDate("-009-03-04T05:06:07Z", &t));
  EXPECT_EQ(t, 77);
  // Only the positions count: other separators and a missing Z still read.
  ASSERT_TRUE(ParseItunesDate("2009/03/04 05.06.07", &t));
  EXPECT_EQ(t, 1236143167);
}

}  // namespace
