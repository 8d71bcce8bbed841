#include "ui/main_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>

#include "app/string_table.h"
#include "ui/about_box.h"
#include "ui/app_icon.h"
#include "ui/db_tester.h"
#include "ui/qt_message_box.h"
#include "ui/service_pages.h"
#include "ui/tester_database.h"

namespace {

// The background notice on a desktop without a notification area.
constexpr const char* kRunsInBackgroundNoTray =
    "Vornic will run in the background from here.\r\nYou can open its window again from the "
    "application menu or with \"vornic --show\".";
// Follows the first line of an update notice there.
constexpr const char* kOfferOnStatusPage =
    "\r\nThe Activity Monitor page of the Vornic window offers it.";

}  // namespace

CKivClientWindow::CKivClientWindow(MessageLoop& loop, QtMessageBoxHost* host,
                                   platform::Clock& clock)
    : loop_(loop), host_(host), clock_(clock), bridge_(loop) {
  setObjectName(QStringLiteral("102"));
  setWindowTitle(QStringLiteral("Vornic"));
  setWindowIcon(AppIcon());

  tray_.SetNotificationWnd(&loop_, WM_TRAY_NOTIFY);
  tray_.SetIcon(AppIcon());
  tray_.SetTooltipText("");

  tab_ = new CKivClientTab(&loop_, this);
  tab_->status_page()->SetJobListener(
      [this](const std::string& description) { tray_.SetTooltipText(description); });
  connect(tab_->status_page()->update_offer(), &CUpdateOffer::accepted, this,
          [this] { Post(WM_UPDATE_ACCEPTED, 0); });

  version_ = new QLabel(VersionText(), this);
  version_->setObjectName(QStringLiteral("1143"));
  version_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QPushButton* hide = Button("1", "Hide", WM_COMMAND, ID_CMD_HIDE);
  hide->setDefault(true);
  QPushButton* launch = Button("1144", "Launch My KIV", WM_COMMAND, ID_CMD_LAUNCH_MY_KIV);
  agents_button_ = Button("1137", "Disable", WM_COMMAND, ID_CMD_AGENTS_TOGGLE);
  QPushButton* about = Button("16", "&About Vornic", WM_SYSCOMMAND, SC_ABOUT_FIRST);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(launch);
  bottom->addWidget(agents_button_);
  bottom->addWidget(about);
  bottom->addStretch(1);
  bottom->addWidget(version_);
  bottom->addWidget(hide);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tab_, 1);
  layout->addLayout(bottom);
  resize(600, 440);

  auto* tester = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+D")), this);
  tester->setContext(Qt::WindowShortcut);
  connect(tester, &QShortcut::activated, this, [this] { Post(WM_OPEN_DB_TESTER, 0); });
}

CKivClientWindow::~CKivClientWindow() {
  if (host_) host_->Close();
  delete tester_;
  CTesterDatabase::WaitForAll();
}

QPushButton* CKivClientWindow::Button(const char* id, const char* text, UINT message,
                                      WPARAM command) {
  auto* button = new QPushButton(QString::fromUtf8(text), this);
  button->setObjectName(QString::fromLatin1(id));
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this,
          [this, message, command] { Post(message, command); });
  return button;
}

void CKivClientWindow::Post(UINT id, WPARAM wParam) { loop_.PostMessage(id, wParam, 0); }

bool CKivClientWindow::TrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void CKivClientWindow::ShowWindow(bool show) {
  const bool start = !started_;
  started_ = true;
  if (show || (start && !TrayAvailable())) {
    showNormal();
    raise();
    activateWindow();
  } else if (!TrayAvailable()) {
    // Hidden, the window could not be found again.
    showMinimized();
  } else {
    hide();
  }
}

void CKivClientWindow::ShowPage(MainWindowPage page, WPARAM) {
  started_ = true;
  tab_->setCurrentIndex(static_cast<int>(page));
  showNormal();
  raise();
  activateWindow();
}

void CKivClientWindow::ShowAbout() {
  if (!about_) {
    about_ = new CAboutDlg(this);
    about_->setAttribute(Qt::WA_DeleteOnClose);
    about_->setWindowModality(Qt::ApplicationModal);
  }
  about_->show();
  about_->raise();
  about_->activateWindow();
}

void CKivClientWindow::LaunchMyKiv() {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(MyKivPage())));
}

void CKivClientWindow::OpenDatabaseTester() {
  if (!tester_) {
    tester_ = new CKivClientTester(&loop_, clock_, this);
    tester_->setAttribute(Qt::WA_DeleteOnClose);
    tester_->setWindowModality(Qt::ApplicationModal);
  }
  tester_->show();
  tester_->raise();
  tester_->activateWindow();
}

void CKivClientWindow::SetAgentsButtonText(const std::string& text) {
  agents_button_->setText(QString::fromStdString(text));
}

void CKivClientWindow::SetTrayTooltip(const std::string& text) { tray_.SetTooltipText(text); }

void CKivClientWindow::ShowBalloon(const std::string& text, bool count) {
  if (TrayAvailable()) {
    tray_.ShowBalloon(text, count);
    return;
  }
  // Without an icon there is nothing to right-click, and a desktop
  // notification cannot be clicked: an offered update waits on the status
  // page for a Yes or No.
  std::string notice = text;
  if (count) {
    // "Click for details." would ask for the impossible.
    const std::string offer = text.substr(0, text.find('\r'));
    tab_->status_page()->update_offer()->Offer(offer);
    notice = offer + kOfferOnStatusPage;
  } else if (text == LoadStringResource(IDS_RUNS_IN_BACKGROUND)) {
    notice = kRunsInBackgroundNoTray;
  }
  tray_.ShowBalloon(notice, false);
}

void CKivClientWindow::OnTrayNotification(WPARAM icon, LPARAM mouse) {
  tray_.OnTrayNotification(icon, mouse);
}

void CKivClientWindow::RemoveTrayIcon() {
  tray_.SetIcon(QIcon());
  // The window is going away: an agent waiting on a question gets its safe
  // answer instead of holding up the shutdown.
  if (host_) host_->Close();
}

void CKivClientWindow::ForwardToPages(Message& message) { tab_->Forward(message); }

void CKivClientWindow::closeEvent(QCloseEvent* event) {
  // The close box ends the program, as the shutdown command does.
  event->ignore();
  Post(WM_CLOSE, 0);
}

void CKivClientWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    Post(WM_SYSCOMMAND, SC_MINIMIZE);
    return;
  }
  QWidget::keyPressEvent(event);
}

void CKivClientWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayAvailable())
    Post(WM_SYSCOMMAND, SC_MINIMIZE);
}
