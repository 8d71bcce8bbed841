#include "ui/account_page.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>

#include "app/agent_kinds.h"
#include "app/login_check.h"
#include "server/connectivity.h"
#include "server/server_session.h"
#include "ui/secure_text.h"
#include "ui/service_pages.h"

namespace {

constexpr const char* kHelpRegister =
    "If you have not yet registered for KIV, please click the Register button below:";
constexpr const char* kHelpNotValidated =
    "Your login credentials were unable to be validated. Please check that you are connected to "
    "the Internet and re-submit KIV login email and password or click the Register button below "
    "to register for KIV.";
constexpr const char* kHelpContinueRegistration =
    "Please continue the KIV registration process in your browser. When you have completed "
    "registration, return here and login above. Vornic will then begin to KIVify your "
    "collection and send the information to KIV.";
constexpr const char* kNotConnected = "You are not connected to KIV.";

// The state icons: a green disc with a tick (working), a red disc with a
// cross (not working), 16 pixels.
QPixmap StateIcon(bool working) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(working ? QColor(0x2e, 0x9d, 0x3a) : QColor(0xc8, 0x2a, 0x2a));
  p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  if (working) {
    p.drawPolyline(QPolygonF({QPointF(4.5, 8.5), QPointF(7, 11), QPointF(11.5, 5.5)}));
  } else {
    p.drawLine(QPointF(5, 5), QPointF(11, 11));
    p.drawLine(QPointF(11, 5), QPointF(5, 11));
  }
  return pixmap;
}

QLabel* Label(const char* id, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  if (id) label->setObjectName(QString::fromLatin1(id));
  return label;
}

}  // namespace

CAccountPage::CAccountPage(MessageLoop* loop, QWidget* parent) : QWidget(parent), loop_(loop) {
  setObjectName(QString::number(kTemplateId));

  auto* prompt =
      Label(nullptr, QStringLiteral("Please enter your KIV login email and password:"), this);
  auto* email_label = Label("1000", QStringLiteral("Email:"), this);
  email_label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  email_ = new QLineEdit(this);
  email_->setObjectName(QStringLiteral("1003"));
  auto* password_label = Label("1004", QStringLiteral("Password:"), this);
  password_label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  password_ = new QLineEdit(this);
  password_->setObjectName(QStringLiteral("1005"));
  password_->setEchoMode(QLineEdit::Password);
  // A screen reader names each box by its label.
  email_label->setBuddy(email_);
  password_label->setBuddy(password_);
  email_->setAccessibleName(QStringLiteral("Email"));
  password_->setAccessibleName(QStringLiteral("Password"));
  submit_ = new QPushButton(QStringLiteral("Submit"), this);
  submit_->setObjectName(QStringLiteral("1107"));
  submit_->setAutoDefault(false);
  submit_->setEnabled(false);

  auto* form = new QGridLayout;
  form->addWidget(email_label, 0, 0);
  form->addWidget(email_, 0, 1);
  form->addWidget(password_label, 1, 0);
  form->addWidget(password_, 1, 1);
  form->addWidget(submit_, 1, 2);
  form->setColumnStretch(1, 1);

  auto* status = new QGroupBox(QStringLiteral("Connection Status"), this);
  status->setObjectName(QStringLiteral("1136"));
  auto* lines = new QGridLayout(status);
  const char* icon_ids[] = {"1112", "1113", "1114"};
  const char* line_ids[] = {"1115", "1116", "1117"};
  for (int i = 0; i < 3; ++i) {
    icons_[i] = Label(icon_ids[i], QString(), status);
    icons_[i]->setFixedSize(16, 16);
    lines_[i] = Label(line_ids[i], QString(), status);
    lines_[i]->setWordWrap(true);
    icons_[i]->hide();
    lines_[i]->hide();
    lines->addWidget(icons_[i], i, 0);
    lines->addWidget(lines_[i], i, 1);
  }
  verifying_ = Label("1135", QStringLiteral("Verifying..."), status);
  verifying_->setAlignment(Qt::AlignCenter);
  lines->addWidget(verifying_, 3, 0, 1, 2);
  help_ = Label("1140", QString(), status);
  help_->setWordWrap(true);
  help_->hide();
  lines->addWidget(help_, 4, 0, 1, 2);
  register_ = new QPushButton(QStringLiteral("Register"), status);
  register_->setObjectName(QStringLiteral("1139"));
  register_->setAutoDefault(false);
  register_->hide();
  lines->addWidget(register_, 5, 0, 1, 2, Qt::AlignLeft);
  settings_link_ = new HyperlinkStatic(QStringLiteral("connection settings"),
                                       QLatin1String(HyperlinkStatic::kConnectionSettings), status);
  settings_link_->setObjectName(QStringLiteral("1124"));
  lines->addWidget(settings_link_, 6, 0, 1, 2, Qt::AlignRight);
  lines->setColumnStretch(1, 1);
  lines->setRowStretch(7, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  layout->addLayout(form);
  layout->addWidget(status, 1);

  // Only the user's edits enable Submit, not the page's own settings.
  connect(email_, &QLineEdit::textEdited, this, [this] { submit_->setEnabled(true); });
  connect(password_, &QLineEdit::textEdited, this, [this] { submit_->setEnabled(true); });
  connect(submit_, &QPushButton::clicked, this, &CAccountPage::Submit);
  connect(register_, &QPushButton::clicked, this, &CAccountPage::Register);

  held_user_ = GetUsername();
  held_password_ = !GetPassword().empty();
  email_->setText(QString::fromStdString(held_user_));
  if (held_password_) password_->setText(QLatin1String(kHiddenPassword));
}

void CAccountPage::OnConnectionMessage(const Message& message) {
  if (message.id == WM_CONNECTION_VERIFYING)
    ShowVerifying();
  else if (message.id == WM_CONNECTION_STATUS)
    ShowStatus();
}

void CAccountPage::Submit() {
  submit_->setEnabled(false);
  const std::string user = email_->text().trimmed().toStdString();
  // The box's own buffer is shared with `typed` until the box lets go of
  // it below; then it is overwritten here.
  QString typed = password_->text();
  if (typed == QLatin1String(kHiddenPassword)) {
    // The password already held stays in use: a pair still waiting for
    // its exchange keeps its password, otherwise the stored one is kept.
    std::string pending_user, pending_password;
    if (GetPendingCredentials(&pending_user, &pending_password))
      SetPendingCredentials(user, pending_password);
    else
      SetUsernameKeepingPassword(user);
    WipeText(pending_password);
  } else {
    // toStdString() would leave its UTF-8 byte array behind unwiped.
    QByteArray utf8 = typed.toUtf8();
    std::string password(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    WipeText(utf8);
    held_password_ = !password.empty();
    SetPendingCredentials(user, password);
    WipeText(password);
  }
  held_user_ = user;
  password_->setText(QLatin1String(kHiddenPassword));
  WipeText(typed);
  ShowVerifying();
}

void CAccountPage::Register() {
  help_->setText(QLatin1String(kHelpContinueRegistration));
  help_->show();
  QDesktopServices::openUrl(QUrl(QString::fromStdString(RegistrationPage())));
}

void CAccountPage::ShowVerifying() {
  for (int i = 0; i < 3; ++i) {
    icons_[i]->hide();
    lines_[i]->hide();
  }
  help_->hide();
  register_->hide();
  verifying_->show();
  if (loop_) loop_->PostMessage(WM_AGENT_REQUEST, ID_AGENT_CONNECTIONMON, 0);
}

void CAccountPage::SetLine(int line, const char* text, bool working) {
  lines_[line]->setText(QString::fromUtf8(text));
  icons_[line]->setPixmap(StateIcon(working));
  // The icon is read out as words; the line itself is its text.
  icons_[line]->setAccessibleName(working ? QStringLiteral("Working")
                                          : QStringLiteral("Not working"));
  working_[line] = working;
}

void CAccountPage::ShowStatus() {
  // The cached answers only: the GUI thread never waits on a network check.
  const bool stored = IsLoginAvailable();
  if (OnlineState == 1) {
    bool connected = false;
    switch (AuthState) {
      case 0:
        SetLine(1, "Login accepted", true);
        connected = true;
        break;
      case -1:
        SetLine(1, "Login credentials available", true);
        connected = true;
        break;
      case -2:
        SetLine(1, "Please enter your login (email) and password, then press submit.", false);
        password_->clear();
        break;
      case -3:
        SetLine(1, "Could not contact KIV server. Please check connection settings.", false);
        break;
      default:
        SetLine(1, "Unknown connection failure!", false);
        break;
    }
    SetLine(0, "Internet connection available.", true);
    SetLine(2, connected ? "You are currently connected to KIV." : kNotConnected, connected);
    submit_->setEnabled(!connected);
  } else {
    SetLine(0, "Internet connection not available", false);
    if (stored)
      SetLine(1, "Login credentials available", true);
    else
      SetLine(1, "Login credentials not available", false);
    SetLine(2, kNotConnected, false);
    submit_->setEnabled(stored);
  }
  verifying_->hide();
  for (int i = 0; i < 3; ++i) {
    icons_[i]->setVisible(stored);
    lines_[i]->setVisible(stored);
  }
  help_->setVisible(!stored);
  register_->setVisible(!stored);
  if (!stored)
    help_->setText(
        QLatin1String(!held_user_.empty() && held_password_ ? kHelpNotValidated : kHelpRegister));
}
