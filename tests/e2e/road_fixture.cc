#include "tests/e2e/road_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "app/log.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "platform/folders.h"
#include "tools/test_media.h"

extern char** environ;

namespace road_test {
namespace fs = std::filesystem;
using testing_support::ReadFile;

namespace {

// The tagged file of track `i`, made once per build tree and shared by the
// test processes (made under a private name, then renamed).
std::string CachedTrack(int i) {
  const fs::path dir = E2E_MEDIA_DIR;
  fs::create_directories(dir);
  const fs::path path = dir / ("v1-track-" + std::to_string(i) + ".mp3");
  if (fs::exists(path)) return path.string();
  test_media::MediaPlan plan;
  plan.format = "mp3";
  plan.seconds = test_media::SecondsForSize(plan, 150000);
  static const char* const kArtists[] = {"Harbour Lights", "The Quiet Engines", "Mara Vell"};
  plan.tags.title = RoadTest::Title(i);
  plan.tags.artist = kArtists[i % 3];
  plan.tags.album = std::string(kArtists[i % 3]) + ": Collected";
  plan.tags.track = std::to_string(i + 1);
  std::random_device random;
  const fs::path partial = dir / ("partial-" + std::to_string(random()) + ".mp3");
  const std::string error = test_media::MakeTestMedia(partial.string(), plan);
  if (!error.empty()) {
    ADD_FAILURE() << "cannot make " << path << ": " << error;
    return "";
  }
  fs::rename(partial, path);
  return path.string();
}

int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

void RoadTest::SetUp() {
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  // The test's own database looks go to a log of their own.
  AppLog().SetLogFile(env_.Path("test.log"));
  music_ = env_.Path("music");
  fs::create_directories(music_);
  ASSERT_TRUE(SaveSearchPaths({{music_, 1}}));
  ASSERT_TRUE(AppSettings().WriteStringUtf8(kSubKeySettings, "Username", kUser));
  ASSERT_TRUE(AppSettings().WriteStringUtf8(kSubKeySettings, "Password", kClientPassword));
}

void RoadTest::TearDown() {
  if (vornic_ > 0) KillVornic();
  StopServer();
}

void RoadTest::StartServer(const std::string& more, int port) {
  StopServer();
  std::vector<std::string> args;
  if (port != 0) args = {"--port", std::to_string(port)};
  server_ = std::make_unique<DevServer>(env_.Path("server-" + std::to_string(++servers_)), args);
  ASSERT_TRUE(server_->ok()) << ReadFile(env_.Path("server-" + std::to_string(servers_)) +
                                         "/server.log");
  SetServerConfig(more);
  UseServerPort(server_->port());
}

void RoadTest::StopServer() {
  if (!server_) return;
  server_->Stop();
  for (DevServer::Call& call : server_->Calls()) earlier_calls_.push_back(std::move(call));
  server_.reset();
}

void RoadTest::SetServerConfig(const std::string& more) {
  server_->SetConfig(std::string("{\"accounts\": [{\"username\": \"") + kUser +
                     "\", \"password\": \"demo\", \"client_password\": \"" + kClientPassword +
                     "\", \"user_id\": \"" + kUserId + "\", \"token\": \"" + kLoginToken + "\"}]" +
                     (more.empty() ? "" : ", " + more) + "}");
}

void RoadTest::UseServerPort(int port) {
  port_ = port;
  ASSERT_TRUE(AppSettings().WriteStringUtf8(
      kSubKeySettings, "ServerUrl",
      "http://127.0.0.1:" + std::to_string(port) + "/kiv_backend/api"));
}

void RoadTest::PutTracks(int count) {
  for (int i = 0; i < count; ++i) {
    const std::string source = CachedTrack(i);
    ASSERT_FALSE(source.empty());
    fs::copy_file(source, TrackPath(i), fs::copy_options::overwrite_existing);
  }
}

std::string RoadTest::TrackPath(int i) const {
  char name[16];
  std::snprintf(name, sizeof name, "%02d.mp3", i);
  return music_ + "/" + name;
}

void RoadTest::StartVornic(const std::vector<std::string>& wrapper) {
  ASSERT_LT(vornic_, 0) << "vornic already runs";
  log_start_ = LogText().size();
  const std::string out = env_.Path("vornic-" + std::to_string(++runs_) + ".out");
  std::vector<std::string> args = wrapper;
  args.push_back(VORNIC_BINARY);
  args.push_back("--headless");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  ASSERT_EQ(::posix_spawn(&vornic_, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
}

void RoadTest::StopVornic() {
  ASSERT_GT(vornic_, 0);
  ::kill(vornic_, SIGTERM);
  int status = 0;
  const bool ended = WaitFor([&] { return ::waitpid(vornic_, &status, WNOHANG) == vornic_; }, 60);
  if (!ended) KillVornic();
  vornic_ = -1;
  ASSERT_TRUE(ended) << "vornic did not stop";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << ReadFile(env_.Path("vornic-" + std::to_string(runs_) + ".out"));
}

void RoadTest::KillVornic() {
  ::kill(vornic_, SIGKILL);
  ::waitpid(vornic_, nullptr, 0);
  vornic_ = -1;
}

bool RoadTest::VornicRunning() { return vornic_ > 0 && ::waitpid(vornic_, nullptr, WNOHANG) == 0; }

bool RoadTest::WaitFor(const std::function<bool()>& done, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

std::string RoadTest::LogText() const { return ReadFile(platform::DataDir() + "/kivclient.log"); }

std::string RoadTest::RunLog() const {
  const std::string text = LogText();
  return log_start_ < text.size() ? text.substr(log_start_) : std::string();
}

int RoadTest::TransmitJobsCompleted() const {
  // A job that went through every step logs the start of SendDeletes and,
  // after it, the start of its last SendPlayCounts.
  std::istringstream lines(RunLog());
  int completed = 0;
  bool after_deletes = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("AgentTransmit: Sending deleted tracks") != std::string::npos) {
      after_deletes = true;
    } else if (after_deletes &&
               line.find("AgentTransmit: Sending playcounts") != std::string::npos) {
      ++completed;
      after_deletes = false;
    }
  }
  return completed;
}

std::vector<DevServer::Call> RoadTest::AllCalls() const {
  std::vector<DevServer::Call> calls = earlier_calls_;
  if (server_)
    for (DevServer::Call& call : server_->Calls()) calls.push_back(std::move(call));
  return calls;
}

std::vector<DevServer::Call> RoadTest::CallsOf(const std::string& method) const {
  std::vector<DevServer::Call> calls;
  for (DevServer::Call& call : AllCalls())
    if (call.method == method) calls.push_back(std::move(call));
  return calls;
}

std::vector<DevServer::Call> RoadTest::AnsweredBatches() const {
  std::vector<DevServer::Call> calls;
  for (DevServer::Call& call : CallsOf("IndexBatch"))
    if (call.seconds >= 0) calls.push_back(std::move(call));
  return calls;
}

std::map<int, int> RoadTest::TimesDescribed(std::size_t from) const {
  std::map<int, int> times;
  const std::vector<DevServer::Call> calls = AllCalls();
  for (std::size_t i = from; i < calls.size(); ++i) {
    if (calls[i].method != "IndexBatch") continue;
    for (int t = 0; t < 100; ++t) {
      const int n = Occurrences(calls[i].flat, "<string>" + Title(t) + "</string>");
      if (n > 0) times[t] += n;
    }
  }
  return times;
}

std::set<int> RoadTest::TracksIn(const DevServer::Call& call) {
  std::set<int> tracks;
  for (int t = 0; t < 100; ++t)
    if (call.flat.find("<string>" + Title(t) + "</string>") != std::string::npos) tracks.insert(t);
  return tracks;
}

bool RoadTest::AllReached(int count) const {
  const std::vector<DevServer::Call> calls = AllCalls();
  int last_batch = -1;
  int stop = -1;
  std::vector<bool> reached(static_cast<std::size_t>(count), false);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].seconds < 0) continue;
    if (calls[i].method == "IndexStop") stop = static_cast<int>(i);
    if (calls[i].method != "IndexBatch") continue;
    for (int t = 0; t < count; ++t)
      if (calls[i].flat.find("<string>" + Title(t) + "</string>") != std::string::npos) {
        reached[static_cast<std::size_t>(t)] = true;
        last_batch = static_cast<int>(i);
      }
  }
  for (bool r : reached)
    if (!r) return false;
  return stop > last_batch;
}

std::map<std::string, DBEntry> RoadTest::Records() const {
  std::map<std::string, DBEntry> records;
  EXPECT_TRUE(KivDB::Initialise());
  {
    KivDB db;
    DBEntry entry;
    for (std::uint32_t pos = db.GetFirstEntry(&entry, FALSE); pos != 0;
         pos = db.GetNextEntry(&entry, FALSE))
      records[EntryPath(entry)] = entry;
  }
  KivDB::Shutdown();
  return records;
}

void RoadTest::ChangeRecord(const std::string& path, const std::function<void(DBEntry&)>& change) {
  ASSERT_TRUE(KivDB::Initialise());
  {
    KivDB db;
    DBEntry entry;
    ASSERT_TRUE(db.GetEntry(path, &entry)) << path;
    change(entry);
    EXPECT_TRUE(db.UpdateEntry(&entry, FALSE));
  }
  KivDB::Shutdown();
}

void RoadTest::SetSettingDword(const char* name, DWORD value) {
  ASSERT_TRUE(AppSettings().WriteDword(kSubKeySettings, name, value));
}

}  // namespace road_test
