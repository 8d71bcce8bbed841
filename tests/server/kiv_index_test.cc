// The indexing and pacing methods against the development server: the
// batch entries on the wire, the kiv_ids answer, absent and ill-typed
// members, and the time text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "server/kiv_protocol.h"
#include "server/server_session.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

class KivIndexTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    UseAccount();
  }

  // `n` zeroed elements with distinct titles.
  static std::vector<BatchIndexData_t> Elements(int n) {
    std::vector<BatchIndexData_t> elements(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      BatchIndexData_t& e = elements[static_cast<std::size_t>(i)];
      std::memset(&e, 0, sizeof e);
      SetEntryText(e.user.file_type, "mp3");
      SetEntryText(e.user.title, "Song " + std::to_string(i));
      SetEntryText(e.gracenote.file_type, "mp3");
    }
    return elements;
  }

  void AnswerIndexBatch(const std::string& kiv_ids) {
    server_->SetConfig(
        ConfigWith("\"results\": {\"IndexBatch\": {\"return_code\": 0, "
                   "\"kiv_ids\": \"" +
                   kiv_ids + "\"}}"));
  }
};

// Sets TZ for the lifetime of the object.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (had_)
      ::setenv("TZ", saved_.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

std::int64_t LocalStoredTime(int year, int month, int day, int hour) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

TEST(TimeTextTest, LocalCalendarFieldsWithALiteralZInEveryZone) {
  for (const char* zone : {"UTC", "America/New_York", "Asia/Kolkata", "Pacific/Chatham"}) {
    ScopedTimeZone tz(zone);
    EXPECT_EQ(TimeText(LocalStoredTime(2007, 1, 1, 12)), "2007-01-01T12:00:00Z") << zone;
  }
  EXPECT_EQ(TimeText(INT64_MAX), "");  // no local calendar time
}

TEST_F(KivIndexTest, IndexStartSendsCountAndTheUtcNowAsTimeText) {
  ScopedTimeZone tz("America/Los_Angeles");
  platform::FakeClock clock(1700000000);  // 2023-11-14 22:13:20 UTC
  EXPECT_EQ(SendIndexStartRequest(25, clock), 1);
  const std::string body = server_->LastCall().body;
  EXPECT_NE(body.find("<i4>25</i4>"), std::string::npos) << body;
  EXPECT_NE(body.find("<string>2023-11-14T22:13:20Z</string>"), std::string::npos) << body;
  EXPECT_EQ(SendIndexStopRequest(), 1);
}

TEST_F(KivIndexTest, RefusalsAndAbsentReturnCodes) {
  SetSetting("Password", "not-it");
  EXPECT_EQ(SendIndexStartRequest(1), 0);
  EXPECT_EQ(SendIndexStopRequest(), 0);
  std::vector<BatchIndexData_t> elements = Elements(1);
  EXPECT_EQ(SendIndexBatchRequest(elements.data(), 1), 0);
  EXPECT_EQ(elements[0].kiv_id, 0);

  // An answer without return_code counts as return code 0.
  server_->SetConfig(
      ConfigWith("\"results\": {\"IndexStart\": {}, \"IndexStop\": {\"status_flag\": 0}, "
                 "\"IndexBatch\": {\"kiv_ids\": \"77\"}}"));
  EXPECT_EQ(SendIndexStartRequest(1), 1);
  EXPECT_EQ(SendIndexStopRequest(), 1);
  EXPECT_EQ(SendIndexBatchRequest(elements.data(), 1), 1);
  EXPECT_EQ(elements[0].kiv_id, 77);
}

TEST_F(KivIndexTest, BatchEntriesCarryQualityFileTypeAndOnlyFilledTags) {
  std::vector<BatchIndexData_t> elements = Elements(2);
  BatchIndexData_t& first = elements[0];
  first.gracenote.match_quality = 1;
  SetEntryText(first.gracenote.gn_id, "GN-1");
  SetEntryText(first.gracenote.title, "Caf\xc3\xa9 & <Bar>");
  first.gracenote.track_number = 3;
  first.user.duration = 215;
  first.user.beats_per_minute = 0;               // a zero number is left out
  SetEntryText(elements[1].user.file_type, "");  // still sent, empty
  ASSERT_EQ(SendIndexBatchRequest(elements.data(), 2), 1);

  const std::string body = server_->LastCall().flat;
  EXPECT_NE(body.find("<name>gracenote_qos</name>"), std::string::npos);
  EXPECT_LT(body.find("<name>album_unsure</name>"), body.find("<name>is_authoritative</name>"));
  EXPECT_NE(body.find("<name>is_authoritative</name><value><boolean>1</boolean>"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find("<name>track_position</name><value><i4>3</i4>"), std::string::npos);
  EXPECT_NE(body.find("<name>duration</name><value><i4>215</i4>"), std::string::npos);
  EXPECT_NE(body.find("Caf\xc3\xa9 &amp; &lt;Bar&gt;"), std::string::npos);
  EXPECT_EQ(body.find("beats_per_minute"), std::string::npos);
  EXPECT_EQ(body.find("<name>label</name>"), std::string::npos);
  EXPECT_NE(body.find("<name>file_type</name><value><string></string>"), std::string::npos);
  // Identifiers above 2^32 arrive whole.
  EXPECT_GT(elements[0].kiv_id, std::int64_t{1} << 32);
  EXPECT_EQ(elements[1].kiv_id, elements[0].kiv_id + 1);
}

TEST_F(KivIndexTest, NoElementsSendsNothing) {
  std::vector<BatchIndexData_t> elements = Elements(1);
  EXPECT_EQ(SendIndexBatchRequest(elements.data(), 0), 0);
  EXPECT_EQ(SendIndexBatchRequest(nullptr, 3), 0);
  EXPECT_EQ(SendIndexBatchRequest(elements.data(), -1), 0);
  EXPECT_TRUE(server_->Calls().empty());
}

TEST_F(KivIndexTest, KivIdsFillTheElementsInOrder) {
  std::vector<BatchIndexData_t> elements = Elements(3);
  AnswerIndexBatch("17,,42");
  ASSERT_EQ(SendIndexBatchRequest(elements.data(), 3), 1);
  EXPECT_EQ(elements[0].kiv_id, 17);
  EXPECT_EQ(elements[1].kiv_id, 42);
  EXPECT_EQ(elements[2].kiv_id, 0);

  elements = Elements(2);
  AnswerIndexBatch(",5, 6 ,7,8");  // more numbers than elements: the rest is ignored
  ASSERT_EQ(SendIndexBatchRequest(elements.data(), 2), 1);
  EXPECT_EQ(elements[0].kiv_id, 5);
  EXPECT_EQ(elements[1].kiv_id, 6);
}

TEST_F(KivIndexTest, KivIdsThatAreNotPositive64BitNumbersAreNotAccepted) {
  std::vector<BatchIndexData_t> elements = Elements(6);
  AnswerIndexBatch("12x,-5,99999999999999999999,0,9223372036854775807,abc");
  ASSERT_EQ(SendIndexBatchRequest(elements.data(), 6), 1);
  EXPECT_EQ(elements[0].kiv_id, 0);
  EXPECT_EQ(elements[1].kiv_id, 0);
  EXPECT_EQ(elements[2].kiv_id, 0);
  EXPECT_EQ(elements[3].kiv_id, 0);
  EXPECT_EQ(elements[4].kiv_id, INT64_MAX);
  EXPECT_EQ(elements[5].kiv_id, 0);
  EXPECT_EQ(LogCount("SendIndexBatchRequest: kiv id"), 5);
}

TEST_F(KivIndexTest, AnswersOfTheWrongShapeAreErrors) {
  std::vector<BatchIndexData_t> elements = Elements(1);
  const char* bad_answers[] = {
      "\"results\": {\"IndexBatch\": \"not a struct\"}",
      "\"results\": {\"IndexBatch\": [1, 2]}",
      "\"results\": {\"IndexBatch\": {\"return_code\": \"0\", \"kiv_ids\": \"5\"}}",
      "\"results\": {\"IndexBatch\": {\"return_code\": 0, \"kiv_ids\": 5}}",
      "\"results\": {\"IndexBatch\": {\"return_code\": 1.0}}",
      "\"failures\": {\"IndexBatch\": {\"mode\": \"fault\", \"code\": 7, \"message\": \"no\"}}",
      "\"failures\": {\"IndexBatch\": {\"mode\": \"raw\", \"body\": \"<?xml version='1.0'?>"
      "<methodResponse><params><param><value><struct><member><name>return_code</name>"
      "<value><i8>0</i8></value></member></struct></value></param></params>"
      "</methodResponse>\"}}",
      "\"failures\": {\"IndexBatch\": {\"mode\": \"raw\", \"body\": \"<methodResponse><params>"
      "\"}}",
      "\"failures\": {\"IndexBatch\": {\"mode\": \"raw\", \"body\": \"\"}}",
  };
  for (const char* bad : bad_answers) {
    server_->SetConfig(ConfigWith(bad));
    EXPECT_EQ(SendIndexBatchRequest(elements.data(), 1), -1) << bad;
    EXPECT_EQ(elements[0].kiv_id, 0) << bad;
  }
  EXPECT_EQ(LogCount("XML-RPC exception in IndexBatch: "), 9);
  EXPECT_EQ(LogCount("XML-RPC exception in IndexBatch: fault 7: no"), 1);
}

TEST_F(KivIndexTest, RateLimitAndBatchSize) {
  server_->SetConfig(ConfigWith("\"rate_limit\": 0.25, \"batch_size\": 7"));
  double seconds = -1;
  int count = -1;
  EXPECT_EQ(GetRateLimit(&seconds), 1);
  EXPECT_DOUBLE_EQ(seconds, 0.25);
  EXPECT_EQ(GetBatchSize(&count), 1);
  EXPECT_EQ(count, 7);
  EXPECT_NE(server_->LastCall().flat.find("<params></params>"), std::string::npos)
      << server_->LastCall().body;

  // Wrong types and errors leave the callers' presets alone.
  server_->SetConfig(ConfigWith("\"results\": {\"RateLimit\": 2, \"BatchSize\": 2.5}"));
  seconds = 9;
  count = 9;
  EXPECT_EQ(GetRateLimit(&seconds), 0);
  EXPECT_EQ(GetBatchSize(&count), 0);
  EXPECT_EQ(seconds, 9);
  EXPECT_EQ(count, 9);
  server_->SetConfig(ConfigWith("\"results\": {\"BatchSize\": -3}"));
  EXPECT_EQ(GetBatchSize(&count), 1);  // the transmit agent decides what -3 means
  EXPECT_EQ(count, -3);
  server_->SetConfig(ConfigWith(
      "\"failures\": {\"RateLimit\": {\"mode\": \"raw\", \"body\": \"<methodResponse><params>"
      "<param><value><double>nan</double></value></param></params></methodResponse>\"}}"));
  EXPECT_EQ(GetRateLimit(&seconds), 0);
  EXPECT_EQ(seconds, 9);
}

}  // namespace
}  // namespace server_test
