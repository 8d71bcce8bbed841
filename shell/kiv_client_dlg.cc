// The window half of CKivClientDlg: initialisation, the message map, the
// commands that reach the main window, system sleep and shutdown.
#include "shell/kiv_client_dlg.h"

#include <atomic>

#include "app/controller_state.h"
#include "app/format.h"
#include "app/log.h"
#include "app/login_check.h"
#include "app/message_box.h"
#include "app/reg_settings.h"
#include "app/string_table.h"

namespace {

// Bit of the Notified setting: the "runs in the background" balloon was
// shown.
constexpr DWORD kNotifiedBackgroundBalloon = 2;

}  // namespace

CKivClientDlg::CKivClientDlg(MessageLoop& loop, MainWindowView& view, Options options)
    : loop_(loop), view_(view), options_(options) {
  SetControllerShuttingDown(false);
  SetITunesRunning(false);
}

CKivClientDlg::~CKivClientDlg() {
  power_events_.reset();
  // Normally DestroyWindow has stopped everything; this only makes sure no
  // thread outlives the loop it would wake.
  for (auto& agent : threads_)
    if (agent) agent->PostStop();
  for (auto& agent : threads_)
    if (agent) agent->Join();
  for (std::size_t i = 0; i < threads_.size(); ++i)
    if (threads_[i]) SetAgentKindRunning(static_cast<UINT>(AGENT_INDEXER + i), false);
}

void CKivClientDlg::OnInitDialog() {
  PostStatusText(IDS_READY);
  if (IsLoginAvailable()) {
    Request(AGENT_PLAYMON, 10000);
    Request(AGENT_INDEXER, 10000);
    // The folder monitor keeps the index current between runs; nothing else
    // starts it, so it comes up with the indexer.
    Request(AGENT_FOLDERMON, 10000);
  }
  Request(AGENT_CONNECTIONMON, 0);
  Request(AGENT_UPDATER, 10000);
  if (options_.watch_power_events) WatchPowerEvents();
}

void CKivClientDlg::WatchPowerEvents() {
  power_events_ = std::make_unique<platform::PowerEvents>([this](bool suspending) {
    loop_.PostMessage(WM_POWERBROADCAST, suspending ? PBT_APMSUSPEND : PBT_APMRESUMEAUTOMATIC);
  });
  if (power_events_->ok()) return;
  // Containers and build machines have no system bus; say so once.
  static std::atomic<bool> reported{false};
  if (!reported.exchange(true))
    LogApp(
        StrFormat("System sleep and resume are not watched (%s)", power_events_->error().c_str()),
        LEVEL_WARNING);
  power_events_.reset();
}

void CKivClientDlg::OnMessage(Message& message) {
  const WPARAM w = message.wParam;
  switch (message.id) {
    case WM_SYSCOMMAND:
      if (w >= SC_ABOUT_FIRST && w <= SC_ABOUT_LAST)
        view_.ShowAbout();
      else if ((w & 0xFFF0) == SC_MINIMIZE)
        view_.ShowWindow(false);
      break;
    case WM_TIMER:
      if (IsAgentCommandId(w)) {
        loop_.KillTimer(w);
        loop_.PostMessage(WM_AGENT_REQUEST, w, 0, std::string(kIndexScopeAsMerged));
      }
      break;
    case WM_CLOSE:
      Close();
      break;
    case WM_COMMAND:
      OnCommand(w);
      break;
    case WM_POWERBROADCAST:
      OnPowerBroadcast(w);
      break;
    case WM_TRAY_NOTIFY:
      if (w == ID_CMD_TRAY_CLOSE && message.lParam == 0)
        Close();
      else
        view_.OnTrayNotification(w, message.lParam);
      break;
    case WM_UPDATE_ACCEPTED:
      AppSettings().WriteDword(kSubKeySettings, "UpdateAllow", 1);
      loop_.PostMessage(WM_AGENT_REQUEST, ID_AGENT_UPDATER, 0);
      break;
    case WM_AGENT_REQUEST:
      OnAgentRequest(w, message.lParam, message.payload);
      break;
    case WM_AGENT_DONE:
      OnAgentDone(w, message.lParam);
      break;
    case WM_SEARCH_PATHS_SAVED:
      OnSearchPathsSaved(w != 0);
      // The folders page shows the new list, whoever saved it.
      view_.ForwardToPages(message);
      break;
    case WM_OPEN_DB_TESTER:
      view_.OpenDatabaseTester();
      break;
    default:
      if (IsPageMessage(message.id)) view_.ForwardToPages(message);
      break;
  }
}

void CKivClientDlg::OnCommand(WPARAM command) {
  switch (command) {
    case ID_CMD_CLOSE:
    case ID_CMD_TRAY_CLOSE:
    case ID_CMD_SHUTDOWN:
      Close();
      break;
    case ID_CMD_SHOW_LOGIN:
      view_.ShowPage(MainWindowPage::kLoginInfo, command);
      break;
    case ID_CMD_SHOW_FOLDERS:
      view_.ShowPage(MainWindowPage::kMusicFolders, command);
      break;
    case ID_CMD_SHOW_ACTIVITY:
    case ID_CMD_SHOW_STATUS:
      view_.ShowPage(MainWindowPage::kActivityMonitor, command);
      break;
    case ID_CMD_ABOUT:
      view_.ShowAbout();
      break;
    case ID_CMD_HIDE:
      OnHide();
      break;
    case ID_CMD_AGENTS_TOGGLE:
      // The odd string enables, the even one disables.
      SetAgentsEnabled(disabled_ ? TRUE : FALSE,
                       disabled_ ? IDS_ENABLED_BY_USER : IDS_DISABLED_BY_USER);
      break;
    case ID_CMD_LAUNCH_MY_KIV:
      view_.LaunchMyKiv();
      break;
    default:
      LogApp(StrFormat("Received command %u: not handled by the main window",
                       static_cast<unsigned>(command)),
             LEVEL_VERBOSE);
      break;
  }
}

void CKivClientDlg::OnHide() {
  // Without credentials the user may choose to enter them now instead.
  if (!IsLoginAvailable() &&
      AppMessageBox(LoadStringResource(IDS_ASK_FOR_LOGIN), MB_YESNO | MB_ICONQUESTION) == IDYES)
    return;
  view_.ShowWindow(false);
  DWORD notified = 0;
  const BOOL known = AppSettings().ReadDword(kSubKeySettings, "Notified", notified);
  if (known && (notified & kNotifiedBackgroundBalloon)) return;
  view_.ShowBalloon(LoadStringResource(IDS_RUNS_IN_BACKGROUND), false);
  AppSettings().WriteDword(kSubKeySettings, "Notified",
                           (known ? notified : 0) | kNotifiedBackgroundBalloon);
}

void CKivClientDlg::Close() {
  if (shutting_down_) return;
  // The window goes first (its agents stopped while the loop still
  // dispatches), then the main loop ends with result 1.
  DestroyWindow();
  loop_.Quit(1);
}

void CKivClientDlg::DestroyWindow() {
  if (destroyed_) return;
  shutting_down_ = true;
  SetControllerShuttingDown(true);
  power_events_.reset();
  view_.RemoveTrayIcon();
  KillAllAgents(TRUE);
  destroyed_ = true;
}
