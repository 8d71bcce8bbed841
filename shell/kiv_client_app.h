// CKivClientApp: brings the process up, makes sure one copy runs per user
// session, configures the settings store and the log, runs the main message
// loop and takes everything down again in reverse order, writing the stop
// banner after every start banner.
//
// Until the main window exists the application object handles the main
// loop's messages itself: the shutdown commands (and SIGINT/SIGTERM, which
// post WM_CLOSE) end the loop, and command 1624 from a second start is
// logged. The database, the identification loader, the tag-reader reference
// and the main window join at the named steps below.
//
// Thread safety: one object per process, used on the main thread only;
// loop() may be posted to from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window_view.h"
#include "app/message_loop.h"
#include "platform/signals.h"
#include "platform/single_instance.h"
#include "platform/win_types.h"
#include "shell/command_line.h"
#include "shell/remote_commands.h"

class CKivClientDlg;
class DbEventSink;
class CTagReaderRef;

// The version string of the banners and --version.
extern const char* const kKivClientVersion;

inline constexpr const char* kLogFileName = "kivclient.log";
inline constexpr const char* kInstanceRefusal =
    "Another instance of the KIV client is currently running.  Only one instance of the KIV "
    "Client is permitted to run at once.";

// The log file path for the LogFileName setting `value`: empty → the data
// folder's kivclient.log; an existing folder → that folder and
// kivclient.log joined by one '/'; a value with a '/' → unchanged; a bare
// name → that name in the data folder (or, if that names a folder there,
// kivclient.log inside it).
std::string ResolveLogPath(const std::string& value, const std::string& data_dir);

// Makes the view of the main window once start-up reaches it; the view may
// post the user's commands to `loop`.
using MainWindowFactory =
    std::function<std::unique_ptr<MainWindowView>(MessageLoop& loop, const CommandLineOptions&)>;

class CKivClientApp {
 public:
  // `args` without the program name. Without `make_view` the main window is
  // the headless one.
  explicit CKivClientApp(std::vector<std::string> args, MainWindowFactory make_view = {});
  ~CKivClientApp();
  CKivClientApp(const CKivClientApp&) = delete;
  CKivClientApp& operator=(const CKivClientApp&) = delete;

  // Start-up, main loop, shutdown; returns the process exit code.
  int Main();

  MessageLoop& loop() { return loop_; }
  const CommandLineOptions& options() const { return options_; }

 private:
  // Start-up; always returns FALSE, so that ExitInstance follows at once
  // (after the main loop, or after a failed step).
  BOOL InitInstance();
  int ExitInstance();

  void ConfigureLog();
  void ReportRegistryDamage();
  BOOL CheckSingleInstance();

  // The local media database joins here: set its path in the data folder,
  // open or create the file, load the index. FALSE ends start-up.
  BOOL InitDatabase();
  // Empties the index and deletes the database lock, if it was initialised.
  void ShutdownDatabase();
  // The identification component loader joins here (created with the
  // program folder) and is unloaded and deleted at exit.
  void CreateIdentificationLoader();
  void UnloadIdentificationLoader();
  // The tag-reader reference joins here: held from before the main window
  // is created until after it is destroyed.
  void AcquireTagReader();
  void ReleaseTagReader();
  // The main window (the agent controller) joins here: created hidden
  // unless the show flag is set, it then becomes the loop's handler.
  void CreateMainWindow();
  void DestroyMainWindow();

  // Handles the main loop's messages while there is no main window.
  void OnMessage(Message& message);

  std::vector<std::string> args_;
  CommandLineOptions options_;
  MainWindowFactory make_view_;
  MessageLoop loop_;
  std::unique_ptr<platform::SignalWatcher> signals_;
  // Answers the set-up options of later starts; declared before instance_,
  // whose listener calls it.
  RemoteCommands remote_{loop_};
  std::unique_ptr<platform::SingleInstance> instance_;
  bool database_ready_ = false;
  // Non-zero when start-up was refused (the data folder is not safe).
  int exit_code_ = 0;
  bool loader_created_ = false;
  // The main window: its view (made by make_view_) and the agent controller
  // behind it.
  std::unique_ptr<MainWindowView> view_;
  std::unique_ptr<CKivClientDlg> main_window_;
  // Posts WM_STATUS_COUNTS to the main window when the database's counts
  // change; installed while the main window exists.
  std::unique_ptr<DbEventSink> counts_sink_;
  // Keeps the tag reader initialised (its supported-extension list filled)
  // while the agents run.
  std::unique_ptr<CTagReaderRef> tag_reader_;
};
