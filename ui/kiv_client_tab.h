// CKivClientTab: the main window's tab control (id 1002) with its three
// pages in order: the account page (template 142, "Login Info"), the
// folders page (template 9, "Music Folders") and the status page (template
// 170, "Activity Monitor"). It hands the status messages to the status
// page and the connection messages to the account page. Enter and Escape
// are swallowed on every page.
//
// GUI thread only.
#pragma once

#include <QTabWidget>

#include "app/message_loop.h"
#include "ui/account_page.h"
#include "ui/folders_page.h"
#include "ui/status_page.h"

class CKivClientTab : public QTabWidget {
  Q_OBJECT
 public:
  static constexpr int kAccountPageId = 142;
  static constexpr int kFoldersPageId = 9;

  // The pages post their requests to `loop` (may be null).
  explicit CKivClientTab(MessageLoop* loop, QWidget* parent = nullptr);

  // Tab index of the page with template `id`; -1 when there is none.
  int FindPage(int template_id) const;
  // WM_STATUS_* to the status page, WM_CONNECTION_* to the account page,
  // WM_SEARCH_PATHS_SAVED to the folders page.
  void Forward(Message& message);

  CStatusPage* status_page() { return status_page_; }
  CAccountPage* account_page() { return account_page_; }
  CFoldersPage* folders_page() { return folders_page_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  CAccountPage* account_page_;
  CFoldersPage* folders_page_;
  CStatusPage* status_page_;
};
