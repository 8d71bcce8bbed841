#include "tests/playmon/play_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

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
  counted_ = std::make_unique<CountedPlays>(env_.Path("counted"));
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

std::unique_ptr<ChildProcess> PlayFixture::StartMpv(const std::vector<std::string>& files) {
  if (!Installed("mpv")) return nullptr;
  std::vector<std::string> args = {
      "mpv",       "--no-config",    "--no-video",
      "--ao=null", "--really-quiet", "--input-ipc-server=" + mpv_socket()};
  args.insert(args.end(), files.begin(), files.end());
  auto mpv = std::make_unique<ChildProcess>("/usr/bin/mpv", args, false);
  EXPECT_TRUE(WaitOpen(mpv->pid(), files.front()));
  return mpv;
}

std::unique_ptr<ChildProcess> PlayFixture::StartGst(const std::string& wav) {
  if (!Installed("gst-launch-1.0")) return nullptr;
  auto gst = std::make_unique<ChildProcess>(
      "/usr/bin/gst-launch-1.0",
      std::vector<std::string>{"gst-launch-1.0", "-q", "filesrc", "location=" + wav, "!",
                               "wavparse", "!", "fakesink", "sync=true"},
      false);
  EXPECT_TRUE(WaitOpen(gst->pid(), wav));
  return gst;
}

bool PlayFixture::Installed(const char* program) {
  return ::access((std::string("/usr/bin/") + program).c_str(), X_OK) == 0;
}

bool PlayFixture::MpvCommand(const std::string& command) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, mpv_socket().c_str(), sizeof address.sun_path - 1);
  const std::string line = "{\"command\": [\"" + command + "\"]}\n";
  bool sent = fd >= 0 &&
              ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  char answer[256];
  sent = sent && ::read(fd, answer, sizeof answer) > 0;  // done once it answers
  if (fd >= 0) ::close(fd);
  return sent;
}

bool PlayFixture::WaitOpen(pid_t pid, const std::string& path) {
  const std::string real = fs::weakly_canonical(path).string();
  for (int i = 0; i < 500; ++i) {
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
      if (fs::read_symlink(fd.path(), error) == real) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::unique_ptr<AgentPlayMonitor> PlayFixture::MakeMonitor(std::vector<std::string> players) {
  AgentContext context;
  context.kind = AGENT_PLAYMON;
  context.main_window = &loop_;
  context.clock = &clock_;
  AgentPlayMonitorOptions options;
  options.counted = counted_.get();
  options.players = std::move(players);
  auto monitor = std::make_unique<AgentPlayMonitor>(context, options);
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

DBEntry PlayFixture::Record(const std::string& path) {
  KivDB db;
  DBEntry entry{};
  EXPECT_TRUE(db.GetEntry(path, &entry)) << path;
  return entry;
}

bool PlayFixture::HasRecord(const std::string& path) {
  KivDB db;
  DBEntry entry;
  return db.GetEntry(path, &entry);
}

void PlayFixture::Index(const std::string& path) {
  KivDB db;
  ASSERT_TRUE(db.AddEntry(path));
}

int PlayFixture::Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string PlayFixture::LogText() const {
  return testing_support::ReadFile(env_.Path("kivclient.log"));
}

}  // namespace playmon_test
