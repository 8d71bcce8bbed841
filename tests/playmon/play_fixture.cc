#include "tests/playmon/play_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/log.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "platform/folders.h"
#include "tests/support/media_cache.h"

extern char** environ;

namespace playmon_test {

namespace fs = std::filesystem;

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           bool wait_ready, const std::vector<std::string>& env) {
  std::vector<std::string> own_args = args;
  std::vector<char*> argv;
  for (std::string& a : own_args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> own_env;
  for (char** e = environ; *e; ++e) own_env.push_back(*e);
  own_env.insert(own_env.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (std::string& e : own_env) envp.push_back(e.data());
  envp.push_back(nullptr);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // Standard error may be a file of the test's caller: not the child's file.
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
    pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (pid_ > 0 && wait_ready) {
    char c = 0;
    ready_ = ::read(out[0], &c, 1) == 1;
  }
  ::close(out[0]);
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

void PlayFixture::SetUp() {
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  fs::create_directories(platform::DataDir());
  AppLog().SetLogFile(env_.Path("kivclient.log"));
  AppLog().SetLogLevel(LEVEL_VERBOSE);
  AppLog().SetLogModuleMask(MODULE_EVERYTHING);
  ASSERT_TRUE(KivDB::Initialise(clock_));
  music_ = env_.Path("music");
  fs::create_directories(music_);
  loop_.SetHandler([this](Message& message) { posted_.push_back(message); });
}

void PlayFixture::TearDown() { KivDB::Shutdown(); }

std::string PlayFixture::PutSong(const std::string& path, const std::string& title) {
  test_media::MediaPlan plan;
  plan.format = "mp3";
  plan.seconds = 30;
  plan.tags.title = title;
  plan.tags.artist = "Play Artist";
  plan.tags.track = "4";
  const std::string source = media_cache::CachedMedia(plan);
  fs::create_directories(fs::path(path).parent_path());
  fs::copy_file(source, path, fs::copy_options::overwrite_existing);
  return path;
}

std::string PlayFixture::PutWav(const std::string& path) {
  test_media::MediaPlan plan;
  plan.format = "wav";
  plan.seconds = 20;
  const std::string source = media_cache::CachedMedia(plan);
  fs::create_directories(fs::path(path).parent_path());
  fs::copy_file(source, path, fs::copy_options::overwrite_existing);
  return path;
}

void PlayFixture::Choose(const std::string& folder, DWORD enabled) {
  SearchPathMap map;
  LoadSearchPaths(map);
  map[SearchPathKey(folder)] = enabled;
  ASSERT_TRUE(SaveSearchPaths(map));
}

std::unique_ptr<ChildProcess> PlayFixture::StartPlayer(const std::string& image,
                                                       const std::vector<std::string>& files) {
  const std::string program = env_.Path("bin/" + image);
  fs::create_directories(env_.Path("bin"));
  if (!fs::exists(program)) fs::copy_file(TEST_PLAYER, program);
  std::vector<std::string> args = {program, "2048", "10"};
  args.insert(args.end(), files.begin(), files.end());
  auto player = std::make_unique<ChildProcess>(program, args, true);
  EXPECT_TRUE(player->ok()) << image;
  return player;
}

std::unique_ptr<AgentPlayMonitor> PlayFixture::MakeMonitor() {
  AgentContext context;
  context.kind = AGENT_PLAYMON;
  context.main_window = &loop_;
  context.clock = &clock_;
  auto monitor = std::make_unique<AgentPlayMonitor>(context);
  EXPECT_TRUE(monitor->LoadFolders());
  return monitor;
}

void PlayFixture::Look(AgentPlayMonitor& monitor, int wait_ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
  clock_.Advance(5000);
  monitor.Look();
}

std::vector<Message> PlayFixture::Posted() {
  loop_.ProcessPending();
  std::vector<Message> out;
  out.swap(posted_);
  return out;
}

std::vector<std::string> PlayFixture::Events(const std::vector<Message>& messages) {
  std::vector<std::string> texts;
  for (const Message& m : messages) {
    if (m.id != WM_STATUS_EVENT) continue;
    EXPECT_EQ(m.wParam, kJobPlayMonitor);
    texts.push_back(m.payload);
  }
  return texts;
}

int PlayFixture::Requests(const std::vector<Message>& messages, WPARAM agent) {
  int n = 0;
  for (const Message& m : messages)
    if (m.id == WM_AGENT_REQUEST && m.wParam == agent && m.lParam == 0) ++n;
  return n;
}

DWORD PlayFixture::ReadDword(const char* name, DWORD preset) {
  AppSettings().ReadDword(kSubKeySettings, name, preset);
  return preset;
}

std::string PlayFixture::LogText() const {
  return testing_support::ReadFile(env_.Path("kivclient.log"));
}

}  // namespace playmon_test
