// The transmit agent's description step against the development server:
// batches of the server's size between one IndexStart and one IndexStop,
// the rate limit as the server's clock sees it, the candidate rules and
// what is stored for each accepted track.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/string_table.h"
#include "tests/server/transmit_fixture.h"

namespace server_test {
namespace {

constexpr std::uint64_t kFirstServerId = (1ULL << 32) + 1000;

class AgentTransmitTest : public TransmitTest {
 protected:
  // `count` tracks named NN.mp3, each with a title of its own.
  std::vector<std::string> AddTracks(int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "%02d.mp3", i);
      const std::string path = PutTrack(name);
      AddRecord(path, [i](DBEntry& e) { SetEntryText(e.title, "Song " + std::to_string(i)); });
      paths.push_back(path);
    }
    return paths;
  }
};

TEST_F(AgentTransmitTest, BatchesOfTheServersSizeBetweenOneStartAndOneStop) {
  server_->SetConfig(ConfigWith("\"batch_size\": 10"));
  const std::vector<std::string> paths = AddTracks(25);
  AgentTransmit agent(Context());

  EXPECT_EQ(agent.Run(), 1);

  EXPECT_EQ(BatchSizes(), (std::vector<int>{10, 10, 5}));
  std::vector<std::string> methods;
  for (const DevServer::Call& call : server_->Calls())
    if (call.method.rfind("Index", 0) == 0) methods.push_back(call.method);
  ASSERT_EQ(methods.size(), 5u);
  EXPECT_EQ(methods.front(), "IndexStart");
  EXPECT_EQ(methods.back(), "IndexStop");
  EXPECT_NE(CallsOf("IndexStart")[0].flat.find("<i4>25</i4>"), std::string::npos);
  EXPECT_FALSE(AgentTransmit::IndexSessionOpen());

  // Every record has its own 64-bit id, the reported mark and time, and the
  // tags read from its file.
  std::vector<std::uint64_t> ids;
  for (const std::string& path : paths) {
    const DBEntry e = Record(path);
    EXPECT_GE(e.kiv_id, kFirstServerId) << path;
    EXPECT_TRUE(e.flags & DBFLAG_REPORTED);
    EXPECT_EQ(e.reported, Now());
    EXPECT_EQ(EntryText(e.artist), "Artist");
    ids.push_back(e.kiv_id);
  }
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());

  const std::vector<std::string> events = window_.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "Sent: 00.mp3"), 1);
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& e) { return e.rfind("Sent: ", 0) == 0; }),
            25);
  EXPECT_EQ(LogCount("Sending new file to server successful."), 25);
  EXPECT_EQ(LogCount("Prepared to send index start request for 25 entries"), 1);
  bool done = false;
  for (const Message& m : window_.Take())
    if (m.id == WM_STATUS_DONE && m.wParam == kJobTransmit) done = true;
  EXPECT_TRUE(done);

  // A second job finds nothing to send and opens no index session.
  const std::size_t calls = server_->Calls().size();
  AgentTransmit again(Context());
  EXPECT_EQ(again.Run(), 1);
  for (std::size_t i = calls; i < server_->Calls().size(); ++i)
    EXPECT_EQ(server_->Calls()[i].method.rfind("Index", 0), std::string::npos);
}

TEST_F(AgentTransmitTest, RateLimitSpacesEveryIndexBatchOnTheServersClock) {
  server_->SetConfig(ConfigWith("\"batch_size\": 1, \"rate_limit\": 0.25"));
  AddTracks(6);
  AgentTransmit agent(Context(&platform::SystemClock()));
  EXPECT_EQ(agent.Run(), 1);
  EXPECT_EQ(agent.rate_limit_ms(), 250u);

  const std::vector<DevServer::Call> batches = CallsOf("IndexBatch");
  ASSERT_EQ(batches.size(), 6u);
  // Measured where it matters, at the server. A client that took the
  // last-call time before its wait would make every second gap about as
  // short as one round trip. Arrival times also carry the jitter of each
  // call's own latency (tens of milliseconds on a loaded machine), so each
  // gap gets that much slack and the whole span almost none.
  for (std::size_t i = 1; i < batches.size(); ++i) {
    const double gap = batches[i].arrived - batches[i - 1].arrived;
    EXPECT_GE(gap, 0.2) << "gap " << i;
  }
  EXPECT_GE(batches.back().arrived - batches.front().arrived, 5 * 0.25 - 0.03);
}

TEST_F(AgentTransmitTest, RateLimitWaitIsMeasuredFromTheCallAfterTheWait) {
  server_->SetConfig(ConfigWith("\"rate_limit\": 0.25"));
  AgentTransmit agent(Context());
  agent.GetRateLimitStep();
  ASSERT_EQ(agent.rate_limit_ms(), 250u);
  // Call times on the fake clock, with 10 ms of work after each call.
  std::vector<std::uint64_t> calls;
  for (int i = 0; i < 5; ++i) {
    agent.WaitRateLimit();
    calls.push_back(clock_.TickMs());
    clock_.Advance(10);
  }
  for (std::size_t i = 1; i < calls.size(); ++i) EXPECT_EQ(calls[i] - calls[i - 1], 250u);
  // Long waits are cut into steps, each followed by a look for a stop.
  server_->SetConfig(ConfigWith("\"rate_limit\": 1.2"));
  agent.GetRateLimitStep();
  const std::uint64_t before = clock_.TickMs();
  agent.WaitRateLimit();
  EXPECT_EQ(clock_.TickMs() - before, 1200u - 10u);
}

TEST_F(AgentTransmitTest, NoRateLimitWhenTheServerSaysZeroOrFails) {
  AgentTransmit agent(Context());
  server_->SetConfig(ConfigWith("\"rate_limit\": 0"));
  agent.GetRateLimitStep();
  EXPECT_EQ(agent.rate_limit_ms(), 0u);
  server_->SetConfig(ConfigWith("\"failures\": {\"RateLimit\": {\"mode\": \"http500\"}}"));
  agent.GetRateLimitStep();
  EXPECT_EQ(agent.rate_limit_ms(), 0u);
  const std::uint64_t before = clock_.TickMs();
  agent.WaitRateLimit();
  agent.WaitRateLimit();
  EXPECT_EQ(clock_.TickMs(), before);
  // Absurd answers stay in range.
  server_->SetConfig(ConfigWith("\"rate_limit\": 1e12"));
  agent.GetRateLimitStep();
  EXPECT_EQ(agent.rate_limit_ms(), 0xFFFFFFFFu);
}

TEST_F(AgentTransmitTest, BatchSizeZeroOrNegativeSendsOneTrackPerCall) {
  AddTracks(3);
  for (const char* size : {"0", "-3"}) {
    server_->SetConfig(ConfigWith(std::string("\"batch_size\": ") + size));
    AgentTransmit agent(Context());
    agent.GetBatchSizeStep();
    EXPECT_EQ(agent.batch_size(), 1) << size;
  }
  AgentTransmit agent(Context());
  EXPECT_EQ(agent.Run(), 1);
  EXPECT_EQ(BatchSizes(), (std::vector<int>{1, 1, 1}));
}

TEST_F(AgentTransmitTest, WithMusicIdOnlyTracksIdentifiedSinceTheirReportAreSent) {
  AppSettings().WriteDword(kSubKeySettings, kUseMusicIdValue, 1);
  const std::int64_t t = Now() - 1000;
  const std::string same = PutTrack("same.mp3", "Same", "A");
  const std::string later = PutTrack("later.mp3", "Later", "B");
  const std::string never = PutTrack("never.mp3", "Never", "C");
  AddRecord(same, [t](DBEntry& e) {
    e.flags |= DBFLAG_IDENTIFIED;
    e.identified = e.reported = t;
  });
  AddRecord(later, [t](DBEntry& e) {
    e.flags |= DBFLAG_IDENTIFIED;
    e.identified = t + 1;
    e.reported = t;
    e.match_quality = 1;
    SetEntryText(e.gn_id, "GN-77");
    SetEntryText(e.title, "Identified Title");
  });
  AddRecord(never);

  AgentTransmit agent(Context());
  EXPECT_EQ(agent.Run(), 1);

  EXPECT_EQ(BatchSizes(), std::vector<int>{1});
  const std::string body = CallsOf("IndexBatch")[0].flat;
  // The identified record describes the track, the file's tags go beside.
  EXPECT_NE(body.find("GN-77"), std::string::npos);
  EXPECT_NE(body.find("Identified Title"), std::string::npos);
  EXPECT_NE(body.find("<string>Later</string>"), std::string::npos);
  EXPECT_NE(body.find("<name>is_authoritative</name><value><boolean>1</boolean>"),
            std::string::npos);
  EXPECT_NE(Record(later).kiv_id, 0u);
  EXPECT_EQ(Record(same).kiv_id, 0u);
  EXPECT_EQ(Record(never).kiv_id, 0u);
}

TEST_F(AgentTransmitTest, UntitledTracksAreSkippedAndTheBatchStillCloses) {
  server_->SetConfig(ConfigWith("\"batch_size\": 10"));
  // In database order: a track, one without a title, a track, and last one
  // without an artist, which the gathered batch must not wait for.
  const std::string a = PutTrack("a.mp3", "A", "X");
  const std::string untitled = PutTrack("untitled.mp3", "", "X");
  const std::string b = PutTrack("b.mp3", "B", "X");
  const std::string no_artist = PutTrack("no_artist.mp3", "C", "");
  for (const std::string& path : {a, untitled, b, no_artist}) AddRecord(path);

  AgentTransmit agent(Context());
  EXPECT_EQ(agent.Run(), 1);

  EXPECT_EQ(BatchSizes(), std::vector<int>{2});
  EXPECT_EQ(LogCount("SendIndexedEntries: entry has no artist/title to send"), 2);
  EXPECT_NE(Record(a).kiv_id, 0u);
  EXPECT_NE(Record(b).kiv_id, 0u);
  EXPECT_EQ(Record(untitled).kiv_id, 0u);
  // The skipped tracks count as done for this session: it is closed.
  EXPECT_EQ(CallsOf("IndexStop").size(), 1u);
  EXPECT_FALSE(AgentTransmit::IndexSessionOpen());
}

TEST_F(AgentTransmitTest, UnsendableTracksAreReadAgainOnlyOnceTheirFileChanged) {
  server_->SetConfig(ConfigWith("\"batch_size\": 10"));
  const std::string untitled = PutTrack("untitled.mp3", "", "X");
  const std::string no_artist = PutTrack("no_artist.mp3", "C", "");
  AddRecord(untitled);
  AddRecord(no_artist);
  const std::string skip_line = "SendIndexedEntries: entry has no artist/title to send";
  EXPECT_EQ(AgentTransmit(Context()).Run(), 1);
  EXPECT_EQ(LogCount(skip_line), 2);

  // Nothing changed: no tags are read, no index session is opened.
  const std::size_t starts = CallsOf("IndexStart").size();
  EXPECT_EQ(AgentTransmit(Context()).Run(), 1);
  EXPECT_EQ(LogCount(skip_line), 2);
  EXPECT_EQ(CallsOf("IndexStart").size(), starts);

  // The user tags one of them: it is read and sent on the next run.
  const std::string tagged = PutTrack("tagged.mp3", "Now Titled", "X");
  std::filesystem::copy_file(tagged, untitled, std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(AgentTransmit(Context()).Run(), 1);
  EXPECT_EQ(LogCount(skip_line), 2);
  EXPECT_NE(Record(untitled).kiv_id, 0u);
  EXPECT_EQ(Record(no_artist).kiv_id, 0u);
  EXPECT_FALSE(AgentTransmit::IndexSessionOpen());
}

TEST_F(AgentTransmitTest, PlayedTracksGoFirstAndOnlyChosenEnabledFoldersCount) {
  server_->SetConfig(ConfigWith("\"batch_size\": 10"));
  const std::string played = PutTrack("played.mp3", "Played", "X");
  const std::string quiet = PutTrack("quiet.mp3", "Quiet", "X");
  const std::string off = PutTrack("off/off.mp3", "Off", "X");
  const std::string gone = PutTrack("gone.mp3", "Gone", "X");
  ASSERT_TRUE(SaveSearchPaths({{music_, 1}, {music_ + "/off", 0}}));
  AddRecord(played, [](DBEntry& e) { e.play_count = 2; });
  AddRecord(quiet);
  AddRecord(off);
  AddRecord(gone, [](DBEntry& e) { e.flags |= DBFLAG_DELETED; });

  AgentTransmit agent(Context());
  EXPECT_TRUE(agent.SendIndexedEntries(true));
  EXPECT_EQ(TimesDescribed("<string>Played</string>"), 1);
  EXPECT_EQ(TimesDescribed("<string>Quiet</string>"), 0);
  // Quiet is still unsent: the session stays open for the next step.
  EXPECT_TRUE(AgentTransmit::IndexSessionOpen());
  EXPECT_TRUE(agent.SendIndexedEntries(false));
  EXPECT_EQ(TimesDescribed("<string>Quiet</string>"), 1);
  EXPECT_EQ(TimesDescribed("<string>Off</string>"), 0);
  EXPECT_EQ(TimesDescribed("<string>Gone</string>"), 0);
  EXPECT_EQ(CallsOf("IndexStart").size(), 1u);
  // Off (disabled folder) still counts as unsent, so the session stays
  // open across jobs until it is sent.
  EXPECT_TRUE(AgentTransmit::IndexSessionOpen());
  EXPECT_EQ(CallsOf("IndexStop").size(), 0u);
}

TEST_F(AgentTransmitTest, WithoutLoginNothingIsSentAndTheUserIsTold) {
  AddTracks(1);
  AuthState = -4;
  AgentTransmit agent(Context());
  EXPECT_EQ(agent.Run(), 1);
  EXPECT_EQ(CallsOf("IndexBatch").size(), 0u);
  EXPECT_EQ(LogCount("SendIndexedEntries: PreparedToSend failed. Cancelling transmit."), 1);
  EXPECT_EQ(window_.Events(),
            std::vector<std::string>{LoadStringResource(IDS_TRANSMIT_UNAVAILABLE)});
}

TEST_F(AgentTransmitTest, WithoutChosenFoldersEveryStepEndsQuietly) {
  AddTracks(1);
  ASSERT_TRUE(SaveSearchPaths({}));
  AgentTransmit agent(Context());
  EXPECT_EQ(agent.Run(), 1);
  EXPECT_EQ(CallsOf("IndexBatch").size(), 0u);
  EXPECT_EQ(LogCount("PathList is empty so no files will be sent"), 2);
  EXPECT_EQ(LogCount("PathList is empty so no history will be sent"), 1);
  EXPECT_EQ(LogCount("PathList is empty so no plays will be sent"), 2);
  EXPECT_EQ(LogCount("AgentTransmit: Sending deleted tracks"), 1);
}

}  // namespace
}  // namespace server_test
