// PlayedWide and HistoryWide against the development server, with real
// records in a real database: the request, and each answer's effect on the
// stored record.
#include <gtest/gtest.h>

#include "db/kiv_db.h"
#include "server/kiv_protocol.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

constexpr std::uint64_t kKivId = (std::uint64_t{1} << 32) + 77;  // low 32 bits: 77

class KivPlaysTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    UseAccount();
    ASSERT_TRUE(KivDB::Initialise(clock_));
    db_ = std::make_unique<KivDB>();
    record_ = MakeFreshEntry(1000);
    SetEntryPath(record_, "/music/a.mp3");
    SetEntryText(record_.file_type, "mp3");
    record_.file_size = kDbMinFileSize;
    record_.kiv_id = kKivId;
    record_.flags = DBFLAG_REPORTED | DBFLAG_PLAYED;
    record_.reported = 5000;
    record_.play_count = 5;
    record_.date_added = 1167652800;
    record_.played = 1170000000;
    ASSERT_TRUE(db_->AddEntry(&record_));
  }
  void TearDown() override {
    db_.reset();
    KivDB::Shutdown();
    ServerTest::TearDown();
  }

  void AnswerTrack(const std::string& answer) {
    server_->SetConfig(
        ConfigWith("\"tracks\": {\"" + std::to_string(kKivId) + "\": " + answer + "}"));
  }
  DBEntry Stored() {
    DBEntry entry{};
    EXPECT_TRUE(db_->GetEntry("/music/a.mp3", &entry));
    return entry;
  }

  platform::FakeClock clock_{1700000000};
  std::unique_ptr<KivDB> db_;
  DBEntry record_{};
};

TEST_F(KivPlaysTest, PlaySendsTheWideIdAsDecimalText) {
  AnswerTrack("{\"return_code\": 0}");
  EXPECT_EQ(SendNowPlayingRequest(&record_, db_.get()), 1);
  const DevServer::Call call = server_->LastCall();
  EXPECT_EQ(call.method, "PlayedWide");
  EXPECT_NE(call.flat.find("<string>4294967373</string>"), std::string::npos) << call.body;
  EXPECT_EQ(Stored().kiv_id, kKivId);  // nothing changes
}

TEST_F(KivPlaysTest, NoKivIdSendsNothing) {
  record_.kiv_id = 0;
  EXPECT_EQ(SendNowPlayingRequest(&record_, db_.get()), 0);
  EXPECT_EQ(SendNowPlayingRequest(nullptr), 0);
  EXPECT_EQ(SendHistoryRequest(&record_, db_.get()), 0);
  EXPECT_TRUE(server_->Calls().empty());
  EXPECT_EQ(LogCount("Can't send now playing request - no KIV id"), 2);
}

TEST_F(KivPlaysTest, AliasReplacesTheKivIdAndWinsOverRetryLater) {
  AnswerTrack(
      "{\"return_code\": 13, \"response_message_id\": 2, \"kiv_id\": 5, "
      "\"kiv_id_wide\": \"8589934592\"}");
  EXPECT_EQ(SendNowPlayingRequest(&record_, db_.get()), 1);
  EXPECT_EQ(record_.kiv_id, 8589934592u);
  DBEntry stored = Stored();
  EXPECT_EQ(stored.kiv_id, 8589934592u);
  EXPECT_EQ(stored.flags & DBFLAG_PLAYEDRETRY, 0u);
  EXPECT_EQ(
      LogCount(
          "Send play request returned kiv_id (77) was alias. Setting kiv_id to 5: /music/a.mp3"),
      1);

  // Without kiv_id_wide the 32-bit kiv_id is taken.
  server_->SetConfig(
      ConfigWith("\"tracks\": {\"8589934592\": {\"return_code\": 2, "
                 "\"kiv_id\": 99}}"));
  EXPECT_EQ(SendNowPlayingRequest(&record_, db_.get()), 1);
  EXPECT_EQ(Stored().kiv_id, 99u);
}

TEST_F(KivPlaysTest, AliasWithoutAUsableIdKeepsTheRecord) {
  AnswerTrack("{\"return_code\": 2, \"kiv_id\": 0, \"kiv_id_wide\": \"12abc\"}");
  EXPECT_EQ(SendNowPlayingRequest(&record_, db_.get()), 1);
  AnswerTrack("{\"return_code\": 2, \"kiv_id\": -4}");
  EXPECT_EQ(SendNowPlayingRequest(&record_, db_.get()), 1);
  AnswerTrack("{\"return_code\": 2}");  // no members at all: nothing to do
  EXPECT_EQ(SendNowPlayingRequest(&record_, db_.get()), 1);
  EXPECT_EQ(record_.kiv_id, kKivId);
  EXPECT_EQ(Stored().kiv_id, kKivId);
  EXPECT_EQ(LogCount("Alias answer without a usable kiv id"), 2);
  // An alias member of the wrong type is an error like any other.
  AnswerTrack("{\"return_code\": 2, \"kiv_id_wide\": 5}");
  EXPECT_EQ(SendNowPlayingRequest(&record_, db_.get()), -1);
  EXPECT_EQ(Stored().kiv_id, kKivId);
}

TEST_F(KivPlaysTest, RetryLaterMarksTheRecord) {
  AnswerTrack("{\"return_code\": 13}");
  EXPECT_EQ(SendNowPlayingRequest(&record_, db_.get()), 0);
  DBEntry stored = Stored();
  EXPECT_NE(stored.flags & DBFLAG_PLAYEDRETRY, 0u);
  EXPECT_EQ(stored.kiv_id, kKivId);
  EXPECT_EQ(LogCount("Send playing request returned '13' for kivid '4294967373'"), 1);
}

TEST_F(KivPlaysTest, NotFoundResetsTheKivId) {
  for (int code : {11, 9999}) {
    record_.kiv_id = kKivId;
    record_.flags |= DBFLAG_REPORTED;
    record_.reported = 5000;
    AnswerTrack("{\"return_code\": " + std::to_string(code) + "}");
    EXPECT_EQ(SendNowPlayingRequest(&record_, nullptr), 0);  // a connection of its own
    DBEntry stored = Stored();
    EXPECT_EQ(stored.kiv_id, 0u);
    EXPECT_EQ(stored.reported, 0);
    EXPECT_EQ(stored.flags & DBFLAG_REPORTED, 0u);
  }
  EXPECT_EQ(LogCount("Send play request returned kiv_id (77) not found. Resetting kiv_id for: "
                     "/music/a.mp3"),
            2);
}

TEST_F(KivPlaysTest, AnErrorChangesNothing) {
  server_->Stop();
  EXPECT_EQ(SendNowPlayingRequest(&record_, db_.get()), -1);
  EXPECT_EQ(SendHistoryRequest(&record_, db_.get()), -1);
  DBEntry stored = Stored();
  EXPECT_EQ(stored.kiv_id, kKivId);
  EXPECT_EQ(stored.flags, record_.flags);
}

TEST_F(KivPlaysTest, HistoryLeavesTheUnsentPlayToPlayedWide) {
  AnswerTrack("{\"return_code\": 0}");
  ASSERT_EQ(SendHistoryRequest(&record_, db_.get()), 1);
  DevServer::Call call = server_->LastCall();
  EXPECT_EQ(call.method, "HistoryWide");
  EXPECT_NE(call.flat.find("<name>play_count</name><value><i4>4</i4>"), std::string::npos)
      << call.body;
  EXPECT_NE(call.flat.find("<name>first_played</name><value><string>" +
                           TimeText(record_.date_added) + "</string>"),
            std::string::npos);
  EXPECT_NE(call.flat.find("<name>last_played</name><value><string>" + TimeText(record_.played) +
                           "</string>"),
            std::string::npos);
  EXPECT_LT(call.flat.find("first_played"), call.flat.find("last_played"));

  record_.play_count = 1;
  ASSERT_EQ(SendHistoryRequest(&record_, db_.get()), 1);
  EXPECT_NE(server_->LastCall().flat.find("<name>play_count</name><value><i4>1</i4>"),
            std::string::npos);
  record_.flags &= ~DBFLAG_PLAYED;
  record_.play_count = 5;
  ASSERT_EQ(SendHistoryRequest(&record_, db_.get()), 1);
  EXPECT_NE(server_->LastCall().flat.find("<name>play_count</name><value><i4>5</i4>"),
            std::string::npos);
}

TEST_F(KivPlaysTest, HistoryPreconditionsAndAnswers) {
  record_.play_count = 0;
  EXPECT_EQ(SendHistoryRequest(&record_, db_.get()), 0);
  record_.play_count = 2;
  record_.played = 0;
  EXPECT_EQ(SendHistoryRequest(&record_, db_.get()), 0);
  EXPECT_TRUE(server_->Calls().empty());
  EXPECT_EQ(LogCount("Can't send history request - play count is 0: /music/a.mp3"), 1);
  EXPECT_EQ(LogCount("Can't send history request - play dates are 0: /music/a.mp3"), 1);

  record_.played = 1170000000;
  AnswerTrack("{\"return_code\": 13}");
  EXPECT_EQ(SendHistoryRequest(&record_, db_.get()), 0);
  EXPECT_NE(Stored().flags & DBFLAG_PLAYEDRETRY, 0u);
  EXPECT_EQ(LogCount("Send history request returned '13' for kivid '4294967373'"), 1);
  AnswerTrack("{\"return_code\": 11}");
  EXPECT_EQ(SendHistoryRequest(&record_, db_.get()), 0);
  EXPECT_EQ(Stored().kiv_id, 0u);
  EXPECT_EQ(LogCount("Send history request returned kiv_id (77) not found."), 1);
}

}  // namespace
}  // namespace server_test
