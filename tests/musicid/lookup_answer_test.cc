// Reading the lookup service's answers, the JSON reader under it, and the
// pacing of calls.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <vector>

#include "musicid/component/json.h"
#include "musicid/component/lookup.h"
#include "tests/support/temp_env.h"

namespace cddb_component {
namespace {

using Outcome = LookupAnswer::Outcome;

TEST(LookupAnswerTest, ReadsEveryRecordingOnEveryReleaseGroup) {
  const char* body = R"({"status":"ok","results":[{"id":"a1","score":0.93,"recordings":[
    {"id":"rec-1","title":"Song \u00e9","artists":[{"name":"Band","joinphrase":" feat. "},
      {"name":"Guest"}],
     "releasegroups":[{"id":"rg-1","title":"First","type":"Album","artists":[{"name":"Band"}],
                       "secondarytypes":["Compilation","Live"]},
                      {"id":"rg-2","title":"Second","type":"Single"}]},
    {"id":"rec-2","title":"Other"}]}]})";
  LookupAnswer answer = ReadLookupAnswer(200, body);
  ASSERT_EQ(answer.outcome, Outcome::kOk);
  ASSERT_EQ(answer.candidates.size(), 3u);
  const LookupCandidate& c = answer.candidates[0];
  EXPECT_DOUBLE_EQ(c.score, 0.93);
  EXPECT_EQ(c.recording_id, "rec-1");
  EXPECT_EQ(c.title, "Song \xC3\xA9");
  EXPECT_EQ(c.artist, "Band feat. Guest");
  EXPECT_EQ(c.album, "First");
  EXPECT_EQ(c.album_artist, "Band");
  EXPECT_EQ(c.type, "Album");
  EXPECT_EQ(c.secondary, "Compilation, Live");
  EXPECT_EQ(answer.candidates[1].group_id, "rg-2");
  EXPECT_EQ(answer.candidates[2].group_id, "");
  EXPECT_TRUE(ReadLookupAnswer(200, R"({"status":"ok","results":[]})").candidates.empty());
}

TEST(LookupAnswerTest, ErrorsSayWhetherTheFileTheKeyOrTheServiceIsAtFault) {
  auto error = [](int code) {
    return R"({"status":"error","error":{"code":)" + std::to_string(code) + R"(,"message":"m"}})";
  };
  EXPECT_EQ(ReadLookupAnswer(400, error(3)).outcome, Outcome::kFileError);
  EXPECT_EQ(ReadLookupAnswer(400, error(4)).outcome, Outcome::kKeyRefused);
  EXPECT_EQ(ReadLookupAnswer(503, error(13)).outcome, Outcome::kUnavailable);
  EXPECT_EQ(ReadLookupAnswer(500, "<html>down</html>").outcome, Outcome::kUnavailable);
  EXPECT_EQ(ReadLookupAnswer(429, "").outcome, Outcome::kUnavailable);
  EXPECT_EQ(ReadLookupAnswer(0, "").outcome, Outcome::kUnavailable);
  // Only the service's own answer blames the file or the key: a proxy's or
  // a captive portal's page, whatever its status, is a passing trouble.
  EXPECT_EQ(ReadLookupAnswer(403, "<html>sign in to the hotspot</html>").outcome,
            Outcome::kUnavailable);
  EXPECT_EQ(ReadLookupAnswer(400, "").outcome, Outcome::kUnavailable);
  EXPECT_EQ(ReadLookupAnswer(200, "<html></html>").outcome, Outcome::kUnavailable);
  EXPECT_EQ(ReadLookupAnswer(200, R"({"status":"ok","results":[)").outcome, Outcome::kUnavailable);
}

TEST(JsonTest, RefusesDamagedDocumentsWhole) {
  JsonValue v;
  EXPECT_TRUE(ParseJson(R"({"a":[1,-2.5e3,true,null,"x\"\\\/\n"]})", &v));
  EXPECT_DOUBLE_EQ(v["a"].items[1].number, -2500);
  EXPECT_EQ(v["a"].items[4].text, "x\"\\/\n");
  EXPECT_TRUE(ParseJson(R"("\ud83c\udfb5")", &v));
  EXPECT_EQ(v.text, "\xF0\x9F\x8E\xB5");
  for (const char* bad : {"", "{", "[1,]", "{\"a\"}", "01x", "\"\x01\"", "tru", "[1] 2", "\"\\q\"",
                          "{\"a\":1,}", "-"})
    EXPECT_FALSE(ParseJson(bad, &v)) << bad;
  EXPECT_FALSE(ParseJson(std::string(100, '[') + std::string(100, ']'), &v));
}

TEST(LookupAnswerTest, AnAnswerOfThousandsOfGroupsAndOneHugeArtistStaysSmall) {
  // 4,000 release groups under one recording whose artist is 40 KB long:
  // read as it stands, each candidate copied the artist.
  std::string body = R"({"status":"ok","results":[{"score":0.9,"recordings":[{"id":"r",)"
                     R"("title":"t","artists":[{"name":")" +
                     std::string(40000, 'a') + "\u00e9" + R"("}],"releasegroups":[)";
  for (int i = 0; i < 4000; ++i) body += std::string(i ? "," : "") + R"({"id":"g","title":"x"})";
  body += "]}]}]}";
  const LookupAnswer answer = ReadLookupAnswer(200, body);
  ASSERT_EQ(answer.outcome, Outcome::kOk);
  EXPECT_EQ(answer.candidates.size(), kMaxLookupCandidates);
  EXPECT_EQ(answer.candidates[0].artist, std::string(kMaxLookupText, 'a'));
}

TEST(LookupAnswerTest, NumbersOutOfRangeAreClampedAndReadWhateverTheLocale) {
  const LookupAnswer huge = ReadLookupAnswer(
      200, R"({"status":"ok","results":[{"score":1e999,"recordings":[{"id":"r"}]},)"
           R"({"score":-1e999,"recordings":[{"id":"s"}]}]})");
  ASSERT_EQ(huge.candidates.size(), 2u);
  EXPECT_EQ(huge.candidates[0].score, 1.0);
  EXPECT_EQ(huge.candidates[1].score, 0.0);
  EXPECT_EQ(ReadLookupAnswer(200, R"({"status":"error","error":{"code":1e999}})").outcome,
            Outcome::kFileError);
  JsonValue v;
  ASSERT_TRUE(ParseJson("[1e-999, -1e999]", &v));
  EXPECT_EQ(v.items[0].number, 0.0);
  EXPECT_EQ(v.items[1].number, -std::numeric_limits<double>::max());

  // A locale whose decimal point is a comma, built for the test (only its
  // numbers are defined; localedef warns about the rest and writes it).
  testing_support::TempEnv env;
  const std::string dir = env.Path("locales");
  testing_support::WriteFile(env.Path("comma"),
                             "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\nLC_NUMERIC\n"
                             "decimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\n"
                             "grouping 3;3\nEND LC_NUMERIC\n");
  std::filesystem::create_directories(dir);
  const int built = std::system(("localedef -c -i '" + env.Path("comma") + "' -f ANSI_X3.4-1968 '" +
                                 dir + "/comma' >/dev/null 2>&1")
                                    .c_str());
  ::setenv("LOCPATH", dir.c_str(), 1);
  const std::string old = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "comma") == nullptr) {
    ::unsetenv("LOCPATH");
    GTEST_SKIP() << "localedef could not build a locale (status " << built << ")";
  }
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  const bool read = ParseJson("[0.75, 2.5e-1]", &v);
  std::setlocale(LC_NUMERIC, old.c_str());
  ::unsetenv("LOCPATH");
  ASSERT_TRUE(read);
  EXPECT_EQ(v.items[0].number, 0.75);
  EXPECT_EQ(v.items[1].number, 0.25);
}

TEST(RequestPacerTest, KeepsCallsAtLeastTheIntervalApart) {
  std::int64_t now = 1000;
  std::vector<std::int64_t> sleeps;
  RequestPacer pacer(
      kLookupIntervalMs, [&] { return now; },
      [&](std::int64_t ms) {
        sleeps.push_back(ms);
        now += ms;
      });
  pacer.Wait();  // the first call goes at once
  now += 100;
  pacer.Wait();
  now += 1000;
  pacer.Wait();
  EXPECT_EQ(sleeps, std::vector<std::int64_t>{kLookupIntervalMs - 100});
  EXPECT_LE(3 * kLookupIntervalMs, 1002);  // three calls a second at most
}

}  // namespace
}  // namespace cddb_component
