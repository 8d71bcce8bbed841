// CFoldersPage: the "Music Folders" page (template 9). The user chooses the
// folders Vornic searches for music (CFolderListCtrl, one check box per
// folder: checked = searched), removes them, opens one in the file manager
// and starts a search at once.
//
// Every change the user makes is saved at once, as a change of the list
// that is stored at that moment (ChangeSearchPaths: the folders the user
// added, removed or switched, in one rewrite of the settings), so a folder
// added or removed elsewhere meanwhile is kept. The controller is told by
// message (WM_SEARCH_PATHS_SAVED), so that it stops the agents and
// requests them again over the new list. A save that fails is said on the
// page, and the page shows the stored list again.
//
// The page shows the stored list whenever it is shown and whenever the
// list was saved from anywhere (the controller hands it that message back,
// OnSearchPathsSaved).
//
// GUI thread only; the loop (may be null) must outlive the page.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "app/message_loop.h"
#include "app/search_paths.h"

// The folder list: one checkable item per folder; a folder that does not
// exist is drawn in the grey text colour. The Delete key asks for removal.
class CFolderListCtrl : public QListWidget {
  Q_OBJECT
 public:
  explicit CFolderListCtrl(QWidget* parent = nullptr);

  // Appends `path` with its check box set to `enabled`.
  void AddFolder(const QString& path, bool enabled);
  bool Contains(const QString& path) const;
  // Draws each item grey or normal by whether its folder exists now.
  void UpdateColours();

 signals:
  void deletePressed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

class CFoldersPage : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kTemplateId = 9;

  explicit CFoldersPage(MessageLoop* loop, QWidget* parent = nullptr);

  // Clears the list and fills it from the settings; not a user change. The
  // selection is kept for the folders still listed.
  void Refill();
  // The list was saved, here or elsewhere: show the stored list.
  void OnSearchPathsSaved();
  // Add Folder: asks for a folder with the folder picker, then AddPath.
  void AddFolder();
  // Appends a picked folder, checked, and saves; false (and nothing saved)
  // when it is empty or already listed.
  bool AddPath(const QString& path);
  void DeleteSelected();
  void OpenFolder();
  void SearchAllNow();

  CFolderListCtrl* list() { return list_; }
  // The line that says a save failed (hidden otherwise).
  QLabel* error_line() { return error_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Saves the user's change of the list and tells the controller;
  // `search_now` also asks for the indexer at once.
  void Save(bool search_now = false);
  // The list as the items show it: key -> check box.
  SearchPathMap ShownList() const;
  void UpdateButtons();

  MessageLoop* loop_;
  CFolderListCtrl* list_;
  QPushButton* delete_;
  QPushButton* open_;
  QLabel* error_;
  // The stored list as the page last showed it: what the user's change is
  // measured against.
  SearchPathMap shown_;
  bool filling_ = false;
};
