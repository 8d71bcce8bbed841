// The fixture of the end-to-end tests: the real vornic program, started
// headless as a child process in a temporary home, against the development
// KIV server on loopback, with a chosen music folder of real tagged files.
// The settings profile points ServerUrl at the server and holds the demo
// account's client password, as a user's would after signing in.
//
// Between runs (never while vornic runs) the test opens the database itself
// to look at the records, and may change a record as another agent would.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/db_format.h"
#include "tests/support/temp_env.h"
#include "tools/kiv_devserver_process.h"

namespace road_test {

using kiv_devserver::DevServer;

inline constexpr const char* kUser = "demo@example.org";
inline constexpr const char* kClientPassword = "demo-client-password";
// The demo account's numeric id and the login token its web session holds.
inline constexpr const char* kUserId = "5150";
inline constexpr const char* kLoginToken = "Web-Session-7f3a";
inline constexpr std::uint64_t kFirstServerId = (1ULL << 32) + 1000;

class RoadTest : public ::testing::Test {
 public:
  static std::string Title(int i) { return "Road Song " + std::to_string(i); }

 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts a development server on `port` (0: a free one) with the demo
  // account and `more` config members ("\"batch_size\": 4"). Each server
  // keeps its own record; calls of servers stopped before stay readable.
  void StartServer(const std::string& more = "", int port = 0);
  void StopServer();
  void SetServerConfig(const std::string& more);
  // Points ServerUrl at `port` (the running server's by default).
  void UseServerPort(int port);
  int port() const { return port_; }

  // `count` tagged mp3 files NN.mp3 in the chosen folder, titled
  // "Road Song N" by three artists (made once per build tree).
  void PutTracks(int count);
  std::string TrackPath(int i) const;

  // `wrapper` (a command line that runs the program given after it, such
  // as a sandbox) goes before the program.
  void StartVornic(const std::vector<std::string>& wrapper = {});
  // SIGTERM and the normal shutdown; expects exit code 0.
  void StopVornic();
  void KillVornic();
  bool VornicRunning();

  // Waits until `done` holds (checked every 50 ms) or `seconds` passed;
  // false on time-out (the caller reports).
  static bool WaitFor(const std::function<bool()>& done, int seconds = 90);

  std::string LogText() const;
  // The log written since the last StartVornic.
  std::string RunLog() const;
  // Transmit jobs of the current run that went through all their steps.
  int TransmitJobsCompleted() const;

  // Every call of every server of this test, in order.
  std::vector<DevServer::Call> AllCalls() const;
  std::vector<DevServer::Call> CallsOf(const std::string& method) const;
  // Answered IndexBatch calls.
  std::vector<DevServer::Call> AnsweredBatches() const;
  // How often each track was described, in all IndexBatch calls (answered
  // or not) from call index `from` on.
  std::map<int, int> TimesDescribed(std::size_t from = 0) const;
  // The tracks an IndexBatch call described.
  static std::set<int> TracksIn(const DevServer::Call& call);
  // Every title of 0..count-1 was described in an answered call and an
  // IndexStop was answered after the last of them.
  bool AllReached(int count) const;

  // The records as the database holds them, by path.
  std::map<std::string, DBEntry> Records() const;
  // Changes the record of `path` in the database (vornic must not run).
  void ChangeRecord(const std::string& path, const std::function<void(DBEntry&)>& change);
  void SetSettingDword(const char* name, DWORD value);

  testing_support::TempEnv env_;
  std::string music_;
  std::unique_ptr<DevServer> server_;
  std::vector<DevServer::Call> earlier_calls_;
  int servers_ = 0;
  int port_ = 0;
  pid_t vornic_ = -1;
  std::size_t log_start_ = 0;
  int runs_ = 0;
};

}  // namespace road_test
