#include "ui/tray_icon.h"

#include <QProcess>
#include <QStandardPaths>

#include "app/log.h"
#include "server/connectivity.h"
#include "ui/display_text.h"

namespace {

struct MenuItem {
  WPARAM command;
  const char* text;
};

// Menu resource 173; a zero command is the separator.
constexpr MenuItem kMenu[] = {
    {ID_CMD_SHOW_LOGIN, "Login Info"},        {ID_CMD_SHOW_FOLDERS, "Add/Delete Music Folders"},
    {ID_CMD_SHOW_STATUS, "Activity Monitor"}, {0, nullptr},
    {ID_CMD_ABOUT, "&About Vornic"},          {ID_CMD_SHUTDOWN, "S&hutdown Vornic"},
};

// Without a notification area a balloon becomes a desktop notification.
void ShowDesktopNotice(const QString& title, const QString& text) {
  const QString tool = QStandardPaths::findExecutable(QStringLiteral("notify-send"));
  if (tool.isEmpty() || !QProcess::startDetached(tool, {QStringLiteral("--app-name=Vornic"),
                                                        DisplayText(title), DisplayText(text)}))
    AppLog().Log(DisplayText(text).replace('\n', ' ').toStdString(), LEVEL_INFO,
                 MODULE_APPLICATION);
}

}  // namespace

CTrayIcon::CTrayIcon(UINT icon_id, QObject* parent)
    : QObject(parent),
      icon_id_(icon_id),
      base_tooltip_(QStringLiteral("Vornic")),  // string 195
      tooltip_(base_tooltip_) {
  BuildMenu();
  icon_.setContextMenu(&menu_);
  icon_.setToolTip(tooltip_);
  connect(&menu_, &QMenu::aboutToShow, this, &CTrayIcon::MarkDefaultItem);
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::Trigger) Notify(NIN_SELECT);
    if (r == QSystemTrayIcon::DoubleClick) Notify(WM_LBUTTONDBLCLK);
    if (r == QSystemTrayIcon::Context) Notify(WM_RBUTTONUP);
  });
  connect(&icon_, &QSystemTrayIcon::messageClicked, this, [this] { Notify(NIN_BALLOONUSERCLICK); });
}

CTrayIcon::~CTrayIcon() { SetIcon(QIcon()); }

void CTrayIcon::BuildMenu() {
  menu_.setObjectName(QStringLiteral("173"));
  for (const MenuItem& item : kMenu) {
    if (!item.command) {
      menu_.addSeparator();
      continue;
    }
    QAction* action = menu_.addAction(QString::fromUtf8(item.text));
    action->setObjectName(QString::number(item.command));
    const WPARAM command = item.command;
    connect(action, &QAction::triggered, this, [this, command] { Post(WM_COMMAND, command, 0); });
  }
}

void CTrayIcon::SetNotificationWnd(MessageLoop* loop, UINT message) {
  loop_ = loop;
  message_ = message;
}

void CTrayIcon::SetIcon(const QIcon& icon) {
  if (icon.isNull()) {
    if (icon_.isVisible()) icon_.hide();
    icon_.setIcon(QIcon());
    return;
  }
  icon_.setIcon(icon);
  if (!icon_.isVisible()) icon_.show();
}

void CTrayIcon::SetTooltipText(const std::string& text) {
  QString tip = base_tooltip_;
  if (!text.empty()) tip += QStringLiteral("\r\n") + QString::fromStdString(text);
  tooltip_ = tip.left(kTooltipLength);
  icon_.setToolTip(DisplayText(tooltip_));
}

void CTrayIcon::ShowBalloon(const std::string& text, bool count) {
  const QString body = QString::fromStdString(text).left(kBalloonLength);
  const QString title = tooltip_.left(kBalloonTitleLength);
  if (QSystemTrayIcon::isSystemTrayAvailable() && icon_.isVisible())
    icon_.showMessage(DisplayText(title), DisplayText(body), QSystemTrayIcon::Information,
                      kBalloonTimeoutMs);
  else
    ShowDesktopNotice(title, body);
  if (!count) return;
  const int serial = next_serial_++;
  pending_.insert(serial);
  // The balloon is gone after its time-out whether or not anyone saw it;
  // one that was clicked or closed already is not counted again.
  QTimer::singleShot(balloon_timeout_ms_, this, [this, serial] { pending_.erase(serial); });
}

WPARAM CTrayIcon::DefaultCommand() {
  return AuthState.load() == 0 ? ID_CMD_SHOW_STATUS : ID_CMD_SHOW_LOGIN;
}

void CTrayIcon::MarkDefaultItem() {
  const QString wanted = QString::number(DefaultCommand());
  for (QAction* action : menu_.actions()) {
    QFont font = action->font();
    font.setBold(action->objectName() == wanted);
    action->setFont(font);
    if (action->objectName() == wanted) menu_.setDefaultAction(action);
  }
}

bool CTrayIcon::OnTrayNotification(WPARAM icon, LPARAM mouse) {
  if (!pending_.empty()) {
    // While an update notice is out, a click on it or on the icon accepts it.
    const bool click =
        mouse == NIN_BALLOONUSERCLICK || mouse == WM_LBUTTONDOWN || mouse == NIN_SELECT;
    if (click) Post(WM_UPDATE_ACCEPTED, 0, 0);
    // The oldest balloon is the one the system shows or dropped first.
    if (mouse == NIN_BALLOONHIDE || mouse == NIN_BALLOONTIMEOUT || mouse == NIN_BALLOONUSERCLICK)
      pending_.erase(pending_.begin());
    return false;
  }
  if (icon != icon_id_) return false;
  if (mouse == WM_RBUTTONUP) {
    // The system shows the menu itself on a right click; it only needs the
    // default item marked, which aboutToShow does as well.
    MarkDefaultItem();
    return true;
  }
  if (mouse == WM_LBUTTONDBLCLK || mouse == NIN_SELECT) {
    Post(WM_COMMAND, DefaultCommand(), 0);
    return true;
  }
  return false;
}

void CTrayIcon::Notify(LPARAM mouse) { Post(message_, icon_id_, mouse); }

void CTrayIcon::Post(UINT id, WPARAM wParam, LPARAM lParam) {
  if (loop_ && id) loop_->PostMessage(id, wParam, lParam);
}
