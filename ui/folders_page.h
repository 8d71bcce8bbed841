// CFoldersPage: the "Music Folders" page (template 9). The user chooses the
// folders Vornic searches for music (CFolderListCtrl, one check box per
// folder: checked = searched), removes them, opens one in the file manager
// and starts a search at once.
//
// Every change the user makes is saved at once: the list goes to the
// settings (SaveSearchPaths), the finished-index marks are cleared and the
// controller is told by message (WM_SEARCH_PATHS_SAVED), so that it stops
// the agents and requests them again over the new list.
//
// GUI thread only; the loop (may be null) must outlive the page.
#pragma once

#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "app/message_loop.h"

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

  // Clears the list and fills it from the settings; not a user change.
  void Refill();
  // Add Folder: asks for a folder with the folder picker, then AddPath.
  void AddFolder();
  // Appends a picked folder, checked, and saves; false (and nothing saved)
  // when it is empty or already listed.
  bool AddPath(const QString& path);
  void DeleteSelected();
  void OpenFolder();
  void SearchAllNow();

  CFolderListCtrl* list() { return list_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Saves the list and tells the controller; `search_now` also asks for
  // the indexer at once.
  void Save(bool search_now = false);
  void UpdateButtons();

  MessageLoop* loop_;
  CFolderListCtrl* list_;
  QPushButton* delete_;
  QPushButton* open_;
  bool filling_ = false;
};
