// QtSession: the user interface's part of the process, for the entry
// point: whether there is a display, the QApplication, and the message-box
// host that start-up and the agents use while it exists. The main window
// itself (CKivClientWindow) is made by MakeMainWindow when start-up asks
// for it.
//
// Main (GUI) thread only; create before CKivClientApp and destroy after it.
#pragma once

#include <memory>

#include "app/main_window_view.h"
#include "app/message_loop.h"

class QApplication;
class QtMessageBoxHost;

class QtSession {
 public:
  // True when a Qt platform can show windows here: a Wayland or X display
  // is named, or QT_QPA_PLATFORM chooses one.
  static bool DisplayAvailable();

  QtSession(int& argc, char** argv);
  ~QtSession();
  QtSession(const QtSession&) = delete;
  QtSession& operator=(const QtSession&) = delete;

  // The visible main window, driven through the controller's `loop`.
  std::unique_ptr<MainWindowView> MakeMainWindow(MessageLoop& loop);

 private:
  std::unique_ptr<QApplication> app_;
  std::unique_ptr<QtMessageBoxHost> host_;
};
