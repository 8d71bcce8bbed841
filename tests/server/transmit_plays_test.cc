// The transmit agent's history, play and delete steps against the
// development server, and how accepted records are written back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "server/transmit_write_back.h"
#include "tests/server/transmit_fixture.h"

namespace server_test {
namespace {

class TransmitPlaysTest : public TransmitTest {
 protected:
  // A played track the server knows under `kiv_id`, played at `played`.
  std::string AddPlayed(const std::string& name, std::uint64_t kiv_id, std::int64_t played) {
    const std::string path = PutTrack(name);
    AddRecord(path, [&](DBEntry& e) {
      e.kiv_id = kiv_id;
      e.flags |= DBFLAG_PLAYED | DBFLAG_REPORTED;
      e.play_count = 1;
      e.played = played;
      e.reported = played - 100;
    });
    return path;
  }
  // Answers of PlayedWide and HistoryWide by kiv id: "<id>": <return code>.
  void TrackAnswers(const std::vector<std::pair<std::uint64_t, int>>& answers) {
    std::string tracks;
    for (const auto& [id, rc] : answers)
      tracks += (tracks.empty() ? "" : ", ") + std::string("\"") + std::to_string(id) +
                "\": {\"return_code\": " + std::to_string(rc) + "}";
    server_->SetConfig(ConfigWith("\"tracks\": {" + tracks + "}"));
  }
};

constexpr std::uint64_t kA = 9000000001, kB = 9000000002, kC = 9000000003;

TEST_F(TransmitPlaysTest, RetryLaterOnTheFirstOfThreePlaysHoldsBackTheOthers) {
  TrackAnswers({{kA, 13}, {kB, 0}, {kC, 0}});
  const std::int64_t t = Now() - 50;
  // Stored out of play order: plays go by the time they happened.
  const std::string c = AddPlayed("c.mp3", kC, t + 20);
  const std::string a = AddPlayed("a.mp3", kA, t);
  const std::string b = AddPlayed("b.mp3", kB, t + 10);
  AgentTransmit agent(Context());

  EXPECT_TRUE(agent.SendPlayCounts());

  ASSERT_EQ(CallsOf("PlayedWide").size(), 1u);
  EXPECT_NE(CallsOf("PlayedWide")[0].flat.find(std::to_string(kA)), std::string::npos);
  EXPECT_EQ(window_.Events(),
            (std::vector<std::string>{"Send Plays postponed (5 min): a.mp3",
                                      "Plays currently waiting for send:", "b.mp3", "c.mp3"}));
  EXPECT_EQ(window_.Requests(),
            (std::vector<std::pair<WPARAM, LPARAM>>{{ID_AGENT_SERVER, 300000}}));
  const DBEntry held = Record(a);
  EXPECT_EQ(held.flags & (DBFLAG_PLAYED | DBFLAG_PLAYEDRETRY | DBFLAG_REPORTED),
            DBFLAG_PLAYED | DBFLAG_PLAYEDRETRY | DBFLAG_REPORTED);
  EXPECT_EQ(held.reported, Now());
  EXPECT_TRUE(Record(b).flags & DBFLAG_PLAYED);

  // Once the five minutes are over every play goes, in order.
  TrackAnswers({{kA, 0}, {kB, 0}, {kC, 0}});
  clock_.Advance(301 * 1000);
  AgentTransmit later(Context());
  EXPECT_TRUE(later.SendPlayCounts());
  const std::vector<DevServer::Call> plays = CallsOf("PlayedWide");
  ASSERT_EQ(plays.size(), 4u);
  EXPECT_NE(plays[1].flat.find(std::to_string(kA)), std::string::npos);
  EXPECT_NE(plays[3].flat.find(std::to_string(kC)), std::string::npos);
  for (const std::string& path : {a, b, c}) {
    const DBEntry e = Record(path);
    EXPECT_EQ(e.flags & (DBFLAG_PLAYED | DBFLAG_PLAYEDRETRY), 0u) << path;
    EXPECT_EQ(e.reported, Now());
  }
  EXPECT_EQ(LogCount("Sent Playing: b.mp3"), 1);
}

TEST_F(TransmitPlaysTest, APlayWaitingWith120SecondsLeftAsksForARelaunchThen) {
  TrackAnswers({{kA, 0}, {kB, 0}, {kC, 0}});
  const std::int64_t t = Now() - 500;
  const std::string a = AddPlayed("a.mp3", kA, t);
  AddPlayed("b.mp3", kB, t + 1);
  AddPlayed("c.mp3", kC, t + 2);
  ChangeRecord(a, [&](DBEntry& e) {
    e.flags |= DBFLAG_PLAYEDRETRY;
    e.reported = Now() - 180;
  });
  AgentTransmit agent(Context());

  EXPECT_TRUE(agent.SendPlayCounts());

  EXPECT_EQ(CallsOf("PlayedWide").size(), 0u);
  EXPECT_EQ(window_.Requests(),
            (std::vector<std::pair<WPARAM, LPARAM>>{{ID_AGENT_SERVER, 120000}}));
  EXPECT_EQ(window_.Events(),
            (std::vector<std::string>{"Plays currently waiting for send:", "b.mp3", "c.mp3"}));
}

TEST_F(TransmitPlaysTest, APlayOfATrackTheServerDoesNotKnowDescribesItAgain) {
  TrackAnswers({{kA, 11}});
  const std::string a = AddPlayed("a.mp3", kA, Now() - 10);
  AgentTransmit agent(Context());

  EXPECT_EQ(agent.Run(), 1);

  // PlayedWide under the old id, the track described again, and its play
  // sent under the new id.
  std::vector<std::string> methods;
  for (const DevServer::Call& call : server_->Calls())
    if (call.method == "PlayedWide" || call.method == "IndexBatch") methods.push_back(call.method);
  EXPECT_EQ(methods, (std::vector<std::string>{"PlayedWide", "IndexBatch", "PlayedWide"}));
  const DBEntry e = Record(a);
  EXPECT_NE(e.kiv_id, 0u);
  EXPECT_NE(e.kiv_id, kA);
  EXPECT_EQ(e.flags & (DBFLAG_PLAYED | DBFLAG_REPORTED), DBFLAG_REPORTED);
}

TEST_F(TransmitPlaysTest, HistoryGoesInITunesOrderWithoutThePlayStillToCome) {
  TrackAnswers({{kA, 0}, {kB, 13}, {kC, 0}});
  const std::int64_t t = Now() - 10000;
  auto add = [&](const char* name, std::uint64_t id, std::int64_t itunes, DWORD flags) {
    const std::string path = PutTrack(name);
    AddRecord(path, [&](DBEntry& e) {
      e.kiv_id = id;
      e.flags |= DBFLAG_HISTORY | DBFLAG_REPORTED | flags;
      e.play_count = 5;
      e.date_added = t;
      e.played = e.played_itunes = itunes;
      e.reported = Now() - 100;
    });
    return path;
  };
  const std::string a = add("a.mp3", kA, t + 30, DBFLAG_PLAYED);
  const std::string b = add("b.mp3", kB, t + 10, 0);
  // Still inside its retry window: not even collected.
  const std::string c = add("c.mp3", kC, t + 20, DBFLAG_PLAYEDRETRY);
  AgentTransmit agent(Context());

  EXPECT_TRUE(agent.SendHistoryCounts());

  const std::vector<DevServer::Call> calls = CallsOf("HistoryWide");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_NE(calls[0].flat.find(std::to_string(kB)), std::string::npos);
  EXPECT_NE(calls[1].flat.find("<name>play_count</name><value><i4>4</i4>"), std::string::npos);
  EXPECT_EQ(window_.Events(), std::vector<std::string>{"Sent Play History (4) for: a.mp3"});
  EXPECT_EQ(window_.Requests(),
            (std::vector<std::pair<WPARAM, LPARAM>>{{ID_AGENT_SERVER, 300000}}));
  const DBEntry sent = Record(a);
  EXPECT_EQ(sent.flags & (DBFLAG_HISTORY | DBFLAG_PLAYED), DBFLAG_PLAYED);
  EXPECT_EQ(sent.reported, Now());
  const DBEntry held = Record(b);
  EXPECT_EQ(held.flags & (DBFLAG_HISTORY | DBFLAG_PLAYEDRETRY),
            DBFLAG_HISTORY | DBFLAG_PLAYEDRETRY);
  EXPECT_EQ(held.reported, Now());
  EXPECT_TRUE(Record(c).flags & DBFLAG_HISTORY);
}

TEST_F(TransmitPlaysTest, DeletedRecordsGoEvenOutsideTheChosenFolders) {
  const std::string inside = PutTrack("in.mp3");
  std::filesystem::create_directories(env_.Path("elsewhere"));
  const std::string outside = env_.Path("elsewhere/out.mp3");
  const std::string kept = env_.Path("elsewhere/kept.mp3");
  std::filesystem::copy_file(inside, outside);
  std::filesystem::copy_file(inside, kept);
  for (const std::string& path : {inside, outside})
    AddRecord(path, [](DBEntry& e) { e.flags |= DBFLAG_DELETED; });
  AddRecord(kept);
  AgentTransmit agent(Context());

  EXPECT_TRUE(agent.SendDeletes());

  EXPECT_FALSE(HasRecord(inside));
  EXPECT_FALSE(HasRecord(outside));
  EXPECT_TRUE(HasRecord(kept));
  EXPECT_EQ(window_.Events(),
            (std::vector<std::string>{"Deleted entry for: in.mp3", "Deleted entry for: out.mp3"}));
  EXPECT_EQ(LogCount("Deleted entry for: out.mp3"), 1);
  EXPECT_TRUE(server_->Calls().empty() || CallsOf("IndexBatch").empty());
}

TEST(TransmitWriteBackTest, WhatOthersChangedDuringTheCallIsKept) {
  DBEntry before = MakeFreshEntry(100);
  before.flags = DBFLAG_VALID | DBFLAG_PLAYED;
  before.play_count = 1;
  before.played = 500;

  // The play was sent; meanwhile another play was counted.
  DBEntry sent = before;
  sent.flags = (sent.flags & ~DBFLAG_PLAYED) | DBFLAG_REPORTED;
  sent.kiv_id = 77;
  sent.reported = 600;
  DBEntry current = before;
  current.play_count = 2;
  current.played = 590;
  DBEntry merged = MergeSent(current, sent, SentKind::kPlay);
  EXPECT_TRUE(merged.flags & DBFLAG_PLAYED);
  EXPECT_TRUE(merged.flags & DBFLAG_REPORTED);
  EXPECT_EQ(merged.play_count, 2);
  EXPECT_EQ(merged.kiv_id, 77u);
  EXPECT_EQ(merged.reported, 600);
  // Without a new play the flag goes.
  EXPECT_FALSE(MergeSent(before, sent, SentKind::kPlay).flags & DBFLAG_PLAYED);

  // A description was accepted while the indexer marked the file deleted
  // and the identification agent stored a title.
  DBEntry described = before;
  SetEntryText(described.title, "From file");
  SetEntryText(described.artist, "Artist");
  described.flags |= DBFLAG_REPORTED;
  described.kiv_id = 78;
  current = before;
  current.flags |= DBFLAG_DELETED;
  SetEntryText(current.title, "Identified");
  merged = MergeSent(current, described, SentKind::kIndexed);
  EXPECT_EQ(merged.flags & (DBFLAG_DELETED | DBFLAG_REPORTED), DBFLAG_DELETED | DBFLAG_REPORTED);
  EXPECT_EQ(EntryText(merged.title), "Identified");
  EXPECT_EQ(EntryText(merged.artist), "Artist");
  EXPECT_EQ(merged.kiv_id, 78u);

  // History owns its own flag and the retry mark, nothing else.
  DBEntry history = before;
  history.flags = DBFLAG_VALID | DBFLAG_REPORTED;
  merged = MergeSent(current, history, SentKind::kHistory);
  EXPECT_EQ(merged.flags & (DBFLAG_PLAYED | DBFLAG_DELETED | DBFLAG_HISTORY),
            DBFLAG_PLAYED | DBFLAG_DELETED);
}

TEST_F(TransmitPlaysTest, AWriteBackNeverBringsADeletedRecordBack) {
  const std::string path = PutTrack("a.mp3");
  AddRecord(path);
  DBEntry copy = Record(path);
  KivDB db;
  ASSERT_TRUE(db.DeleteEntry(path));
  copy.kiv_id = 5;
  EXPECT_FALSE(WriteBackSent(db, copy, SentKind::kIndexed));
  EXPECT_FALSE(HasRecord(path));
}

}  // namespace
}  // namespace server_test
