// The road of one play, end to end: a player process plays a file of the
// chosen folder, the real program counts the play and the development
// server receives PlayedWide with the track's kiv id. The program is killed
// the moment it announces the play; the play is on disk, and the next run
// sends it unless the killed run wrote its answer back.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/road_fixture.h"
#include "tests/support/temp_env.h"

extern char** environ;

namespace road_test {
namespace {

namespace fs = std::filesystem;

// The stand-in player under the image name "mpv", reading `song` slowly.
class Player {
 public:
  Player(const std::string& folder, const std::string& song) {
    const std::string program = folder + "/mpv";
    fs::copy_file(TEST_PLAYER, program, fs::copy_options::overwrite_existing);
    std::vector<std::string> args = {program, "512", "100", "r:" + song};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Player() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  bool ok() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

class PlayRoadTest : public RoadTest {};

TEST_F(PlayRoadTest, APlayedTrackReachesTheServerEvenWhenKilledRightAfterNowPlaying) {
  StartServer();
  PutTracks(2);
  const std::string song = TrackPath(1);
  fs::create_directories(env_.Path("bin"));
  auto player = std::make_unique<Player>(env_.Path("bin"), song);
  ASSERT_TRUE(player->ok());

  StartVornic();
  const std::string out = env_.Path("vornic-1.out");
  ASSERT_TRUE(WaitFor([&] {
    return testing_support::ReadFile(out).find("Now Playing: 01.mp3") != std::string::npos;
  })) << RunLog();
  KillVornic();
  player.reset();

  // Counted once and on disk, whatever the transmit agent managed to send.
  bool still_to_send = false;
  {
    const DBEntry played = Records()[song];
    EXPECT_EQ(played.play_count, 1);
    EXPECT_EQ(Records()[TrackPath(0)].play_count, 0);
    still_to_send = played.flags & DBFLAG_PLAYED;
    EXPECT_TRUE(still_to_send || !CallsOf("PlayedWide").empty());
  }
  const std::size_t sent_before = CallsOf("PlayedWide").size();

  // A play still to send is done when its answer is in: the agent writes
  // it back before it looks for a stop again. (A job the controller stopped
  // and relaunched logs every step too, so a job's steps are no sign of it.)
  StartVornic();
  ASSERT_TRUE(WaitFor([&] {
    return still_to_send ? RunLog().find("Sent Playing: 01.mp3") != std::string::npos
                         : TransmitJobsCompleted() >= 1;
  })) << RunLog();
  StopVornic();

  const DBEntry sent = Records()[song];
  ASSERT_GE(sent.kiv_id, kFirstServerId);
  EXPECT_FALSE(sent.flags & DBFLAG_PLAYED);
  EXPECT_EQ(sent.play_count, 1);
  // A play still to send goes once more, even when the killed run's call
  // had reached the server: that run never learnt the answer. A play whose
  // answer was written back is not sent again.
  const std::vector<DevServer::Call> plays = CallsOf("PlayedWide");
  ASSERT_EQ(plays.size(), sent_before + (still_to_send ? 1u : 0u));
  EXPECT_NE(plays.back().flat.find(std::to_string(sent.kiv_id)), std::string::npos)
      << plays.back().flat;
}

}  // namespace
}  // namespace road_test
