// CTrayIcon: the program's icon in the notification area, with its menu,
// tooltip and balloons, on QSystemTrayIcon.
//
// Mouse activity on the icon and balloon clicks reach the controller as
// WM_TRAY_NOTIFY messages (icon id, mouse message) posted to its loop; the
// controller hands them back to OnTrayNotification, which keeps the count
// of pending balloons, opens the menu's default command on a click or a
// double-click and posts WM_UPDATE_ACCEPTED when a pending update balloon
// (or, while one is out, the icon) is clicked.
// Menu commands are posted as WM_COMMAND with the design's command ids.
//
// When the desktop has no notification area (plain GNOME, the offscreen
// platform), balloons go out as desktop notifications instead.
//
// GUI thread only.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <set>
#include <string>

#include "app/message_loop.h"

// Mouse and balloon messages of a notification icon. NIN_SELECT is one
// activation of the icon (a click, or Enter on it), the only thing that
// StatusNotifierItem hosts (most current desktops) report for a click.
inline constexpr LPARAM NIN_SELECT = WM_USER + 0;
inline constexpr LPARAM WM_LBUTTONDOWN = 0x0201;
inline constexpr LPARAM WM_LBUTTONDBLCLK = 0x0203;
inline constexpr LPARAM WM_RBUTTONUP = 0x0205;
inline constexpr LPARAM NIN_BALLOONHIDE = WM_USER + 3;
inline constexpr LPARAM NIN_BALLOONTIMEOUT = WM_USER + 4;
inline constexpr LPARAM NIN_BALLOONUSERCLICK = WM_USER + 5;

class CTrayIcon : public QObject {
  Q_OBJECT
 public:
  // The id of the main window's icon and of string 195, its base tooltip.
  static constexpr UINT kIconId = 195;
  static constexpr int kTooltipLength = 128;
  static constexpr int kBalloonLength = 256;
  static constexpr int kBalloonTitleLength = 64;
  static constexpr int kBalloonTimeoutMs = 30000;

  explicit CTrayIcon(UINT icon_id = kIconId, QObject* parent = nullptr);
  ~CTrayIcon() override;

  // Where mouse notifications go: `loop` receives `message` (not owned).
  void SetNotificationWnd(MessageLoop* loop, UINT message);
  // Shows the icon (adds it the first time, else changes it); a null icon
  // removes it.
  void SetIcon(const QIcon& icon);
  // Tooltip = "Vornic", plus CR LF and `text` when `text` is not empty; cut
  // to 128 characters.
  void SetTooltipText(const std::string& text);
  // A balloon with `text` (cut to 256) titled with the tooltip (cut to 64),
  // shown for 30 s. With `count`, a pending balloon is counted until it is
  // clicked, closed or times out, whichever comes first (once).
  void ShowBalloon(const std::string& text, bool count);
  // How long a balloon counts as out (tests shorten it).
  void SetBalloonTimeout(int ms) { balloon_timeout_ms_ = ms; }
  // Handles one notification; false when not handled.
  bool OnTrayNotification(WPARAM icon, LPARAM mouse);

  // The menu's default command: Activity Monitor after a successful
  // authentication, else Login Info.
  static WPARAM DefaultCommand();

  const QString& tooltip() const { return tooltip_; }
  int pending_balloons() const { return static_cast<int>(pending_.size()); }
  bool visible() const { return icon_.isVisible(); }
  QMenu* menu() { return &menu_; }
  QSystemTrayIcon* system_icon() { return &icon_; }

 private:
  void BuildMenu();
  void MarkDefaultItem();
  void Notify(LPARAM mouse);
  void Post(UINT id, WPARAM wParam, LPARAM lParam);

  UINT icon_id_;
  MessageLoop* loop_ = nullptr;
  UINT message_ = 0;
  QSystemTrayIcon icon_;
  QMenu menu_;
  QString base_tooltip_;
  QString tooltip_;
  // The counted balloons still out, by serial, oldest first.
  std::set<int> pending_;
  int next_serial_ = 0;
  int balloon_timeout_ms_ = kBalloonTimeoutMs;
};
