#include "playmon/agent_play_monitor.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "db/component_tags.h"
#include "db/kiv_db.h"
#include "platform/clock.h"
#include "tests/playmon/play_fixture.h"

namespace playmon_test {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

class AgentPlayMonitorTest : public PlayFixture {};

TEST_F(AgentPlayMonitorTest, ASteadilyReadFileIsCountedAtTheThirdLookOnceAndEndsWhenClosed) {
  const std::string song = PutSong(music_ + "/a.mp3");
  Choose(music_);
  Index(song);
  AppSettings().WriteDword(kSubKeySettings, "IndexComplete", 1);
  auto monitor = MakeMonitor();
  auto player = StartPlayer("mpv", {"r:" + song});

  Look(*monitor);
  Look(*monitor);
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(Record(song).play_count, 0);

  Look(*monitor);
  std::vector<Message> posted = Posted();
  EXPECT_EQ(Events(posted), Texts{"Now Playing: a.mp3"});
  EXPECT_EQ(Requests(posted, ID_AGENT_SERVER), 1);
  EXPECT_EQ(Requests(posted, ID_AGENT_INDEXER), 0);
  EXPECT_EQ(monitor->now_playing(), Texts{song});
  const DBEntry counted = Record(song);
  EXPECT_EQ(counted.play_count, 1);
  EXPECT_TRUE(counted.flags & DBFLAG_PLAYED);
  const std::int64_t now = platform::NowAsStoredTime(clock_.WallTime());
  EXPECT_EQ(counted.played, now);
  EXPECT_EQ(counted.date_added, now);
  EXPECT_EQ(ReadDword("IndexComplete"), 1u);
  EXPECT_NE(LogText().find("Playcount incremented for: " + song), std::string::npos);

  // However long it plays, once; the player is logged once too, not at
  // every look. Other tests' players (also "mpv") may start meanwhile and
  // be logged beside it, so the count may grow, but by less than a line a
  // look.
  const int found = Occurrences(LogText(), "Found Process: : mpv");
  EXPECT_GE(found, 1);
  for (int i = 0; i < 4; ++i) Look(*monitor);
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(Record(song).play_count, 1);
  EXPECT_LT(Occurrences(LogText(), "Found Process: : mpv"), found + 4);

  player.reset();
  Look(*monitor, 0);
  EXPECT_EQ(Events(Posted()), Texts{"Play Ended: a.mp3"});
  EXPECT_TRUE(monitor->now_playing().empty());
}

TEST_F(AgentPlayMonitorTest, TheNextSongOpenedEarlyNeverTakesOverTheOneThatMoves) {
  // A gapless player opens the next song before the current one ends and
  // reads its first blocks. Here it sorts first, and is held still for
  // longer than a file needs to qualify: the playing file stays the one
  // playing, counted once, and the next song is not counted unheard.
  const std::string playing = PutSong(music_ + "/b playing.mp3");
  const std::string next = PutSong(music_ + "/a next.mp3");
  Choose(music_);
  auto monitor = MakeMonitor();
  auto player = StartPlayer("mpv", {"r:" + playing, "o@200:" + next});
  for (int i = 0; i < 3; ++i) Look(*monitor);
  EXPECT_EQ(Events(Posted()), Texts{"Now Playing: b playing.mp3"});

  ASSERT_TRUE(WaitOpen(player->pid(), next));
  for (int i = 0; i < 6; ++i) Look(*monitor);
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(monitor->now_playing(), Texts{playing});
  EXPECT_EQ(Record(playing).play_count, 1);
  EXPECT_FALSE(HasRecord(next));
}

TEST_F(AgentPlayMonitorTest, FilesOpenForWritingOrOutsideEnabledFoldersNeverCount) {
  const std::string written = PutSong(music_ + "/written.mp3");
  const std::string both = PutSong(music_ + "/both.mp3");
  const std::string disabled = PutSong(env_.Path("off/c.mp3"));
  const std::string unchosen = PutSong(env_.Path("elsewhere/d.mp3"));
  const std::string not_media = music_ + "/notes.txt";
  fs::copy_file(written, not_media);
  // A chosen, enabled folder inside a system tree.
  const std::string system_folder = "/dev/shm/vornic-playmon-" + std::to_string(::getpid());
  const std::string system_song = PutSong(system_folder + "/e.mp3");
  Choose(music_);
  Choose(env_.Path("off"), 0);
  Choose(system_folder);
  auto monitor = MakeMonitor();
  auto player = StartPlayer("mpv", {"w:" + written, "rw:" + both, "r:" + disabled, "r:" + unchosen,
                                    "r:" + not_media, "r:" + system_song});
  for (int i = 0; i < 5; ++i) Look(*monitor);
  player.reset();
  fs::remove_all(system_folder);
  EXPECT_TRUE(Posted().empty());
  EXPECT_TRUE(monitor->now_playing().empty());
  EXPECT_EQ(KivDB::ValidCount(), 0u);
}

TEST_F(AgentPlayMonitorTest, ASongChangeEndsTheOldPlayAndStartsTheNewInOneLook) {
  // The player still holds the old song when it starts reading the new.
  const std::string first = PutSong(music_ + "/first.mp3");
  const std::string second = PutSong(music_ + "/second.mp3");
  Choose(music_);
  auto monitor = MakeMonitor();
  auto player = StartPlayer("mpv", {"r:" + first, "r@300:" + second});
  for (int i = 0; i < 3; ++i) Look(*monitor);
  EXPECT_EQ(Events(Posted()), Texts{"Now Playing: first.mp3"});

  ASSERT_TRUE(WaitOpen(player->pid(), second));
  Texts events;
  for (int i = 0; i < 6 && events.empty(); ++i) {
    Look(*monitor);
    events = Events(Posted());
  }
  EXPECT_EQ(events, (Texts{"Play Ended: first.mp3", "Now Playing: second.mp3"}));
  EXPECT_EQ(Record(first).play_count, 1);
  EXPECT_EQ(Record(second).play_count, 1);
}

TEST_F(AgentPlayMonitorTest, ITunesStartingAndQuittingIsReportedOnceEach) {
  Choose(music_);
  auto monitor = MakeMonitor();
  auto notices = [&] {
    std::vector<LPARAM> states;
    for (const Message& m : Posted())
      if (m.id == WM_AGENT_DONE && m.wParam == ID_NOTIFY_ITUNES_RUNNING) states.push_back(m.lParam);
    return states;
  };
  Look(*monitor, 0);
  EXPECT_TRUE(notices().empty());
  auto itunes = StartPlayer("iTunes.exe", {});
  Look(*monitor, 0);
  Look(*monitor, 0);
  EXPECT_EQ(notices(), std::vector<LPARAM>{1});
  itunes.reset();
  Look(*monitor, 0);
  Look(*monitor, 0);
  EXPECT_EQ(notices(), std::vector<LPARAM>{0});
}

TEST_F(AgentPlayMonitorTest, AnUnindexedFileGetsARecordWithItsTagsAndAFreshIndexPass) {
  const std::string song = PutSong(music_ + "/new.mp3", "Brand New");
  // The identification component's tags, the gn id among them.
  SetComponentTagReader([](const std::string&, ComponentTags* tags) {
    tags->gn_id = "GN-7731";
    return S_OK;
  });
  Choose(music_);
  AppSettings().WriteDword(kSubKeySettings, "IndexComplete", 1);
  AppSettings().WriteDword(kSubKeySettings, "iTunesComplete", 1);
  auto monitor = MakeMonitor();
  auto player = StartPlayer("mpv", {"r:" + song});
  for (int i = 0; i < 3; ++i) Look(*monitor);
  const std::vector<Message> posted = Posted();
  EXPECT_EQ(Events(posted), Texts{"Now Playing: new.mp3"});
  EXPECT_EQ(Requests(posted, ID_AGENT_SERVER), 1);
  EXPECT_EQ(Requests(posted, ID_AGENT_INDEXER), 1);
  const DBEntry entry = Record(song);
  EXPECT_EQ(entry.play_count, 1);
  EXPECT_TRUE(entry.flags & DBFLAG_PLAYED);
  EXPECT_EQ(EntryText(entry.title), "Brand New");
  EXPECT_EQ(EntryText(entry.artist), "Play Artist");
  EXPECT_EQ(entry.track_number, 4);
  EXPECT_EQ(EntryText(entry.gn_id), "GN-7731");
  SetComponentTagReader(nullptr);
  EXPECT_EQ(ReadDword("IndexComplete"), 0u);
  EXPECT_EQ(ReadDword("iTunesComplete"), 0u);
  EXPECT_NE(LogText().find("Playing file not in DB. Adding...: " + song), std::string::npos);
}

TEST_F(AgentPlayMonitorTest, APlayOfFfplayIsCounted) {
  if (::system("ffplay -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ffplay";
  const std::string song = PutWav(music_ + "/real.wav");
  Choose(music_);
  auto monitor = MakeMonitor();
  ChildProcess ffplay("/usr/bin/ffplay",
                      {"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", song}, false,
                      {"SDL_AUDIODRIVER=dummy"});
  ASSERT_GT(ffplay.pid(), 0);
  // ffplay reads in 32 KiB steps at the pace of the audio: 176 KiB a second.
  for (int i = 0; i < 8 && monitor->now_playing().empty(); ++i) Look(*monitor, 400);
  EXPECT_EQ(monitor->now_playing(), Texts{song}) << LogText();
  EXPECT_EQ(Record(song).play_count, 1);
}

TEST_F(AgentPlayMonitorTest, WithoutChosenFoldersTheMonitorEndsAtOnce) {
  AgentContext context;
  context.kind = AGENT_PLAYMON;
  context.clock = &clock_;
  AgentPlayMonitor monitor(context);
  EXPECT_EQ(monitor.Run(), 1);
  EXPECT_NE(LogText().find("PathList is empty so no playing files will be checked for reindexing"),
            std::string::npos);
}

}  // namespace
}  // namespace playmon_test
