#include "shell/remote_commands.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "app/agent_kinds.h"
#include "app/identification_state.h"
#include "app/log.h"
#include "app/login_check.h"
#include "app/reg_settings.h"
#include "db/collection_counts.h"
#include "db/kiv_db.h"
#include "platform/process_table.h"
#include "platform/secret_text.h"
#include "server/agent_updater.h"
#include "server/connectivity.h"
#include "server/first_run.h"
#include "server/server_session.h"
#include "shell/folder_edit.h"
#include "shell/kiv_client_dlg.h"
#include "shell/remote_protocol.h"

namespace {

using Fields = std::vector<std::string>;

Fields Error(const std::string& text) { return {"error", text}; }

std::string Setting(const char* name) {
  std::string value;
  AppSettings().ReadString(kSubKeySettings, name, value);
  return value;
}

const char* OutcomeWord(int result) {
  switch (result) {
    case 0:
      return "accepted";
    case -2:
      return "refused";
    case -3:
      return "unreachable";
    default:
      return "failed";
  }
}

}  // namespace

std::string RemoteCommands::AnswerFromListener(const std::string& request) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopped_) return EncodeFields(Error("stopping"));
  const std::uint64_t id = ++next_request_;
  waiting_[id];
  lock.unlock();
  loop_.PostMessage(WM_REMOTE_REQUEST, static_cast<WPARAM>(id), 0, request);
  lock.lock();
  answered_.wait_for(lock, std::chrono::milliseconds(kAnswerWaitMs),
                     [&] { return stopped_ || answers_.count(id) != 0; });
  waiting_.erase(id);
  // "busy": the main loop never began the request, and now never will;
  // "late": it began it and carries it out without telling the asker.
  if (answers_.count(id) == 0)
    return EncodeFields(Error(stopped_ ? "stopping" : taken_.count(id) != 0 ? "late" : "busy"));
  std::string answer = std::move(answers_[id]);
  answers_.erase(id);
  return answer;
}

void RemoteCommands::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  answered_.notify_all();
}

bool RemoteCommands::OnMessage(Message& message) {
  if (message.id == WM_STATUS_EVENT) last_event_ = message.payload;
  if (message.id != WM_REMOTE_REQUEST) return false;
  const std::uint64_t id = static_cast<std::uint64_t>(message.wParam);
  {
    // A request whose asker was told "busy" is not carried out.
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_.count(id) == 0) {
      platform::WipeString(message.payload);  // it may have carried a password
      AppLog().Log("A request from the command line came too late and was dropped", LEVEL_WARNING,
                   MODULE_APPLICATION);
      return true;
    }
    taken_.insert(id);
  }
  std::string answer = Answer(message.payload);
  platform::WipeString(message.payload);  // it may have carried a password
  std::lock_guard<std::mutex> lock(mutex_);
  taken_.erase(id);
  if (waiting_.count(id) != 0) {
    answers_[id] = std::move(answer);
    answered_.notify_all();
  }
  return true;
}

std::string RemoteCommands::Answer(const std::string& request) {
  Fields fields = DecodeFields(request);
  struct WipeFields {
    Fields& fields;
    ~WipeFields() { platform::WipeStrings(fields); }
  } wipe{fields};
  const std::string& verb = fields[0];
  const std::size_t n = fields.size();
  Fields answer;
  if (verb == "status" && n == 1)
    answer = Status();
  else if (verb == "pid" && n == 1)
    answer = {"ok", std::to_string(platform::CurrentProcessId()),
              has_window_ ? "window" : "headless"};
  else if (verb == "login" && n == 3)
    answer = Login(fields[1], fields[2]);
  else if (verb == "login-result" && n == 2)
    answer = LoginResult(fields[1]);
  else if (verb == "logout" && n == 1)
    answer = Logout();
  else if (verb == "folders" && n == 1)
    answer = Folders();
  else if ((verb == "add-folder" || verb == "remove-folder") && n == 2)
    answer = ChangeFolders(verb == "add-folder", fields[1]);
  else if (verb == "rescan" && n == 1)
    answer = Rescan();
  else
    answer = Error("unknown request");
  return EncodeFields(answer);
}

Fields RemoteCommands::Status() const {
  SearchPathMap paths;
  LoadSearchPaths(paths);
  const CollectionCounts counts = CountCollection(paths);
  DWORD use_music_id = 0;
  AppSettings().ReadDword(kSubKeySettings, "UseMusicID", use_music_id);
  Fields status = {"ok",
                   "pid=" + std::to_string(platform::CurrentProcessId()),
                   "server=" + Setting("ServerUrl"),
                   "online=" + std::to_string(OnlineState.load()),
                   "auth=" + std::to_string(AuthState.load()),
                   "user=" + Setting("Username"),
                   "found=" + std::to_string(counts.found),
                   "reported=" + std::to_string(counts.reported),
                   "identify=" + IdentificationStatusText(use_music_id != 0, std::time(nullptr)),
                   "update=" + UpdateCheckStatusText(),
                   "log=" + AppLog().LogFile(),
                   "disabled=" + std::string(controller_ && controller_->disabled() ? "1" : "0")};
  if (controller_)
    for (UINT kind = kFirstAgentKind; kind < kFirstAgentKind + kAgentKindCount; ++kind)
      if (kind != AGENT_PLAYLISTS)
        status.push_back(std::string("agent=") + AgentName(kind) + ":" +
                         (controller_->IsAgentRunning(kind) ? "running" : "idle"));
  if (!last_event_.empty()) status.push_back("event=" + last_event_);
  return status;
}

Fields RemoteCommands::Login(const std::string& email, const std::string& password) {
  if (email.empty() || password.empty())
    return Error("an e-mail address and a password are needed");
  // As the account page: the pair goes to the server session and the
  // connection monitor, started again now, exchanges it and checks it.
  const unsigned before = LastCredentialRefresh().count;
  SetPendingCredentials(email, password);
  loop_.PostMessage(WM_AGENT_REQUEST, ID_AGENT_CONNECTIONMON, 0);
  return {"ok", std::to_string(before)};
}

Fields RemoteCommands::LoginResult(const std::string& count) const {
  const unsigned long asked = std::strtoul(count.c_str(), nullptr, 10);
  const CredentialRefreshOutcome outcome = LastCredentialRefresh();
  if (outcome.count <= asked) return {"ok", "pending"};
  return {"ok", OutcomeWord(outcome.result), std::to_string(outcome.result)};
}

Fields RemoteCommands::Logout() {
  if (!SignOut()) return Error("the settings could not be written");
  AuthState = -4;
  AppLog().Log("Signed out from the command line", LEVEL_INFO, MODULE_APPLICATION);
  // The connection monitor's next pass tells the pages.
  loop_.PostMessage(WM_AGENT_REQUEST, ID_AGENT_CONNECTIONMON, 0);
  return {"ok"};
}

Fields RemoteCommands::Folders() const {
  Fields answer = {"ok"};
  for (const MusicFolder& folder : ListMusicFolders()) {
    answer.push_back(folder.enabled ? "1" : "0");
    answer.push_back(folder.exists ? "1" : "0");
    answer.push_back(folder.path);
  }
  return answer;
}

Fields RemoteCommands::ChangeFolders(bool add, const std::string& path) {
  const FolderEdit result = add ? AddMusicFolder(path) : RemoveMusicFolder(path);
  if (result != FolderEdit::kChanged) return Error(FolderEditError(result, path));
  AppLog().LogDetail(add ? "Music folder added from the command line"
                         : "Music folder removed from the command line",
                     path, LEVEL_INFO, MODULE_APPLICATION);
  // The controller restarts the agents on the new list, as after a save on
  // the folders page.
  loop_.PostMessage(WM_SEARCH_PATHS_SAVED, 0, 0);
  return {"ok"};
}

Fields RemoteCommands::Rescan() {
  // Search All Now: the list is saved, then the indexer is asked for now.
  SearchPathMap map;
  LoadSearchPaths(map);
  if (!SaveMusicFolderList(map)) return Error("the folder list could not be saved in the settings");
  loop_.PostMessage(WM_SEARCH_PATHS_SAVED, 1, 0);
  return {"ok", std::to_string(map.size())};
}
