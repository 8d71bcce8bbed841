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
#include "platform/network.h"
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
// How long the desktop's handler has to say it cannot open the installer.
constexpr int kHandlerWaitMs = 5000;

void Log(const std::string& text, DWORD level = LEVEL_INFO) {
  AppLog().Log(text, level, kModuleUpdater);
}

void WriteAllow(std::int32_t allow) {
  AppSettings().WriteDword(kSubKeySettings, "UpdateAllow", static_cast<DWORD>(allow));
}

// The host of `url`; empty when it has none.
std::string SplitUrlHost(const std::string& url) {
  UrlParts parts;
  return SplitUrl(url, &parts) == 0 ? parts.host : std::string();
}

// Where a user finds the download by hand: the KIV server's web site.
std::string DefaultUpdateSite() {
  UrlParts server;
  if (SplitUrl(GetServerUrl(), &server) != 0) SplitUrl(kDefaultServerUrl, &server);
  return "https://" + server.host + "/";
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
  // Always https: an update text over plain http could only announce.
  if (platform::AsciiLower(server.scheme) != "https") return DefaultUpdateSite() + "update.txt";
  return StrFormat("https://%s:%u/update.txt", server.host.c_str(),
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

std::string AgentUpdater::DownloadRefusal() const {
  if (!secure_text_) return "the update notice came over plain http";
  return InstallerRefusal(url_);
}

void AgentUpdater::AskAndInstall(std::int32_t* allow) {
  context_.PostToMainWindow(WM_COMMAND, ID_CMD_SHOW_STATUS);
  const std::string description(platform::Utf8Prefix(description_, kMaxShownDescription));
  const std::string refusal = DownloadRefusal();
  if (!refusal.empty()) {
    // Told, not asked: an offer that cannot be trusted never becomes a
    // download, and the user is reminded again after the usual wait.
    AppLog().LogDetail("AgentUpdater: not downloading the installer: " + refusal, url_,
                       LEVEL_WARNING, kModuleUpdater);
    // An address from a plain-http text may be anyone's: the user is sent
    // to the KIV web site instead.
    const std::string where =
        secure_text_ && !SplitUrlHost(url_).empty() ? url_ : DefaultUpdateSite();
    AppMessageBox(StrFormat(LoadStringResource(IDS_UPDATE_NOT_DOWNLOADED), version_.c_str(),
                            description.c_str(), refusal.c_str(), where.c_str()),
                  MB_OK | MB_ICONINFORMATION);
    *allow = -1;
    WriteAllow(-1);
    return;
  }
  const std::string question = StrFormat(LoadStringResource(IDS_UPDATE_QUESTION), version_.c_str(),
                                         description.c_str(), SplitUrlHost(url_).c_str());
  if (AppMessageBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES) {
    *allow = -1;
    WriteAllow(-1);
    return;
  }
  *allow = 2;
  WriteAllow(2);
  if (DownloadUpdate() != 1 || !platform::PathExists(path_)) {
    if (cancel_ == 0)
      AppMessageBox(LoadStringResource(IDS_UPDATE_DOWNLOAD_FAILED), MB_OK | MB_ICONERROR);
    return;
  }
  int detail = 0;
  const platform::DesktopOpen opened = platform::OpenWithDesktopHandler(
      path_, kHandlerWaitMs, [this] { return CheckQuit() != FALSE; }, &detail);
  if (opened == platform::DesktopOpen::kOpened) {
    *allow = 0;
    WriteAllow(0);
    AppLog().LogDetail("AgentUpdater: installer handed to the desktop", path_, LEVEL_INFO,
                       kModuleUpdater);
    return;
  }
  // UpdateAllow stays 2: the next check offers the update again.
  const std::string why = opened == platform::DesktopOpen::kNotStarted
                              ? "xdg-open cannot be started: " + platform::ErrnoText(detail)
                              : StrFormat("xdg-open ended with status %d", detail);
  AppLog().LogDetail("AgentUpdater: cannot open the installer: " + why, path_, LEVEL_ERROR,
                     kModuleUpdater);
  AppMessageBox(StrFormat(LoadStringResource(IDS_UPDATE_OPEN_FAILED), path_.c_str(), why.c_str()),
                MB_OK | MB_ICONERROR);
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
  DWORD failure_level = LEVEL_ERROR;
  if (!AppSettings().ReadStringUtf8(kSubKeySettings, "UpdateUrl", url) || url.empty()) {
    url = DefaultUpdateUrl();
    // A development server on this machine has no web site beside it: the
    // default address failing there is expected at every check.
    UrlParts server;
    if (SplitUrl(GetServerUrl(), &server) == 0 && platform::IsLoopbackHost(server.host))
      failure_level = LEVEL_INFO;
  }
  std::string text;
  secure_text_ = false;
  finding_ = "the update description could not be read from " + url;
  if (session.DownloadToString(url, &text, failure_level) == -1 || text.empty()) return 0;
  // Redirects never step down from https, so the first address says it.
  secure_text_ = platform::AsciiLower(url.substr(0, 8)) == "https://";
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
  const std::string refusal = DownloadRefusal();
  if (!refusal.empty()) {
    AppLog().LogDetail("AgentUpdater: not downloading the installer: " + refusal, url_,
                       LEVEL_WARNING, kModuleUpdater);
    return 0;
  }
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
  // A 200 answer without a body is no installer.
  std::int64_t size = 0;
  if (!platform::FileSize(path_, &size) || size <= 0) {
    AppLog().LogDetail("AgentUpdater: the installer arrived empty", url_, LEVEL_ERROR,
                       kModuleUpdater);
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
