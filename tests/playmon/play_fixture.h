// A fixture for the play monitor: its own temporary folder with the
// settings, log and database inside, the tag reader's extension list
// filled, a chosen music folder of real media files, stand-in player
// processes under watched image names, and a main-window loop that records
// what the monitor posts.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "app/agent_registry.h"
#include "app/message_loop.h"
#include "db/db_format.h"
#include "media/tag_reader.h"
#include "platform/clock.h"
#include "playmon/agent_play_monitor.h"
#include "playmon/counted_plays.h"
#include "tests/support/temp_env.h"

namespace playmon_test {

// A child process, killed and reaped on destruction.
class ChildProcess {
 public:
  // Starts `program` with `args` (argv[0] included) and waits until it
  // writes its first line when `wait_ready`.
  ChildProcess(const std::string& program, const std::vector<std::string>& args, bool wait_ready,
               const std::vector<std::string>& env = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  pid_t pid() const { return pid_; }
  bool ok() const { return pid_ > 0 && ready_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = true;
};

class PlayFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A tagged mp3 of 30 s titled `title`, copied to `path` (parents made).
  std::string PutSong(const std::string& path, const std::string& title = "Song");
  // A 20 s wav (read quickly by ffplay), copied to `path`.
  std::string PutWav(const std::string& path);
  // Chooses `folder` with its enabled flag (keeps the folders chosen before).
  void Choose(const std::string& folder, DWORD enabled = 1);

  // The stand-in player under `image` ("mpv"), with "<mode>:<path>" files
  // (see test_player.cc), reading 2 KiB every 10 ms.
  std::unique_ptr<ChildProcess> StartPlayer(const std::string& image,
                                            const std::vector<std::string>& files);

  // Real players, playing at the pace of the audio with no sound device:
  // mpv with `files` as its playlist, taking commands on mpv_socket(); and
  // gst-launch-1.0 playing one wav file. Null (and the test is skipped by
  // the caller) when the program is missing.
  std::unique_ptr<ChildProcess> StartMpv(const std::vector<std::string>& files);
  std::unique_ptr<ChildProcess> StartGst(const std::string& wav);
  static bool Installed(const char* program);
  // Sends mpv one command ("playlist-next") over its socket.
  bool MpvCommand(const std::string& command);
  std::string mpv_socket() const { return env_.Path("mpv.sock"); }
  // Waits (up to 5 s) until process `pid` holds the file `path` open.
  static bool WaitOpen(pid_t pid, const std::string& path);

  // A monitor for AGENT_PLAYMON with the chosen folders loaded, counting
  // into counted_ (a new program start makes a new ledger on its file).
  // `players`: the image names to watch instead of the program's list.
  std::unique_ptr<AgentPlayMonitor> MakeMonitor(std::vector<std::string> players = {});
  // Lets the players read, then takes one look.
  void Look(AgentPlayMonitor& monitor, int wait_ms = 40);

  // What the monitor posted since the last call.
  std::vector<Message> Posted();
  // The status event texts among `messages`.
  static std::vector<std::string> Events(const std::vector<Message>& messages);
  static int Requests(const std::vector<Message>& messages, WPARAM agent);
  DWORD ReadDword(const char* name, DWORD preset = 0xFFFFFFFF);
  // The database record of `path` (a failure when there is none).
  DBEntry Record(const std::string& path);
  bool HasRecord(const std::string& path);
  void Index(const std::string& path);
  static int Occurrences(const std::string& text, const std::string& what);
  std::string LogText() const;

  testing_support::TempEnv env_;
  platform::FakeClock clock_{1700000000};
  MessageLoop loop_{clock_};
  CTagReaderRef tag_reader_;
  std::string music_;
  std::vector<Message> posted_;
  std::unique_ptr<CountedPlays> counted_;
};

}  // namespace playmon_test
