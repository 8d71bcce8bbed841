// The road of a new file, end to end, with the real program and the
// development server: a folder of tagged files is indexed, the tags read,
// the tracks described in batches of the server's size at the server's
// rate, and each record keeps the 64-bit kiv id it was given. A second run
// sends nothing; a file deleted from disk loses its record; a track the
// server no longer knows is described again.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/clock.h"
#include "tests/e2e/road_fixture.h"

namespace road_test {
namespace {

constexpr int kTracks = 10;

// The methods that carry the collection or the plays.
bool IsReport(const std::string& method) {
  return method.rfind("Index", 0) == 0 || method == "PlayedWide" || method == "HistoryWide";
}

TEST_F(RoadTest, ANewFileReachesTheServerAndStaysInStep) {
  StartServer("\"batch_size\": 4, \"rate_limit\": 0.3");
  PutTracks(kTracks);

  // First run: everything goes.
  StartVornic();
  ASSERT_TRUE(WaitFor([&] { return AllReached(kTracks); })) << LogText();
  ASSERT_TRUE(WaitFor([&] { return TransmitJobsCompleted() >= 1; })) << RunLog();
  StopVornic();

  ASSERT_EQ(CallsOf("IndexStart").size(), 1u);
  EXPECT_NE(CallsOf("IndexStart")[0].flat.find("<i4>10</i4>"), std::string::npos);
  EXPECT_EQ(CallsOf("IndexStop").size(), 1u);
  const std::vector<DevServer::Call> batches = CallsOf("IndexBatch");
  std::vector<int> sizes;
  for (const DevServer::Call& call : batches) {
    int n = 0;
    for (std::size_t at = call.flat.find("<name>song_attributes</name>"); at != std::string::npos;
         at = call.flat.find("<name>song_attributes</name>", at + 1))
      ++n;
    sizes.push_back(n);
  }
  EXPECT_EQ(sizes, (std::vector<int>{4, 4, 2}));
  // Spaced by the server's rate limit as its own clock sees them, whatever
  // each request's latency: the limit runs from the end of the call before.
  for (std::size_t i = 1; i < batches.size(); ++i)
    EXPECT_GE(batches[i].arrived - batches[i - 1].arrived, 0.295) << "gap " << i;
  for (const auto& [track, times] : TimesDescribed()) EXPECT_EQ(times, 1) << Title(track);
  EXPECT_EQ(TimesDescribed().size(), static_cast<std::size_t>(kTracks));

  std::map<std::string, DBEntry> records = Records();
  ASSERT_EQ(records.size(), static_cast<std::size_t>(kTracks));
  std::set<std::uint64_t> ids;
  for (int i = 0; i < kTracks; ++i) {
    const DBEntry& e = records[TrackPath(i)];
    EXPECT_GE(e.kiv_id, kFirstServerId) << TrackPath(i);
    EXPECT_TRUE(e.flags & DBFLAG_REPORTED);
    EXPECT_EQ(EntryText(e.title), Title(i));
    EXPECT_FALSE(EntryText(e.artist).empty());
    ids.insert(e.kiv_id);
  }
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(kTracks));
  const std::string first_log = LogText();
  EXPECT_NE(first_log.find("AgentMusicID: Not using MusicID. Cancelling identification."),
            std::string::npos);
  EXPECT_NE(first_log.find("Sending new file to server successful."), std::string::npos);

  // Second run: the server is up to date, nothing is sent.
  const std::size_t calls_before = AllCalls().size();
  StartVornic();
  ASSERT_TRUE(WaitFor([&] { return TransmitJobsCompleted() >= 1; })) << RunLog();
  StopVornic();
  {
    const std::vector<DevServer::Call> calls = AllCalls();
    for (std::size_t i = calls_before; i < calls.size(); ++i)
      EXPECT_FALSE(IsReport(calls[i].method)) << calls[i].method;
  }

  // Third run: a file is gone from disk, a track was played, and the
  // server lost every track (a fresh server on the same address).
  std::filesystem::remove(TrackPath(3));
  const std::int64_t played = platform::NowAsStoredTime(platform::SystemClock().WallTime());
  ChangeRecord(TrackPath(5), [&](DBEntry& e) {
    e.play_count = 1;
    e.played = played;
    e.flags |= DBFLAG_PLAYED;
  });
  const std::uint64_t old_id = records[TrackPath(5)].kiv_id;
  SetSettingDword("IndexComplete", 0);
  const int same_port = port();
  StartServer("\"batch_size\": 4, \"rate_limit\": 0.3", same_port);
  const std::size_t third_from = AllCalls().size();
  StartVornic();
  ASSERT_TRUE(WaitFor([&] {
    const std::string log = RunLog();
    return log.find("Deleted entry for: 03.mp3") != std::string::npos &&
           log.find("Sent Playing: 05.mp3") != std::string::npos;
  })) << RunLog();
  ASSERT_TRUE(WaitFor([&] { return TransmitJobsCompleted() >= 1; })) << RunLog();
  StopVornic();

  records = Records();
  EXPECT_EQ(records.count(TrackPath(3)), 0u);
  EXPECT_EQ(records.size(), static_cast<std::size_t>(kTracks - 1));
  const DBEntry& again = records[TrackPath(5)];
  EXPECT_NE(again.kiv_id, 0u);
  EXPECT_NE(again.kiv_id, old_id);
  EXPECT_EQ(again.flags & (DBFLAG_PLAYED | DBFLAG_REPORTED), DBFLAG_REPORTED);
  // Only the track the server did not know was described again.
  EXPECT_EQ(TimesDescribed(third_from), (std::map<int, int>{{5, 1}}));
  EXPECT_EQ(CallsOf("PlayedWide").size(), 2u);
  EXPECT_NE(RunLog().find("not found. Resetting kiv_id for"), std::string::npos);
}

}  // namespace
}  // namespace road_test
