#include "shell/kiv_client_app.h"

#include <cstdio>

#include "app/format.h"
#include "app/log.h"
#include "app/message_box.h"
#include "app/reg_settings.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "musicid/cddb_startup.h"
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "shell/cli_verbs.h"
#include "shell/headless_main_window.h"
#include "shell/kiv_client_dlg.h"
#include "shell/remote_protocol.h"

#ifndef VORNIC_VERSION
#define VORNIC_VERSION "1.0.3.105"
#endif

const char* const kKivClientVersion = VORNIC_VERSION;

namespace {

// The database's count changes become WM_STATUS_COUNTS for the status page.
// Called with the database lock held, from any thread: it only posts.
class CountsToMainWindow : public DbEventSink {
 public:
  explicit CountsToMainWindow(MessageLoop& loop) : loop_(loop) {}
  void OnCountsChanged() override { loop_.PostMessage(WM_STATUS_COUNTS); }

 private:
  MessageLoop& loop_;
};

constexpr const char* kBannerStars = "********************************************";

void PrintError(const std::string& text) {
  std::fprintf(stderr, "vornic: %s\n", text.c_str());
  std::fflush(stderr);
}

// What a second start says once the running copy took its show command:
// the copy's process id as it tells it, and whether it has a window to
// show at all.
std::string HandedOverText(platform::SingleInstance& instance) {
  std::string answer;
  std::vector<std::string> fields;
  if (instance.SendRequest(EncodeFields({"pid"}), &answer)) fields = DecodeFields(answer);
  const std::string pid = fields.size() >= 2 && fields[0] == "ok" ? fields[1] : "unknown";
  if (fields.size() >= 3 && fields[2] == "headless")
    return "a copy is already running (pid " + pid +
           ") without a window (headless: no display), so there is nothing to show; "
           "vornic --status tells what it does";
  return "a copy is already running (pid " + pid + "); it was asked to show its window";
}

}  // namespace

std::string ResolveLogPath(const std::string& value, const std::string& data_dir) {
  if (value.empty()) return data_dir + "/" + kLogFileName;
  std::string path = value.find('/') == std::string::npos ? data_dir + "/" + value : value;
  if (platform::IsDirectory(path)) return path + (path.back() == '/' ? "" : "/") + kLogFileName;
  return path;
}

CKivClientApp::CKivClientApp(std::vector<std::string> args, MainWindowFactory make_view)
    : args_(std::move(args)), options_(ParseCommandLine(args_)), make_view_(std::move(make_view)) {
  loop_.SetHandler([this](Message& message) {
    if (!remote_.OnMessage(message)) OnMessage(message);
  });
}

CKivClientApp::~CKivClientApp() = default;

int CKivClientApp::Main() {
  // A command line that cannot be used touches nothing.
  if (!options_.error.empty()) {
    PrintError(options_.error);
    std::fputs(UsageText(kKivClientVersion).c_str(), stderr);
    return 2;
  }
  if (options_.help) {
    std::fputs(UsageText(kKivClientVersion).c_str(), stdout);
    return 0;
  }
  if (options_.version) {
    std::printf("Vornic %s\n", kKivClientVersion);
    return 0;
  }
  if (options_.verb != CliVerb::kNone) return RunCliVerb(options_);
  InitInstance();
  const int code = ExitInstance();
  return exit_code_ != 0 ? exit_code_ : code;
}

BOOL CKivClientApp::InitInstance() {
  // There is no COM, common-control or socket library to initialise here.
  // SIGINT and SIGTERM end the main loop like the shutdown command from now
  // on, so that shutdown always runs.
  signals_ = std::make_unique<platform::SignalWatcher>([this](int signo) {
    LogApp(StrFormat("Received %s, shutting down", platform::SignalName(signo)), LEVEL_INFO);
    loop_.PostMessage(WM_CLOSE);
  });
  if (!signals_->ok()) PrintError("unable to watch SIGINT and SIGTERM");

  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  // The log, the database and the lock live in the data folder: one that
  // someone else owns or may write to could have any of them planted.
  std::string problem;
  if (!platform::PrepareDataDir(&problem)) {
    PrintError(problem);
    AppMessageBox("Vornic cannot start: " + problem + ".", MB_OK | MB_ICONERROR);
    exit_code_ = 1;
    return FALSE;
  }
  ConfigureLog();

  LogApp(kBannerStars, LEVEL_CRITICAL);
  LogApp(StrFormat("******** KIVClient %s Started ********", kKivClientVersion), LEVEL_CRITICAL);
  ReportRegistryDamage();

  if (!CheckSingleInstance()) return FALSE;

  if (!InitDatabase()) {
    const char* text = "Unable to initlialize Vornic Database.\nVornic will shutdown.";
    LogApp(text, LEVEL_ERROR);
    AppMessageBox(text, MB_OK | MB_ICONERROR);
    exit_code_ = 1;
    return FALSE;
  }
  database_ready_ = true;
  CreateIdentificationLoader();

  LogApp("Application Startup Completed, entering background mode", LEVEL_INFO);
  AcquireTagReader();
  CreateMainWindow();
  loop_.Run();
  // Nothing answers the socket's clients any more: they are turned away at
  // once instead of holding up the shutdown. The lock stays until exit.
  remote_.Stop();
  if (instance_) instance_->StopListening();
  LogApp("Application Shutdown Completed, cleaning up", LEVEL_INFO);
  DestroyMainWindow();
  ReleaseTagReader();
  return FALSE;
}

void CKivClientApp::ConfigureLog() {
  const std::string data_dir = platform::DataDir();
  std::string value;
  AppSettings().ReadString(kSubKeySettings, "LogFileName", value);
  const std::string path = ResolveLogPath(value, data_dir);
  if (!AppLog().SetLogFile(path)) {
    // The log then records each line's failure in the registry instead; say
    // so where someone starting the program will see it.
    int err = platform::TryOpenForAppend(path);
    PrintError(
        StrFormat("unable to use the log file %s: %s; log lines are recorded in the "
                  "registry (Log: LogFileFailure, LastLogMessage) instead",
                  path.c_str(), platform::ErrnoText(err).c_str()));
  }

  DWORD level = LEVEL_VERBOSE;
  AppSettings().ReadDword(kSubKeySettings, "LogLevel", level);
  AppLog().SetLogLevel(level);
  DWORD mask = MODULE_EVERYTHING;
  AppSettings().ReadDword(kSubKeySettings, "LogModule", mask);
  AppLog().SetLogModuleMask(mask);
}

void CKivClientApp::ReportRegistryDamage() {
  for (const std::string& text : platform::TakeRegistryDamageReport())
    AppLog().Log(text, LEVEL_ERROR, MODULE_REGISTRY);
}

BOOL CKivClientApp::CheckSingleInstance() {
  // The lock beside the database: every copy of this user meets it, with or
  // without a runtime folder in its environment.
  instance_ =
      std::make_unique<platform::SingleInstance>(platform::DataDir(), platform::RuntimeDir());
  switch (instance_->Acquire()) {
    case platform::SingleInstance::State::kFirst:
      if (!instance_->Listen(
              [this](std::uint32_t command) {
                // The only command a second start sends: show the window.
                if (command != ID_CMD_SHOW_ACTIVITY) return false;
                loop_.PostMessage(WM_COMMAND, command, 0);
                return true;
              },
              [this](const std::string& request) { return remote_.AnswerFromListener(request); }))
        LogApp(StrFormat("Unable to listen on %s: ERR(%d), a second start cannot reach this copy",
                         instance_->SocketPath().c_str(), instance_->error()),
               LEVEL_ERROR);
      return TRUE;
    case platform::SingleInstance::State::kAnotherRunning:
      LogApp(kInstanceRefusal, LEVEL_ERROR);
      // Started with the session while a copy already runs: nothing to do.
      if (options_.autostart) return FALSE;
      // The running copy shows its Activity Monitor page; only when it
      // cannot be reached does this copy show the refusal itself.
      if (!instance_->SendCommand(static_cast<std::uint32_t>(ID_CMD_SHOW_ACTIVITY))) {
        const platform::RunningCopyInfo running = platform::FindRunningCopy(platform::DataDir());
        PrintError(StrFormat("another copy is running (pid %ld) but did not answer on %s",
                             running.pid, instance_->PeerSocketPath().c_str()));
        AppMessageBox(kInstanceRefusal, MB_OK | MB_ICONERROR);
        exit_code_ = 3;
        return FALSE;
      }
      PrintError(HandedOverText(*instance_));
      return FALSE;
    default:
      // Without the lock nothing tells a second copy apart; run anyway.
      LogApp(StrFormat("Unable to take the single-instance lock %s: ERR(%d), running without it",
                       instance_->LockPath().c_str(), instance_->error()),
             LEVEL_ERROR);
      return TRUE;
  }
}

int CKivClientApp::ExitInstance() {
  if (database_ready_) ShutdownDatabase();
  database_ready_ = false;
  UnloadIdentificationLoader();
  instance_.reset();
  LogApp(StrFormat("******** KIVClient %s Stopped ********", kKivClientVersion), LEVEL_CRITICAL);
  LogApp(kBannerStars, LEVEL_CRITICAL);
  signals_.reset();
  return 0;
}

// The database file (kivclient.db in the data folder, or in the DBPath
// folder) is opened, its index loaded and the file repaired when needed.
BOOL CKivClientApp::InitDatabase() { return KivDB::Initialise(); }
void CKivClientApp::ShutdownDatabase() { KivDB::Shutdown(); }
// The loader is created with the program folder and stays until exit; it
// also gives GetTagEntry the component's tag objects.
void CKivClientApp::CreateIdentificationLoader() {
  CreateCddbLoader();
  loader_created_ = true;
}
void CKivClientApp::UnloadIdentificationLoader() {
  if (loader_created_) FreeCddbLoader();
  loader_created_ = false;
}
// The tag reader stays initialised from here until shutdown.
void CKivClientApp::AcquireTagReader() { tag_reader_ = std::make_unique<CTagReaderRef>(); }
void CKivClientApp::ReleaseTagReader() { tag_reader_.reset(); }
// The agent controller becomes the main loop's handler, in front of the view
// that main chose (the headless one logs "/show").
void CKivClientApp::CreateMainWindow() {
  if (make_view_) view_ = make_view_(loop_, options_);
  if (!view_) view_ = std::make_unique<HeadlessMainWindow>();
  CKivClientDlg::Options options;
  options.watch_power_events = true;
  main_window_ = std::make_unique<CKivClientDlg>(loop_, *view_, options);
  remote_.SetController(main_window_.get());
  remote_.SetHasWindow(dynamic_cast<HeadlessMainWindow*>(view_.get()) == nullptr);
  loop_.SetHandler([this](Message& message) {
    if (!remote_.OnMessage(message)) main_window_->OnMessage(message);
  });
  counts_sink_ = std::make_unique<CountsToMainWindow>(loop_);
  KivDB::SetEventSink(counts_sink_.get());
  main_window_->OnInitDialog();
  view_->ShowWindow(options_.show);
}

// Stops every agent (before the database closes) and hands the loop back.
void CKivClientApp::DestroyMainWindow() {
  if (!main_window_) return;
  main_window_->DestroyWindow();
  // Every agent has stopped: nothing adds records any more.
  KivDB::SetEventSink(nullptr);
  counts_sink_.reset();
  remote_.SetController(nullptr);
  loop_.SetHandler([this](Message& message) {
    if (!remote_.OnMessage(message)) OnMessage(message);
  });
  main_window_.reset();
  view_.reset();
}

void CKivClientApp::OnMessage(Message& message) {
  switch (message.id) {
    case WM_CLOSE:
      loop_.Quit(1);
      break;
    case WM_COMMAND:
      if (message.wParam == ID_CMD_CLOSE || message.wParam == ID_CMD_TRAY_CLOSE ||
          message.wParam == ID_CMD_SHUTDOWN) {
        loop_.Quit(1);
      } else if (message.wParam == ID_CMD_SHOW_ACTIVITY) {
        LogApp("Received command 1624 from another instance: no main window to show yet",
               LEVEL_INFO);
      }
      break;
    default:
      break;
  }
}
