// CKivClientTab: the main window's tab control (id 1002) with its three
// pages in order: the account page (template 142, "Login Info"), the
// folders page (template 9, "Music Folders") and the status page (template
// 170, "Activity Monitor"). It hands the status messages to the status
// page and the connection messages to the account page.
//
// GUI thread only.
#pragma once

#include <QTabWidget>

#include "app/message_loop.h"
#include "ui/status_page.h"

class CKivClientTab : public QTabWidget {
  Q_OBJECT
 public:
  static constexpr int kAccountPageId = 142;
  static constexpr int kFoldersPageId = 9;

  explicit CKivClientTab(QWidget* parent = nullptr);

  // Tab index of the page with template `id`; -1 when there is none.
  int FindPage(int template_id) const;
  // WM_STATUS_* to the status page, WM_CONNECTION_* to the account page.
  void Forward(Message& message);

  CStatusPage* status_page() { return status_page_; }
  QWidget* account_page() { return account_page_; }
  QWidget* folders_page() { return folders_page_; }

 private:
  QWidget* account_page_;
  QWidget* folders_page_;
  CStatusPage* status_page_;
};
