// CKivClientWindow: the face of the main window CKivClientDlg, on Qt
// Widgets. The agent controller (CKivClientDlg) drives it through
// MainWindowView; the window answers only by posting messages to the
// controller's loop (its buttons, the tray, Control+Shift+D), so it never
// calls into the controller and never waits on it.
//
// Controls keep their design ids as object names: the tab control 1002,
// Hide 1, Launch My KIV 1144, Disable/Enable 1137, the version 1143 and
// "&About Vornic" 16 (the system menu's item, a button here since a Qt
// window has no system menu of its own).
//
// Without a notification area (QSystemTrayIcon::isSystemTrayAvailable()
// false) the window is the way in: it is shown at start, and Hide and
// minimise leave it minimised instead of hidden.
//
// GUI thread only; the loop must outlive the window.
#pragma once

#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <atomic>
#include <memory>

#include "app/main_window_view.h"
#include "platform/clock.h"
#include "ui/about_box.h"
#include "ui/db_tester.h"
#include "ui/kiv_client_tab.h"
#include "ui/loop_bridge.h"
#include "ui/tray_icon.h"

class QLabel;
class QtMessageBoxHost;

class CKivClientWindow : public QWidget, public MainWindowView {
  Q_OBJECT
 public:
  // `host` (may be null) is closed when the window goes away, so that no
  // agent keeps waiting on a box.
  explicit CKivClientWindow(MessageLoop& loop, QtMessageBoxHost* host = nullptr,
                            platform::Clock& clock = platform::SystemClock());
  ~CKivClientWindow() override;

  // MainWindowView
  void ShowWindow(bool show) override;
  void ShowPage(MainWindowPage page, WPARAM command) override;
  void ShowAbout() override;
  void LaunchMyKiv() override;
  void OpenDatabaseTester() override;
  void SetAgentsButtonText(const std::string& text) override;
  void SetTrayTooltip(const std::string& text) override;
  void ShowBalloon(const std::string& text, bool count) override;
  void OnTrayNotification(WPARAM icon, LPARAM mouse) override;
  void RemoveTrayIcon() override;
  void ForwardToPages(Message& message) override;

  // Whether a notification area shows the tray icon.
  static bool TrayAvailable();

  CKivClientTab* tab() { return tab_; }
  CTrayIcon* tray() { return &tray_; }
  CKivClientTester* tester() { return tester_; }
  CAboutDlg* about() { return about_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QPushButton* Button(const char* id, const char* text, UINT message, WPARAM command);
  void Post(UINT id, WPARAM wParam);

  MessageLoop& loop_;
  QtMessageBoxHost* host_;
  platform::Clock& clock_;
  QtLoopBridge bridge_;
  CTrayIcon tray_;
  CKivClientTab* tab_;
  QPushButton* agents_button_;
  QLabel* version_;
  QPointer<CKivClientTester> tester_;
  QPointer<CAboutDlg> about_;
  bool started_ = false;
};
