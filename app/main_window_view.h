// MainWindowView: what the agent controller (CKivClientDlg) needs from the
// visible main window: its pages, the tray icon, the Disable/Enable button
// and a few dialogs. The Qt user interface implements it on the GUI
// thread; HeadlessMainWindow stands in when there is no display.
//
// Every call comes from the controller, on the thread that runs the main
// loop; none may block waiting for another thread.
#pragma once

#include <string>

#include "app/message_loop.h"
#include "app/messages.h"

// The tabs of the main window, in order.
enum class MainWindowPage { kLoginInfo = 0, kMusicFolders = 1, kActivityMonitor = 2 };

// "Login Info", "Music Folders", "Activity Monitor".
const char* MainWindowPageName(MainWindowPage page);

class MainWindowView {
 public:
  virtual ~MainWindowView() = default;

  // Shows the window (start-up with the show flag), or minimises and
  // hides it (Hide button, minimise).
  virtual void ShowWindow(bool show) = 0;
  // Shows the window, brings it to the front and selects `page`; `command`
  // is the WM_COMMAND id that asked for it.
  virtual void ShowPage(MainWindowPage page, WPARAM command) = 0;
  // The About box, modal.
  virtual void ShowAbout() = 0;
  // Opens the user's KIV page in the default browser.
  virtual void LaunchMyKiv() = 0;
  virtual void OpenDatabaseTester() = 0;

  // Caption of the Disable/Enable button (control 1137).
  virtual void SetAgentsButtonText(const std::string& text) = 0;
  virtual void SetTrayTooltip(const std::string& text) = 0;
  // A tray balloon. With `count` it is an update notice: a click on it
  // while it is out posts WM_UPDATE_ACCEPTED.
  virtual void ShowBalloon(const std::string& text, bool count) = 0;
  // WM_USER+100 other than the close request: icon id and mouse message.
  virtual void OnTrayNotification(WPARAM icon, LPARAM mouse) = 0;
  virtual void RemoveTrayIcon() = 0;

  // Page messages: WM_STATUS_PROGRESS_TEXT ... WM_STATUS_COUNTS,
  // WM_CONNECTION_VERIFYING / WM_CONNECTION_STATUS, and
  // WM_SEARCH_PATHS_SAVED once the controller has handled it. The view may
  // move the payload (the text) out.
  virtual void ForwardToPages(Message& message) = 0;
};

// True for the messages that ForwardToPages takes.
bool IsPageMessage(UINT id);
