// CAccountPage: the "Login Info" page (template 142). The user types the
// e-mail address and password of the KIV account here and sees whether the
// internet, the login and the server connection work.
//
// The page never talks to the server: Submit hands a typed pair to the
// server session as pending credentials (or, with the password box left at
// "********", only changes the user name), then asks the controller by
// message to run the connection monitor, whose WM_CONNECTION_STATUS brings
// the new state back (OnConnectionMessage).
//
// A typed password stays in the box only until Submit: it is handed to the
// session, the page's copies and the box's buffer are overwritten, and the
// box shows "********" again.
//
// GUI thread only; the loop (may be null) must outlive the page.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <string>

#include "app/message_loop.h"
#include "ui/hyperlink_static.h"

class CAccountPage : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kTemplateId = 142;
  // What the password box shows for a password that is held but never shown.
  static constexpr const char* kHiddenPassword = "********";

  explicit CAccountPage(MessageLoop* loop, QWidget* parent = nullptr);

  // WM_CONNECTION_VERIFYING or WM_CONNECTION_STATUS.
  void OnConnectionMessage(const Message& message);
  void Submit();
  void Register();

  // Whether the state icon of line `line` (0 internet, 1 login, 2 server)
  // shows "working".
  bool LineWorking(int line) const { return working_[line]; }

 private:
  void ShowVerifying();
  void ShowStatus();
  void SetLine(int line, const char* text, bool working);

  MessageLoop* loop_;
  QLineEdit* email_;
  QLineEdit* password_;
  QPushButton* submit_;
  std::array<QLabel*, 3> icons_{};
  std::array<QLabel*, 3> lines_{};
  std::array<bool, 3> working_{};
  HyperlinkStatic* settings_link_;
  QLabel* verifying_;
  QPushButton* register_;
  QLabel* help_;
  // The user name and whether a password are held: the stored ones at
  // first, the last submitted pair afterwards. The password itself is not
  // kept here.
  std::string held_user_;
  bool held_password_ = false;
};
