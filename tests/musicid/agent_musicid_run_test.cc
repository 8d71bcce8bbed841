// The MusicID agent's run over a real database: which records it queues,
// which it settles itself, and what it asks of the controller afterwards.
#include <gtest/gtest.h>

#include "app/identification_state.h"
#include "app/messages.h"
#include "musicid/agent_musicid.h"
#include "tests/musicid/musicid_fixture.h"

namespace musicid_test {
namespace {

class AgentMusicIdRunTest : public MusicIdFixture {
 protected:
  void SetUp() override {
    MusicIdFixture::SetUp();
    AppSettings().WriteDword(kSubKeySettings, "UseMusicID", 1);
    ResetIdentificationState();
  }
  void TearDown() override {
    ResetIdentificationState();
    MusicIdFixture::TearDown();
  }
  // A record for a file that is not there (decoding it fails at once).
  std::string AddGhost(const std::string& relative, const char* type = "mp3",
                       const char* genre = "") {
    DBEntry entry = MakeFreshEntry(KivDB::StoredNow());
    const std::string path = music_ + "/" + relative;
    EXPECT_TRUE(SetEntryPath(entry, path));
    SetEntryText(entry.file_type, type);
    SetEntryText(entry.genre, genre);
    entry.file_size = 200000;
    KivDB db;
    EXPECT_TRUE(db.AddEntry(&entry));
    return path;
  }
  MusicIdRunCounts RunAgent() {
    AgentContext context;
    context.kind = AGENT_MUSICID;
    context.main_window = &loop_;
    context.clock = &clock_;
    AgentMusicIDOptions options;
    options.is_online = [] { return true; };
    options.component_folder = env_.Path("modules");
    AgentMusicID agent(context, options);
    EXPECT_EQ(agent.Run(), 1);
    return agent.counts();
  }
  static bool Requested(const std::vector<Message>& posted, WPARAM id) {
    return RequestDelay(posted, id) >= 0;
  }
  // The delay of the last request for `id`; -1 when none was posted.
  static LPARAM RequestDelay(const std::vector<Message>& posted, WPARAM id) {
    LPARAM delay = -1;
    for (const Message& m : posted)
      if (m.id == WM_AGENT_REQUEST && m.wParam == id) delay = m.lParam;
    return delay;
  }
};

TEST_F(AgentMusicIdRunTest, ProtectedFilesAndSpokenWordAreSettledWithoutIdentification) {
  const std::string m4p = AddGhost("a/song.M4P", "M4P");
  const std::string book = AddGhost("a/book.mp3", "mp3", "Audio Book");
  const std::string talk = AddGhost("a/talk.mp3", "mp3", "Spoken Word");
  const std::string cast = AddGhost("a/cast.mp3", "mp3", "PODCASTS");
  Answers(R"("default":{"results":[]})");
  const MusicIdRunCounts counts = RunAgent();
  EXPECT_EQ(counts.updated, 4);
  EXPECT_EQ(counts.queued, 0);
  EXPECT_NE(Record(m4p).identified, 0);
  for (const std::string& path : {book, talk, cast}) {
    EXPECT_TRUE(Record(path).flags & DBFLAG_DONTREPORT) << path;
    EXPECT_EQ(Record(path).identified, 0) << path;
  }
  EXPECT_TRUE(Requested(Posted(), ID_AGENT_SERVER));
  EXPECT_TRUE(service_->Calls().empty());
  // The protected file is not looked at again; the spoken-word records,
  // never attempted, are marked again.
  EXPECT_EQ(RunAgent().updated, 3);
}

TEST_F(AgentMusicIdRunTest, IdentifiesQueuedFilesAndSkipsThemAfterwards) {
  const std::string path = PutTrack("a/one.mp3", 10);
  Answers(R"("default":{"results":)" +
          Results(0.95, {{"rec-1", "One", "Band", "rg", "Al", "Band"}}) + "}");
  MusicIdRunCounts counts = RunAgent();
  EXPECT_EQ(counts.queued, 1);
  EXPECT_TRUE(Record(path).flags & DBFLAG_IDENTIFIED);
  const std::vector<std::string> progress = PostedTexts(WM_STATUS_PROGRESS_TEXT);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front(), "1 to identify");
  // Already identified: its tags are not even re-read.
  counts = RunAgent();
  EXPECT_EQ(counts.queued, 0);
  EXPECT_EQ(counts.candidates, 0);
}

TEST_F(AgentMusicIdRunTest, ARunQueuesAThousandFilesAndAsksForTheNextRun) {
  for (int i = 0; i < 1500; ++i) AddGhost("many/" + std::to_string(i) + ".mp3");
  Answers(R"("default":{"results":[]})");
  const MusicIdRunCounts counts = RunAgent();
  EXPECT_EQ(counts.queued, 1000);
  EXPECT_TRUE(Requested(Posted(), ID_AGENT_MUSICID));
  int attempted = 0;
  KivDB db;
  DBEntry entry;
  for (std::uint32_t pos = db.GetFirstEntry(&entry, FALSE); pos;
       pos = db.GetNextEntry(&entry, FALSE))
    attempted += entry.identified != 0;
  EXPECT_EQ(attempted, 1000);
}

TEST_F(AgentMusicIdRunTest, InterruptedFilesAreLeftForLaterOneTimeInFour) {
  constexpr int kFiles = 400;
  for (int i = 0; i < kFiles; ++i) {
    const std::string path = AddGhost("busy/" + std::to_string(i) + ".mp3");
    KivDB().ModifyEntry(path, [](DBEntry& e) {
      e.flags |= DBFLAG_MUSICID_INUSE;
      return true;
    });
  }
  Answers(R"("default":{"results":[]})");
  const MusicIdRunCounts counts = RunAgent();
  EXPECT_EQ(counts.candidates, kFiles);
  EXPECT_GT(counts.deferred, kFiles / 8);
  EXPECT_LT(counts.deferred, kFiles * 3 / 8);
  EXPECT_EQ(counts.queued + counts.deferred, kFiles);
  // Some were left for later: the agent asks to run again.
  EXPECT_TRUE(Requested(Posted(), ID_AGENT_MUSICID));
}

TEST_F(AgentMusicIdRunTest, WithoutAClientKeyTheTracksGoUnidentifiedAndTheRunSaysWhy) {
  const std::string path = PutTrack("a/one.mp3", 10);
  AppSettings().WriteString(kSubKeySettings, kIdentifyClientKeyValue, "");
  RunAgent();
  const std::vector<Message> posted = Posted();
  EXPECT_TRUE(Requested(posted, ID_AGENT_SERVER));
  EXPECT_FALSE(Requested(posted, ID_AGENT_MUSICID));
  bool said = false;
  for (const Message& m : posted)
    said |= m.id == WM_STATUS_EVENT &&
            m.payload.find("Cannot perform music identification. No client key") == 0;
  EXPECT_TRUE(said);
  EXPECT_TRUE(IdentificationReleasesTracks());
  EXPECT_NE(LogText().find("AgentMusicID: identification cannot run"), std::string::npos);
  EXPECT_EQ(Record(path).identified, 0);
}

TEST_F(AgentMusicIdRunTest, PassingFailuresHoldTheTracksAndAreRetriedLaterAndLater) {
  const std::string path = PutTrack("a/one.mp3", 10);
  Answers(R"("first":[{"http_status":503},{"body":"<html>hotspot</html>"},
                      {"http_status":429,"retry_after":900}],
             "default":{"results":)" +
          Results(0.95, {{"rec-1", "One", "Band", "rg", "Al", "Band"}}) + "}");
  const std::vector<LPARAM> expected = {60000, 120000, 900000};
  for (LPARAM delay : expected) {
    RunAgent();
    EXPECT_EQ(RequestDelay(Posted(), ID_AGENT_MUSICID), delay);
    EXPECT_FALSE(IdentificationReleasesTracks());
    EXPECT_EQ(GetIdentificationStatus().state, IdentificationState::kRetrying);
    EXPECT_EQ(Record(path).identified, 0);
    clock_.Advance(static_cast<std::uint64_t>(delay));
  }
  EXPECT_NE(IdentificationStatusText(true, clock_.WallTime()).find("holding new tracks back"),
            std::string::npos);
  // The fourth attempt gets its answer: the failures are forgotten.
  RunAgent();
  EXPECT_TRUE(Record(path).flags & DBFLAG_IDENTIFIED);
  EXPECT_EQ(GetIdentificationStatus().state, IdentificationState::kRuns);
  DWORD since = 0;
  EXPECT_FALSE(AppSettings().ReadDword(kSubKeySettings, "IdentifyFailingSince", since));
}

TEST_F(AgentMusicIdRunTest, FailuresLastingADayLetTheTracksGoEvenAcrossARestart) {
  PutTrack("a/one.mp3", 10);
  service_->Stop();
  RunAgent();
  DWORD since = 0;
  ASSERT_TRUE(AppSettings().ReadDword(kSubKeySettings, "IdentifyFailingSince", since));
  EXPECT_EQ(static_cast<std::time_t>(since), clock_.WallTime());
  // A restart forgets the state but not when the failures began.
  ResetIdentificationState();
  clock_.Advance(kIdentifyGiveUpSeconds * 1000);
  RunAgent();
  EXPECT_EQ(GetIdentificationStatus().state, IdentificationState::kGivenUp);
  EXPECT_TRUE(IdentificationReleasesTracks());
  const std::vector<Message> posted = Posted();
  EXPECT_TRUE(Requested(posted, ID_AGENT_SERVER));
  // The attempts go on.
  EXPECT_EQ(RequestDelay(posted, ID_AGENT_MUSICID), 60000);
  EXPECT_NE(LogText().find("tracks are sent unidentified"), std::string::npos);
}

}  // namespace
}  // namespace musicid_test
