#include "ui/kiv_client_tab.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

// The account and folders pages are still to come; until then their tabs
// say what they will hold.
QWidget* PlaceholderPage(int template_id, const QString& text, QWidget* parent) {
  auto* page = new QWidget(parent);
  page->setObjectName(QString::number(template_id));
  auto* label = new QLabel(text, page);
  label->setObjectName(QStringLiteral("placeholder"));
  label->setAlignment(Qt::AlignCenter);
  label->setWordWrap(true);
  label->setEnabled(false);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(label);
  return page;
}

}  // namespace

CKivClientTab::CKivClientTab(QWidget* parent) : QTabWidget(parent) {
  setObjectName(QStringLiteral("1002"));
  account_page_ = PlaceholderPage(
      kAccountPageId, QStringLiteral("Your KIV login and connection state will be shown here."),
      this);
  folders_page_ = PlaceholderPage(
      kFoldersPageId, QStringLiteral("The music folders Vornic watches will be listed here."),
      this);
  status_page_ = new CStatusPage(this);
  addTab(account_page_, QStringLiteral("Login Info"));
  addTab(folders_page_, QStringLiteral("Music Folders"));
  addTab(status_page_, QStringLiteral("Activity Monitor"));
}

int CKivClientTab::FindPage(int template_id) const {
  for (int i = 0; i < count(); ++i)
    if (widget(i)->objectName() == QString::number(template_id)) return i;
  return -1;
}

void CKivClientTab::Forward(Message& message) {
  if (message.id >= WM_STATUS_PROGRESS_TEXT && message.id <= WM_STATUS_COUNTS)
    status_page_->OnStatusMessage(message);
  // WM_CONNECTION_VERIFYING and WM_CONNECTION_STATUS belong to the account
  // page, which has nothing to show yet.
}
