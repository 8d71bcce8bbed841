// CAboutDlg: the About box (dialog 100): the application icon, the version
// (static 1057), the description, a framed notice and a link (1123) to the
// service's home page.
//
// GUI thread only.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

// "Version %S" filled with the program version (string 101).
QString VersionText();
