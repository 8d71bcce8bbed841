// CKivClientTester: the database tester (template 176), a maintenance
// dialog that shows the database record of any file and lets the user force
// a play, a history entry, a resend or a deletion report, resend every
// record, or start an update check.
//
// The tree (1125) is the file system from "/", opening at the first chosen
// music folder. The summary (1128) and the current file's record (1130)
// are shown again every 5 s. Every database call runs on the tester's
// worker (CTesterDatabase); the dialog only shows what comes back.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

#include "app/message_loop.h"
#include "platform/clock.h"
#include "ui/record_text.h"

class QFileSystemModel;
class QLineEdit;
class QModelIndex;
class QPlainTextEdit;
class QTreeView;
class CTesterDatabase;

class CKivClientTester : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kTemplateId = 176;
  static constexpr int kRefreshMs = 5000;

  // `main_window` receives the agent requests (not owned).
  CKivClientTester(MessageLoop* main_window, platform::Clock& clock, QWidget* parent = nullptr);
  ~CKivClientTester() override;

  // Selects `path` in the tree, as a click on it would.
  void SelectPath(const QString& path);
  const QString& current_file() const { return current_file_; }
  QTreeView* tree() { return tree_; }

 signals:
  // The record display changed (tests wait for the worker with it).
  void recordShown();
  void summaryShown();

 private:
  // A tree item (or a path not listed yet, with an invalid index) chosen.
  void OnPathSelected(const QString& path, const QModelIndex& index);
  void OnDirectoryLoaded(const QString& folder);
  void Refresh();
  void Change(TesterChange change);
  void SendAll();

  CTesterDatabase* db_;
  QFileSystemModel* model_;
  QTreeView* tree_;
  QPlainTextEdit* summary_;
  QLineEdit* path_;
  QPlainTextEdit* record_;
  QTimer refresh_;
  QString current_file_;
  // A path chosen before the model listed its folders.
  QString pending_;
};
