// The play monitor under the real controller, restarted the ways a user's
// day restarts it while a real player (mpv) plays one long song: the
// folders saved, Disable and Enable, sleep and resume. The song is counted
// once. The agent's five-second looks run on the fake clock, back to back.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "app/search_paths.h"
#include "app/string_table.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "playmon/agent_play_monitor.h"
#include "tests/shell/agent_controller_fixture.h"
#include "tests/support/media_cache.h"

extern char** environ;

namespace {

using agent_test::CountOf;
using agent_test::PumpUntil;

class PlayRestartsTest : public agent_test::ControllerTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(KivDB::Initialise(clock_));
    counted_ = std::make_unique<CountedPlays>(env_.Path("counted"));
  }
  void TearDown() override {
    dlg_->DestroyWindow();
    if (mpv_ > 0) {
      ::kill(mpv_, SIGKILL);
      ::waitpid(mpv_, nullptr, 0);
    }
    KivDB::Shutdown();
  }
  std::int32_t PlayCount(const std::string& path) {
    KivDB db;
    DBEntry entry{};
    return db.GetEntry(path, &entry) ? entry.play_count : -1;
  }
  // Lets the requests after a restart set their timers and come due, then
  // runs until the restarted monitor has found the song again.
  ::testing::AssertionResult FoundAgain(std::size_t times) {
    Drain();
    Advance(2000);
    if (PumpUntil(loop_, [&] { return CountOf(LogText(), "Play already counted for") >= times; }))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << LogText();
  }

  CTagReaderRef tag_reader_;
  // Outlives the agents, which TearDown stops.
  std::unique_ptr<CountedPlays> counted_;
  pid_t mpv_ = -1;
};

TEST_F(PlayRestartsTest, ARestartedMonitorDoesNotCountThePlayingSongAgain) {
  if (::access("/usr/bin/mpv", X_OK) != 0) GTEST_SKIP() << "mpv is not installed";
  const std::string music = env_.Path("music");
  std::filesystem::create_directories(music);
  test_media::MediaPlan plan;
  plan.format = "wav";
  plan.seconds = 20;
  const std::string song = music + "/long.wav";
  std::filesystem::copy_file(media_cache::CachedMedia(plan), song);
  ASSERT_TRUE(SaveSearchPaths({{music, 1}}));
  SetCredentials();
  AgentPlayMonitorOptions options;
  options.counted = counted_.get();
  options.players = {"mpv"};
  RegisterPlayMonitorAgent(jobs_, options);

  std::vector<std::string> args = {"mpv",       "--no-config",    "--no-video",
                                   "--ao=null", "--really-quiet", song};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ASSERT_EQ(::posix_spawn(&mpv_, "/usr/bin/mpv", nullptr, nullptr, argv.data(), environ), 0);

  Request(AGENT_PLAYMON);
  ASSERT_TRUE(PumpUntil(loop_, [&] { return PlayCount(song) == 1; })) << LogText();

  dlg_->OnSearchPathsSaved(false);
  ASSERT_TRUE(FoundAgain(1));
  dlg_->SetAgentsEnabled(FALSE, IDS_DISABLED_BY_USER);
  dlg_->SetAgentsEnabled(TRUE, IDS_ENABLED_BY_USER);
  ASSERT_TRUE(FoundAgain(2));
  dlg_->OnPowerBroadcast(PBT_APMSUSPEND);
  dlg_->OnPowerBroadcast(PBT_APMRESUMEAUTOMATIC);
  ASSERT_TRUE(FoundAgain(3));

  EXPECT_EQ(PlayCount(song), 1);
  EXPECT_EQ(CountOf(LogText(), "Playcount incremented for"), 1u);
}

}  // namespace
