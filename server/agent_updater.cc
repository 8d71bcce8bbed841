#include "server/agent_updater.h"

#include <chrono>
#include <ctime>
#include <future>
#include <mutex>
#include <system_error>

#include "app/agent_kinds.h"
#include "app/format.h"
#include "app/log.h"
#include "app/message_box.h"
#include "app/reg_settings.h"
#include "app/string_table.h"
#include "platform/clock.h"
#include "platform/desktop_open.h"
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "server/connectivity.h"
#include "server/http_session.h"
#include "server/kiv_protocol.h"
#include "server/server_session.h"
#include "server/update_description.h"

namespace {

// The module value the update checker's lines have always carried.
constexpr DWORD kModuleUpdater = MODULE_GRACENOTE;
// The update download's activity number on the status page.
constexpr int kJobUpdate = 9;
// The most of the offer's description the question shows.
constexpr std::size_t kMaxShownDescription = 2000;

void Log(const std::string& text, DWORD level = LEVEL_INFO) {
  AppLog().Log(text, level, kModuleUpdater);
}

void WriteAllow(std::int32_t allow) {
  AppSettings().WriteDword(kSubKeySettings, "UpdateAllow", static_cast<DWORD>(allow));
}

std::mutex g_check_mutex;
std::time_t g_checked_at = 0;
std::string g_check_finding;

void RecordUpdateCheck(std::time_t when, const std::string& finding) {
  std::lock_guard<std::mutex> lock(g_check_mutex);
  g_checked_at = when;
  g_check_finding = finding;
}

}  // namespace

std::string UpdateCheckStatusText() {
  {
    std::lock_guard<std::mutex> lock(g_check_mutex);
    if (g_checked_at != 0)
      return platform::FormatLocalTime(g_checked_at, "%Y-%m-%d %H:%M") + ": " + g_check_finding;
  }
  std::string checked;
  if (AppSettings().ReadStringUtf8(kSubKeySettings, "UpdateCheck", checked) && !checked.empty())
    return checked + " (before this start)";
  return "no check yet";
}

std::string DefaultUpdateUrl() {
  UrlParts server;
  if (SplitUrl(GetServerUrl(), &server) != 0) SplitUrl(kDefaultServerUrl, &server);
  return StrFormat("%s://%s:%u/update.txt", server.scheme.c_str(), server.host.c_str(),
                   static_cast<unsigned>(server.port));
}

AgentUpdater::AgentUpdater(const AgentContext& context) : context_(context) {}

int AgentUpdater::Run() {
  if (!IsOnline(1, context_.main_window)) {
    Log("AgentUpdater: IsOnline returned FALSE. Can not continue update check.");
    return 1;
  }
  CRegSettings& settings = AppSettings();
  DWORD stored = 0;
  settings.ReadDword(kSubKeySettings, "UpdateAllow", stored);
  std::int32_t allow = static_cast<std::int32_t>(stored);
  const std::int64_t now = platform::NowAsStoredTime(context_.clock->WallTime());

  if (allow == -1) {
    std::string checked;
    std::int64_t when = 0;
    if (settings.ReadStringUtf8(kSubKeySettings, "UpdateCheck", checked) &&
        platform::ParseTimeText(checked, &when) && now < when + kUpdateDeclinedWaitSeconds)
      return 1;  // declined lately (a time ahead of now counts as lately)
  }

  const bool found = CheckForUpdate() == 1;
  if (found || allow == 3) {
    // Without anyone to ask, the safe answer would pass for the user's No.
    if (allow != 0 && AppMessageBoxCanAsk())
      AskAndInstall(&allow);
    else if (allow == 0 || found)
      Announce();
  }
  settings.WriteStringUtf8(kSubKeySettings, "UpdateCheck", TimeText(now));
  RecordUpdateCheck(context_.clock->WallTime(), finding_);
  return 1;
}

void AgentUpdater::AskAndInstall(std::int32_t* allow) {
  context_.PostToMainWindow(WM_COMMAND, ID_CMD_SHOW_STATUS);
  const std::string description(platform::Utf8Prefix(description_, kMaxShownDescription));
  const std::string question =
      StrFormat(LoadStringResource(IDS_UPDATE_QUESTION), version_.c_str(), description.c_str());
  if (AppMessageBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES) {
    *allow = -1;
    WriteAllow(-1);
    return;
  }
  *allow = 2;
  WriteAllow(2);
  if (DownloadUpdate() == 1 && platform::PathExists(path_)) {
    *allow = 0;
    WriteAllow(0);
    int error = 0;
    if (platform::OpenWithDesktopHandler(path_, &error))
      AppLog().LogDetail("AgentUpdater: installer handed to the desktop", path_, LEVEL_INFO,
                         kModuleUpdater);
    else
      AppLog().LogDetail("AgentUpdater: cannot open the installer: " + platform::ErrnoText(error),
                         path_, LEVEL_ERROR, kModuleUpdater);
    return;
  }
  if (cancel_ == 0)
    AppMessageBox(LoadStringResource(IDS_UPDATE_DOWNLOAD_FAILED), MB_OK | MB_ICONERROR);
}

void AgentUpdater::Announce() {
  Log(StrFormat("AgentUpdater: version %s is available", version_.c_str()));
  context_.PostToMainWindow(WM_STATUS_EVENT, kJobUpdate, 0,
                            LoadStringResource(IDS_UPDATE_AVAILABLE));
  context_.PostToMainWindow(WM_AGENT_DONE, ID_NOTIFY_NEW_VERSION, 0);
}

int AgentUpdater::CheckForUpdate() {
  CServerSession session(context_.main_window);
  std::string url;
  if (!AppSettings().ReadStringUtf8(kSubKeySettings, "UpdateUrl", url) || url.empty())
    url = DefaultUpdateUrl();
  std::string text;
  finding_ = "the update description could not be read from " + url;
  if (session.DownloadToString(url, &text) == -1 || text.empty()) return 0;
  UpdateOffer offer;
  finding_ = "no update for this system";
  if (!ParseUpdateDescription(text, &offer)) {
    AppLog().LogDetail("AgentUpdater: no section for this system in the update description", url,
                       LEVEL_WARNING, kModuleUpdater);
    return 0;
  }
  version_ = std::move(offer.version);
  url_ = std::move(offer.url);
  description_ = std::move(offer.description);
  const bool newer = IsNewerVersion(version_, GetClientVersion());
  finding_ = newer ? "version " + version_ + " is available"
                   : "no newer version (" + version_ + " offered)";
  return newer ? 1 : 0;
}

int AgentUpdater::DownloadUpdate() {
  if (url_.empty()) return 0;
  const std::string name = InstallerFileName(version_, url_);
  const std::string dir = platform::DataDir();
  if (name.empty() || !platform::EnsureDir(dir)) {
    AppLog().LogDetail("AgentUpdater: no place for the installer of version " + version_, dir,
                       LEVEL_ERROR, kModuleUpdater);
    return 0;
  }
  path_ = dir + "/" + name;
  // A file left from an earlier download must not pass for this one.
  platform::RemoveFile(path_);
  // The transfer runs beside this thread, which keeps taking stop requests
  // and turns one into the download's cancel flag.
  std::future<int> download;
  try {
    download = std::async(std::launch::async, [this] {
      CServerSession session(context_.main_window);
      return session.DownloadToFile(url_, path_, kJobUpdate, &cancel_);
    });
  } catch (const std::system_error& e) {
    AppLog().Log(std::string("AgentUpdater: cannot start the download: ") + e.what(), LEVEL_ERROR,
                 kModuleUpdater);
    return 0;
  }
  while (download.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
    if (CheckQuit()) cancel_ = 1;
  const int result = download.get();
  if (result == -1 || cancel_ != 0) {
    platform::RemoveFile(path_);
    return 0;
  }
  return 1;
}

void RegisterUpdaterAgent(AgentJobRegistry& registry) {
  registry.Register(AGENT_UPDATER, [](const AgentContext& context) {
    return std::unique_ptr<CAgent>(new AgentUpdater(context));
  });
}
