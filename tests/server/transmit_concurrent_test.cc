// Another agent changes a record while the server holds its answer to the
// transmit agent: whatever the answer, that change survives, and the
// answer changes only the fields it concerns.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/server/transmit_fixture.h"

namespace server_test {
namespace {

constexpr std::uint64_t kSentId = 9000000001;
constexpr int kAlias = 2, kNotFound = 11, kRetryLater = 13;
constexpr const char* kAliasWide = "4294967396";

class TransmitConcurrentTest : public TransmitTest {
 protected:
  // Every call of `method` is answered `code` after 600 ms.
  void HoldAnswers(const char* method, int code) {
    std::string track =
        "\"" + std::to_string(kSentId) + "\": {\"return_code\": " + std::to_string(code);
    if (code == kAlias)
      track += ", \"kiv_id\": 5, \"kiv_id_wide\": \"" + std::string(kAliasWide) + "\"";
    server_->SetConfig(ConfigWith("\"tracks\": {" + track + "}}, \"failures\": {\"" + method +
                                  "\": {\"mode\": \"delay\", \"seconds\": 0.6}}"));
  }

  // Runs `step` on a thread of its own and applies `change` to the record
  // of `path` once the server has received the step's `method` call.
  template <typename Step, typename Change>
  void ChangeDuringCall(const char* method, const std::string& path, Step step, Change change) {
    const std::size_t before = CallsOf(method).size();
    bool result = false;
    std::thread agent([&] { result = step(); });
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (CallsOf(method).size() == before && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GT(CallsOf(method).size(), before) << method;
    EXPECT_TRUE(KivDB().ModifyEntry(path, [&](DBEntry& e) {
      change(e);
      return true;
    }));
    agent.join();
    EXPECT_TRUE(result);
  }

  // What the play monitor and the identification agent store meanwhile,
  // and the indexer's mark of a file gone.
  static void OthersWrite(DBEntry& e) {
    ++e.play_count;
    e.played += 60;
    e.flags |= DBFLAG_PLAYED | DBFLAG_IDENTIFIED | DBFLAG_DELETED;
    SetEntryText(e.gn_id, "GN-77");
  }
  static void ExpectOthersKept(const DBEntry& e, std::int32_t plays, std::int64_t played) {
    EXPECT_EQ(e.play_count, plays);
    EXPECT_EQ(e.played, played);
    EXPECT_EQ(e.flags & (DBFLAG_PLAYED | DBFLAG_IDENTIFIED | DBFLAG_DELETED),
              DBFLAG_PLAYED | DBFLAG_IDENTIFIED | DBFLAG_DELETED);
    EXPECT_EQ(EntryText(e.gn_id), "GN-77");
  }
  // The answer's own effect on the kiv id and the flags it owns.
  static void ExpectAnswer(int code, const DBEntry& e) {
    switch (code) {
      case kAlias:
        EXPECT_EQ(std::to_string(e.kiv_id), kAliasWide);
        break;
      case kNotFound:
        EXPECT_EQ(e.kiv_id, 0u);
        EXPECT_FALSE(e.flags & DBFLAG_REPORTED);
        break;
      case kRetryLater:
        EXPECT_EQ(e.kiv_id, kSentId);
        EXPECT_TRUE(e.flags & DBFLAG_PLAYEDRETRY);
        break;
      default:
        EXPECT_EQ(e.kiv_id, kSentId);
        EXPECT_TRUE(e.flags & DBFLAG_REPORTED);
    }
  }
};

TEST_F(TransmitConcurrentTest, APlayCountedDuringPlayedWideSurvivesEveryAnswer) {
  for (int code : {0, kAlias, kNotFound, kRetryLater}) {
    SCOPED_TRACE(code);
    HoldAnswers("PlayedWide", code);
    const std::string path = PutTrack("p" + std::to_string(code) + ".mp3");
    const std::int64_t played = Now() - 30;
    AddRecord(path, [&](DBEntry& e) {
      e.kiv_id = kSentId;
      e.flags |= DBFLAG_PLAYED | DBFLAG_REPORTED;
      e.play_count = 1;
      e.played = played;
    });
    AgentTransmit agent(Context());
    ChangeDuringCall(
        "PlayedWide", path, [&] { return agent.SendPlayCounts(); }, OthersWrite);
    const DBEntry e = Record(path);
    ExpectOthersKept(e, 2, played + 60);
    ExpectAnswer(code, e);
    ASSERT_TRUE(KivDB().DeleteEntry(path));
  }
}

TEST_F(TransmitConcurrentTest, HistoryImportedDuringHistoryWideKeepsItsMarkWhateverTheAnswer) {
  for (int code : {0, kAlias, kNotFound, kRetryLater}) {
    SCOPED_TRACE(code);
    HoldAnswers("HistoryWide", code);
    const std::string path = PutTrack("h" + std::to_string(code) + ".mp3");
    const std::int64_t t = Now() - 10000;
    AddRecord(path, [&](DBEntry& e) {
      e.kiv_id = kSentId;
      e.flags |= DBFLAG_HISTORY | DBFLAG_REPORTED;
      e.play_count = e.play_count_itunes = 5;
      e.date_added = t;
      e.played = e.played_itunes = t + 100;
    });
    AgentTransmit agent(Context());
    ChangeDuringCall(
        "HistoryWide", path, [&] { return agent.SendHistoryCounts(); },
        [&](DBEntry& e) {
          // The import finds two more plays in the library.
          e.play_count += 2;
          e.play_count_itunes = 7;
          e.played = e.played_itunes = t + 5000;
          e.flags |= DBFLAG_HISTORY;
          OthersWrite(e);
        });
    const DBEntry e = Record(path);
    ExpectOthersKept(e, 8, t + 5060);
    EXPECT_EQ(e.play_count_itunes, 7);
    EXPECT_TRUE(e.flags & DBFLAG_HISTORY);
    ExpectAnswer(code, e);
    ASSERT_TRUE(KivDB().DeleteEntry(path));
  }
}

TEST_F(TransmitConcurrentTest, WhatOthersStoreDuringIndexBatchSurvivesTheDescription) {
  server_->SetConfig(
      ConfigWith("\"failures\": {\"IndexBatch\": {\"mode\": \"delay\", \"seconds\": 0.6}}"));
  const std::string path = PutTrack("i.mp3", "From file", "Artist");
  const std::int64_t played = Now() - 30;
  AddRecord(path, [&](DBEntry& e) {
    e.play_count = 1;
    e.played = played;
  });
  AgentTransmit agent(Context());
  ChangeDuringCall(
      "IndexBatch", path, [&] { return agent.SendIndexedEntries(false); },
      [](DBEntry& e) {
        OthersWrite(e);
        SetEntryText(e.title, "Identified");
      });
  const DBEntry e = Record(path);
  ExpectOthersKept(e, 2, played + 60);
  EXPECT_EQ(EntryText(e.title), "Identified");
  EXPECT_EQ(EntryText(e.artist), "Artist");
  EXPECT_NE(e.kiv_id, 0u);
  EXPECT_TRUE(e.flags & DBFLAG_REPORTED);
}

}  // namespace
}  // namespace server_test
