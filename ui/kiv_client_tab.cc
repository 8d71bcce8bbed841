#include "ui/kiv_client_tab.h"

#include <QKeyEvent>

CKivClientTab::CKivClientTab(MessageLoop* loop, QWidget* parent) : QTabWidget(parent) {
  setObjectName(QStringLiteral("1002"));
  account_page_ = new CAccountPage(loop, this);
  folders_page_ = new CFoldersPage(loop, this);
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
  else if (message.id == WM_CONNECTION_VERIFYING || message.id == WM_CONNECTION_STATUS)
    account_page_->OnConnectionMessage(message);
  else if (message.id == WM_SEARCH_PATHS_SAVED)
    folders_page_->OnSearchPathsSaved();
}

void CKivClientTab::keyPressEvent(QKeyEvent* event) {
  // A key no control of a page took ends here: Enter and Escape neither
  // press a button nor hide the window.
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QTabWidget::keyPressEvent(event);
  }
}
