#include "app/main_window_view.h"

const char* MainWindowPageName(MainWindowPage page) {
  switch (page) {
    case MainWindowPage::kLoginInfo:
      return "Login Info";
    case MainWindowPage::kMusicFolders:
      return "Music Folders";
    case MainWindowPage::kActivityMonitor:
      return "Activity Monitor";
  }
  return "";
}

bool IsPageMessage(UINT id) {
  return (id >= WM_STATUS_PROGRESS_TEXT && id <= WM_STATUS_COUNTS) ||
         id == WM_CONNECTION_VERIFYING || id == WM_CONNECTION_STATUS;
}
