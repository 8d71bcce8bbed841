// The road when things go wrong, with the real program and the development
// server: the server down at the start, going down in the middle of a
// batch, answering HTTP 500, answering slowly, dropping the connection, and
// the program killed in the middle of a run. Afterwards every track reaches
// the server, no track the program had stored as accepted is sent again,
// and the database is whole. Hostile answers are refused, and a server
// call in progress never holds up a stop.
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "tests/e2e/road_fixture.h"

namespace road_test {
namespace {

constexpr int kTracks = 6;

class RoadFaultsTest : public RoadTest {
 protected:
  // Every track has its kiv id in a database that loads whole.
  void ExpectAllStored() {
    const std::map<std::string, DBEntry> records = Records();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kTracks));
    for (const auto& [path, e] : records) {
      EXPECT_GE(e.kiv_id, kFirstServerId) << path;
      EXPECT_TRUE(e.flags & DBFLAG_REPORTED) << path;
    }
  }
  // The tracks the database holds as accepted.
  std::set<int> Accepted() {
    std::set<int> accepted;
    const std::map<std::string, DBEntry> records = Records();
    for (int i = 0; i < kTracks; ++i) {
      auto it = records.find(TrackPath(i));
      if (it != records.end() && it->second.kiv_id != 0) accepted.insert(i);
    }
    return accepted;
  }
  // Runs vornic until every track reached the server.
  void RunToTheEnd() {
    StartVornic();
    ASSERT_TRUE(WaitFor([&] { return AllReached(kTracks); })) << RunLog();
    StopVornic();
  }
};

TEST_F(RoadFaultsTest, ServerDownAtTheStartThenTheNextRunSendsEverything) {
  PutTracks(kTracks);
  UseServerPort(kiv_devserver::UnusedPort());
  StartVornic();
  ASSERT_TRUE(WaitFor([&] {
    return RunLog().find("SendIndexedEntries: PreparedToSend failed. Cancelling transmit.") !=
           std::string::npos;
  })) << RunLog();
  StopVornic();
  EXPECT_TRUE(Accepted().empty());

  StartServer("\"batch_size\": 2", port());
  RunToTheEnd();
  for (const auto& [track, times] : TimesDescribed()) EXPECT_EQ(times, 1) << Title(track);
  ExpectAllStored();
}

TEST_F(RoadFaultsTest, ServerGoneInTheMiddleOfABatch) {
  // The first batch is answered; the second is held until the server dies.
  StartServer(
      "\"batch_size\": 2, \"failures\": {\"IndexBatch\": {\"mode\": \"delay\", \"seconds\": 30, "
      "\"skip\": 1}}");
  PutTracks(kTracks);
  StartVornic();
  ASSERT_TRUE(WaitFor([&] { return CallsOf("IndexBatch").size() >= 2; })) << RunLog();
  const int same_port = port();
  StopServer();
  ASSERT_TRUE(WaitFor([&] {
    return RunLog().find("Connection lost. Cancelling transmit.") != std::string::npos;
  })) << RunLog();
  StopVornic();
  const std::set<int> accepted = Accepted();
  EXPECT_EQ(accepted, TracksIn(CallsOf("IndexBatch")[0]));

  const std::size_t from = AllCalls().size();
  StartServer("\"batch_size\": 2", same_port);
  RunToTheEnd();
  const std::map<int, int> later = TimesDescribed(from);
  for (int i = 0; i < kTracks; ++i)
    EXPECT_EQ(later.count(i) ? later.at(i) : 0, accepted.count(i) ? 0 : 1) << Title(i);
  ExpectAllStored();
}

TEST_F(RoadFaultsTest, Http500PausesTwentySecondsAndTheSameRunFinishes) {
  StartServer(
      "\"batch_size\": 2, \"failures\": {\"IndexBatch\": {\"mode\": \"http500\", \"skip\": 1, "
      "\"count\": 1}}");
  PutTracks(kTracks);
  StartVornic();
  ASSERT_TRUE(WaitFor([&] { return AllReached(kTracks); }, 120)) << RunLog();
  StopVornic();

  EXPECT_NE(RunLog().find("Server Busy. Pausing 20 seconds."), std::string::npos);
  const std::vector<DevServer::Call> batches = CallsOf("IndexBatch");
  ASSERT_EQ(batches.size(), 4u);
  EXPECT_GE(batches[2].arrived - batches[1].arrived, 19.5);
  // The index session stayed open for the relaunched job.
  EXPECT_EQ(CallsOf("IndexStart").size(), 1u);
  // Only the tracks of the call that got no answer went twice.
  const std::set<int> failed = TracksIn(batches[1]);
  EXPECT_EQ(failed.size(), 2u);
  EXPECT_EQ(TracksIn(batches[2]), failed);
  for (const auto& [track, times] : TimesDescribed())
    EXPECT_EQ(times, failed.count(track) ? 2 : 1) << Title(track);
  ExpectAllStored();
}

TEST_F(RoadFaultsTest, SlowAnswersAreWaitedFor) {
  StartServer(
      "\"batch_size\": 2, \"failures\": {\"IndexBatch\": {\"mode\": \"delay\", \"seconds\": 1.5}}");
  PutTracks(kTracks);
  RunToTheEnd();
  for (const auto& [track, times] : TimesDescribed()) EXPECT_EQ(times, 1) << Title(track);
  EXPECT_EQ(RunLog().find("Server Busy"), std::string::npos);
  ExpectAllStored();
}

TEST_F(RoadFaultsTest, ADroppedConnectionLeavesTheRestToTheNextRun) {
  StartServer(
      "\"batch_size\": 2, \"failures\": {\"IndexBatch\": {\"mode\": \"drop\", \"skip\": 1, "
      "\"count\": 1}}");
  PutTracks(kTracks);
  StartVornic();
  ASSERT_TRUE(WaitFor([&] {
    return RunLog().find("Server Busy. Pausing 20 seconds.") != std::string::npos;
  })) << RunLog();
  StopVornic();
  const std::set<int> accepted = Accepted();
  EXPECT_EQ(accepted, TracksIn(CallsOf("IndexBatch")[0]));

  const std::size_t from = AllCalls().size();
  RunToTheEnd();
  const std::map<int, int> later = TimesDescribed(from);
  for (int i = 0; i < kTracks; ++i)
    EXPECT_EQ(later.count(i) ? later.at(i) : 0, accepted.count(i) ? 0 : 1) << Title(i);
  ExpectAllStored();
}

TEST_F(RoadFaultsTest, KilledInTheMiddleOfARunLosesNoAcknowledgement) {
  // One track per call, slowly, so the kill lands between calls or inside
  // one.
  StartServer("\"batch_size\": 1, \"rate_limit\": 0.4");
  PutTracks(kTracks);
  StartVornic();
  ASSERT_TRUE(WaitFor([&] { return AnsweredBatches().size() >= 3; })) << RunLog();
  KillVornic();
  const std::set<int> accepted = Accepted();
  const std::size_t from = AllCalls().size();
  // Every answered call but perhaps the last was stored, and the kill came
  // before the end.
  EXPECT_GE(accepted.size(), AnsweredBatches().size() - 1);
  EXPECT_LT(accepted.size(), static_cast<std::size_t>(kTracks));

  RunToTheEnd();
  const std::map<int, int> later = TimesDescribed(from);
  for (int i = 0; i < kTracks; ++i)
    EXPECT_EQ(later.count(i) ? later.at(i) : 0, accepted.count(i) ? 0 : 1) << Title(i);
  // Over both runs, at most the one call in flight was made twice.
  int twice = 0;
  for (const auto& [track, times] : TimesDescribed()) twice += times > 1 ? 1 : 0;
  EXPECT_LE(twice, 1);
  ExpectAllStored();
}

TEST_F(RoadFaultsTest, HostileAnswersAreRefusedAndACallInProgressDoesNotHoldUpAStop) {
  using Clock = std::chrono::steady_clock;
  PutTracks(kTracks);
  for (const char* mode : {"entities", "hang"}) {
    SCOPED_TRACE(mode);
    StartServer(std::string("\"failures\": {\"IndexBatch\": {\"mode\": \"") + mode + "\"}}");
    const std::size_t before = CallsOf("IndexBatch").size();
    StartVornic();
    ASSERT_TRUE(WaitFor([&] { return CallsOf("IndexBatch").size() > before; })) << RunLog();
    if (std::string(mode) == "entities") {
      ASSERT_TRUE(WaitFor([&] {
        return RunLog().find("refused before parsing") != std::string::npos;
      })) << RunLog();
    }
    const auto start = Clock::now();
    StopVornic();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0) << RunLog();
  }
}

}  // namespace
}  // namespace road_test
