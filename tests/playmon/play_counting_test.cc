// Plays counted once each, in the conditions of a user's day: the monitor
// and the program restarting around a song, two players at once, music
// folders reached through links, the next song opened early and the same
// song played again. Real player processes (mpv and GStreamer where
// installed, the stand-in player where a step must be exact) and the real
// /proc.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "db/kiv_db.h"
#include "tests/playmon/play_fixture.h"

namespace playmon_test {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

class PlayCountingTest : public PlayFixture {
 protected:
  // Looks until `event` is posted (at most `looks` looks); every event
  // posted on the way, in order.
  Texts LookUntil(AgentPlayMonitor& monitor, const std::string& event, int looks = 8) {
    Texts events;
    for (int i = 0; i < looks; ++i) {
      Look(monitor);
      for (const std::string& text : Events(Posted())) events.push_back(text);
      if (std::find(events.begin(), events.end(), event) != events.end()) break;
    }
    return events;
  }
};

TEST_F(PlayCountingTest, APlayingSongIsCountedOnceWhateverRestartsAroundIt) {
  const std::string song = PutWav(music_ + "/long.wav");
  Choose(music_);
  auto mpv = StartMpv({song});
  if (!mpv) GTEST_SKIP() << "mpv is not installed";
  auto monitor = MakeMonitor();
  for (int i = 0; i < 3; ++i) Look(*monitor);
  std::vector<Message> posted = Posted();
  EXPECT_EQ(Events(posted), Texts{"Now Playing: long.wav"});
  EXPECT_EQ(Requests(posted, ID_AGENT_SERVER), 1);

  // Saving the folders, Disable and Enable, a resume from sleep: each
  // stops the job and starts a new one. The fourth run is a new start of
  // the program, which knows the counted plays from their file only.
  for (int run = 1; run <= 4; ++run) {
    if (run == 4) counted_ = std::make_unique<CountedPlays>(env_.Path("counted"));
    monitor = MakeMonitor();
    for (int i = 0; i < 4; ++i) Look(*monitor);
    posted = Posted();
    EXPECT_EQ(Events(posted), Texts{"Now Playing: long.wav"}) << "run " << run;
    EXPECT_EQ(Requests(posted, ID_AGENT_SERVER), 0) << "run " << run;
  }
  EXPECT_EQ(Record(song).play_count, 1);
  EXPECT_EQ(Occurrences(LogText(), "Play already counted for: " + song), 4);

  // Played by a new player process: a new play.
  mpv = StartMpv({song});
  EXPECT_EQ(LookUntil(*monitor, "Now Playing: long.wav"),
            (Texts{"Play Ended: long.wav", "Now Playing: long.wav"}));
  EXPECT_EQ(Record(song).play_count, 2);
  EXPECT_EQ(counted_->size(), 1u);
}

TEST_F(PlayCountingTest, EachPlayerCountsItsOwnSongWhateverTheOtherDoes) {
  if (!Installed("mpv") || !Installed("gst-launch-1.0")) GTEST_SKIP() << "no mpv or GStreamer";
  const std::string first = PutWav(music_ + "/a1.wav");
  const std::string second = PutWav(music_ + "/a2.wav");
  const std::string other = PutWav(music_ + "/b.wav");
  Choose(music_);
  auto mpv = StartMpv({first, second});
  auto gst = StartGst(other);
  auto monitor = MakeMonitor({"mpv", "gst-launch-1.0"});
  for (int i = 0; i < 3; ++i) Look(*monitor);
  Texts events = Events(Posted());
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events, (Texts{"Now Playing: a1.wav", "Now Playing: b.wav"}));

  // Player A changes track, then quits; B's song plays on, counted once.
  ASSERT_TRUE(MpvCommand("playlist-next"));
  EXPECT_EQ(LookUntil(*monitor, "Now Playing: a2.wav"),
            (Texts{"Play Ended: a1.wav", "Now Playing: a2.wav"}));
  mpv.reset();
  EXPECT_EQ(LookUntil(*monitor, "Play Ended: a2.wav", 4), Texts{"Play Ended: a2.wav"});
  for (int i = 0; i < 3; ++i) Look(*monitor);
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(monitor->now_playing(), Texts{other});
  EXPECT_EQ(Record(first).play_count, 1);
  EXPECT_EQ(Record(second).play_count, 1);
  EXPECT_EQ(Record(other).play_count, 1);
}

TEST_F(PlayCountingTest, MusicFoldersReachedThroughLinksCountUnderTheirOwnSpelling) {
  if (!Installed("gst-launch-1.0")) GTEST_SKIP() << "GStreamer is not installed";
  // ~/Music is a link to another disk, and inside it "jazz" is a link to a
  // folder elsewhere. The indexer spells the files through the links.
  const std::string disk = env_.Path("disk/Music");
  const std::string elsewhere = env_.Path("elsewhere/jazz");
  PutWav(disk + "/a.wav");
  PutWav(elsewhere + "/b.wav");
  const std::string chosen = env_.Path("Music");
  fs::create_directory_symlink(disk, chosen);
  fs::create_directory_symlink(elsewhere, disk + "/jazz");
  Choose(chosen);
  const std::string a = chosen + "/a.wav";
  const std::string b = chosen + "/jazz/b.wav";
  Index(a);
  Index(b);
  auto first = StartGst(a);
  auto second = StartGst(b);
  auto monitor = MakeMonitor({"gst-launch-1.0"});
  for (int i = 0; i < 3; ++i) Look(*monitor);
  Texts events = Events(Posted());
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events, (Texts{"Now Playing: a.wav", "Now Playing: b.wav"}));
  EXPECT_EQ(Record(a).play_count, 1);
  EXPECT_EQ(Record(b).play_count, 1);
  EXPECT_EQ(KivDB::ValidCount(), 2u);  // no record under the real paths
}

TEST_F(PlayCountingTest, ASongPlayedAgainWithoutClosingItCountsAgain) {
  const std::string song = PutSong(music_ + "/again.mp3");
  Choose(music_);
  auto monitor = MakeMonitor();
  auto player = StartPlayer("mpv", {"r:" + song});
  for (int i = 0; i < 3; ++i) Look(*monitor);
  EXPECT_EQ(Events(Posted()), Texts{"Now Playing: again.mp3"});

  // Near the end, then back to the start: repeat one.
  ::kill(player->pid(), SIGUSR1);
  Look(*monitor);
  ::kill(player->pid(), SIGUSR2);
  EXPECT_EQ(LookUntil(*monitor, "Now Playing: again.mp3", 4),
            (Texts{"Play Ended: again.mp3", "Now Playing: again.mp3"}));
  EXPECT_EQ(Record(song).play_count, 2);

  // Going back to the start before reaching the end is the same play.
  ::kill(player->pid(), SIGUSR2);
  for (int i = 0; i < 4; ++i) Look(*monitor);
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(Record(song).play_count, 2);
}

TEST_F(PlayCountingTest, AFileThatCannotBeRecordedIsLoggedOnce) {
  // Too short for a record: the monitor cannot add it.
  const std::string source = PutSong(env_.Path("full.mp3"));
  const std::string small = music_ + "/small.mp3";
  {
    std::ifstream in(source, std::ios::binary);
    std::string bytes(100000, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::ofstream(small, std::ios::binary) << bytes;
  }
  Choose(music_);
  auto monitor = MakeMonitor();
  auto player = StartPlayer("mpv", {"r:" + small});
  for (int i = 0; i < 8; ++i) Look(*monitor);
  EXPECT_TRUE(Events(Posted()).empty());
  EXPECT_EQ(Occurrences(LogText(), "Playing file not in DB. Adding..."), 1);
  EXPECT_EQ(Occurrences(LogText(), "File just added not found!"), 1);
  EXPECT_FALSE(HasRecord(small));
}

}  // namespace
}  // namespace playmon_test
