#include "shell/cli_verbs.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "app/format.h"
#include "app/log.h"
#include "app/reg_settings.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/secret_text.h"
#include "platform/single_instance.h"
#include "platform/terminal.h"
#include "server/first_run.h"
#include "server/kiv_protocol.h"
#include "server/server_session.h"
#include "shell/folder_edit.h"
#include "shell/kiv_client_app.h"
#include "shell/remote_protocol.h"

namespace {

using Fields = std::vector<std::string>;

// A sign-in waits this long for the server's answer through the running
// copy (its own time limit for one call is a minute).
constexpr int kLoginPatienceMs = 90000;
constexpr int kLoginPollMs = 200;

int Fail(int status, const std::string& text) {
  std::fprintf(stderr, "vornic: %s\n", text.c_str());
  return status;
}

void Say(const std::string& text) { std::printf("%s\n", text.c_str()); }

std::string Setting(const char* name) {
  std::string value;
  AppSettings().ReadString(kSubKeySettings, name, value);
  return value;
}

// A password longer than this is refused rather than read on and on.
constexpr std::size_t kMaxPasswordBytes = 1024;
// A busy copy is asked this often, this far apart.
constexpr int kBusyTries = 4;
constexpr std::uint32_t kBusyPauseMs = 500;

// The running copy: found through its lock in the data folder, which every
// copy of this user meets whatever its environment (cron, su and ssh give
// another runtime folder, or none), and reached over the socket it
// published there.
class RunningCopy {
 public:
  RunningCopy()
      : info_(platform::FindRunningCopy(platform::DataDir())),
        instance_(platform::DataDir(), platform::RuntimeDir()) {
    if (!info_.socket_path.empty()) instance_.SetPeerSocket(info_.socket_path);
  }

  // True while a copy holds the lock; the settings are then its to write.
  bool Running() const { return info_.running; }
  std::string Pid() const { return info_.pid > 0 ? std::to_string(info_.pid) : "unknown"; }
  // The answer's fields; false when there was none. A copy too busy to
  // take the request (still starting, or stopping its agents) did not
  // carry it out, so it is asked again a few times.
  bool Ask(const Fields& request, Fields* answer) {
    for (int tries = 1;; ++tries) {
      if (!AskOnce(request, answer)) return false;
      if (tries >= kBusyTries || answer->size() < 2 || (*answer)[0] != "error" ||
          (*answer)[1] != "busy")
        return true;
      platform::SystemClock().SleepMs(kBusyPauseMs);
    }
  }
  // Why the copy could not be asked, and whether anything may change.
  int Unreachable() const {
    const std::string who = "Vornic is running (pid " + Pid() + ") but ";
    if (!delivered_)
      return Fail(kExitUnreachable, who + "cannot be reached on " + instance_.PeerSocketPath() +
                                        "; nothing was changed");
    return Fail(kExitUnreachable, who +
                                      "did not answer; it may still carry the request out "
                                      "(vornic --status tells what it does)");
  }
  // An answer that is not "ok": what the copy said, as the exit status
  // means it.
  static int Refused(const Fields& answer) {
    const std::string word = answer.size() > 1 ? answer[1] : std::string();
    if (word == "busy")
      return Fail(kExitUnreachable,
                  "the running copy was busy and did not carry the request out; try again");
    if (word == "late")
      return Fail(kExitUnreachable,
                  "the running copy took the request but did not answer in time; it carries it "
                  "out (vornic --status tells what it does)");
    return Fail(kExitFailed, word.empty() ? "the running copy refused" : word);
  }

 private:
  bool AskOnce(const Fields& request, Fields* answer) {
    // A published socket that is gone will not come back: no waiting for
    // it (one not yet published may be on its way while the copy starts).
    if (!info_.socket_path.empty() && !platform::PathExists(info_.socket_path)) {
      delivered_ = false;
      return false;
    }
    std::string line;
    if (!instance_.SendRequest(EncodeFields(request), &line, 5000)) {
      const int error = instance_.error();
      delivered_ = error != ECONNREFUSED && error != ENOENT && error != ENAMETOOLONG;
      return false;
    }
    *answer = DecodeFields(line);
    return true;
  }

  platform::RunningCopyInfo info_;
  platform::SingleInstance instance_;
  bool delivered_ = false;
};

// The log of a copy that is not running, so that a sign-in made here leaves
// its lines where the program's are.
void UseProgramLog() {
  std::string problem;
  if (!platform::PrepareDataDir(&problem)) return;
  AppLog().SetLogFile(ResolveLogPath(Setting("LogFileName"), platform::DataDir()));
}

int PrintLoginOutcome(const std::string& word, const std::string& email) {
  if (word == "accepted") {
    Say("accepted: signed in as " + email);
    return kExitDone;
  }
  if (word == "refused")
    return Fail(kExitFailed,
                "refused: the KIV server did not accept " + email + " with this password");
  if (word == "unreachable")
    return Fail(kExitUnreachable, "server unreachable: the KIV server at " + GetServerUrl() +
                                      " did not answer; nothing was changed");
  return Fail(kExitFailed, "the sign-in failed (" + word + ")");
}

// The outcome of a sign-in handed to the running copy, which keeps a pair
// the server did not answer for and tries it again.
int PrintHandedLoginOutcome(const std::string& word, const std::string& email) {
  if (word != "unreachable") return PrintLoginOutcome(word, email);
  return Fail(kExitUnreachable, "server unreachable: the KIV server at " + GetServerUrl() +
                                    " did not answer; the running copy keeps the sign-in of " +
                                    email + " and tries it again when the server can be reached");
}

int Login(RunningCopy& copy, const std::string& email) {
  std::string password;
  platform::WipeOnExit wipe_password(password);
  bool too_long = false;
  if (!platform::ReadSecretLine("KIV password for " + email + ": ", &password, kMaxPasswordBytes,
                                &too_long) ||
      password.empty())
    return Fail(kExitFailed, too_long ? StrFormat("the password is longer than %zu characters; "
                                                  "nothing was changed",
                                                  kMaxPasswordBytes)
                                      : std::string("no password given; nothing was changed"));
  if (copy.Running()) {
    Fields answer;
    if (!copy.Ask({"login", email, password}, &answer)) return copy.Unreachable();
    if (answer[0] != "ok" || answer.size() < 2) return RunningCopy::Refused(answer);
    const std::string count = answer[1];
    for (int waited = 0; waited < kLoginPatienceMs; waited += kLoginPollMs) {
      Fields result;
      if (!copy.Ask({"login-result", count}, &result))
        return Fail(kExitUnreachable,
                    "the running copy stopped answering; it may still sign in as " + email);
      if (result.size() >= 2 && result[1] != "pending")
        return PrintHandedLoginOutcome(result[1], email);
      platform::SystemClock().SleepMs(kLoginPollMs);
    }
    return Fail(kExitUnreachable,
                "server unreachable: no answer within 90 s; the running copy keeps the sign-in "
                "of " +
                    email + " and tries it again");
  }
  // No copy runs: the same exchange here, as the connection monitor makes it.
  UseProgramLog();
  std::string client_password;
  const int rc = AuthenticateByPassword(email, password, &client_password, 0);
  if (rc == 0) {
    if (!AppSettings().WriteStringUtf8(kSubKeySettings, "Password", client_password) ||
        !AppSettings().WriteStringUtf8(kSubKeySettings, "Username", email))
      return Fail(kExitFailed, "the settings could not be written");
    AppLog().Log(StrFormat("Updated username/password (%s/%s)", email.c_str(), "********"),
                 LEVEL_INFO, MODULE_APPLICATION);
    return PrintLoginOutcome("accepted", email);
  }
  if (rc == -2) AppSettings().WriteStringUtf8(kSubKeySettings, "Password", "");
  AppLog().Log(StrFormat("Updated username/password FAILED (%i)", rc), LEVEL_ERROR,
               MODULE_APPLICATION);
  return PrintLoginOutcome(rc == -2 ? "refused" : rc == -3 ? "unreachable" : "failed", email);
}

int PrintFolders(const Fields& answer) {
  if (answer.size() < 4) Say("no music folders");
  for (std::size_t i = 1; i + 2 < answer.size(); i += 3)
    Say(StrFormat("%-8s %-8s %s", answer[i] == "1" ? "enabled" : "disabled",
                  answer[i + 1] == "1" ? "present" : "missing", answer[i + 2].c_str()));
  return kExitDone;
}

int PrintStatus(const Fields& answer) {
  std::string online, auth, user, found, reported, log, server, pid, agents, event, identify,
      update;
  for (std::size_t i = 1; i < answer.size(); ++i) {
    const std::string& field = answer[i];
    const std::size_t eq = field.find('=');
    const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
    if (key == "online")
      online = value;
    else if (key == "auth")
      auth = value;
    else if (key == "user")
      user = value;
    else if (key == "found")
      found = value;
    else if (key == "reported")
      reported = value;
    else if (key == "log")
      log = value;
    else if (key == "server")
      server = value;
    else if (key == "pid")
      pid = value;
    else if (key == "event")
      event = value;
    else if (key == "identify")
      identify = value;
    else if (key == "update")
      update = value;
    else if (key == "agent")
      agents += (agents.empty() ? "" : ", ") + value;
  }
  Say("running:  yes (pid " + pid + ")");
  Say("server:   " +
      std::string(online == "1"   ? "online"
                  : online == "0" ? "offline"
                                  : "not yet checked") +
      " (" + (server.empty() ? kDefaultServerUrl : server) + ")");
  const char* login = auth == "0"    ? "accepted"
                      : auth == "-2" ? "refused"
                      : auth == "-3" ? "not answered"
                                     : "not checked";
  // A refused sign-in empties the stored client password; until the next
  // sign-in nothing is left to check.
  const std::string state = auth != "0" && Setting("Password").empty()
                                ? std::string("no client password: sign in again")
                                : std::string("login ") + login;
  Say("account:  " + (user.empty() ? std::string("nobody signed in") : user + " (" + state + ")"));
  Say("tracks:   " + found + " found, " + reported + " reported (in the enabled music folders)");
  Say("identify: " + identify);
  Say("agents:   " + agents);
  Say("update:   last check " + update);
  if (!event.empty()) Say("last event: " + event);
  Say("log:      " + log);
  return kExitDone;
}

int OfflineStatus() {
  const std::string user = Setting("Username");
  const std::string server = Setting("ServerUrl");
  Say("running:  no");
  Say("server:   not checked (" + (server.empty() ? std::string(kDefaultServerUrl) : server) + ")");
  Say("account:  " +
      (user.empty()
           ? std::string("nobody signed in")
           : user + (Setting("Password").empty() ? " (no client password: sign in again)" : "")));
  Say(StrFormat("folders:  %zu", ListMusicFolders().size()));
  DWORD use_music_id = 0;
  AppSettings().ReadDword(kSubKeySettings, "UseMusicID", use_music_id);
  Say(std::string("identify: ") + (use_music_id != 0 ? "on" : "off (UseMusicID 0)"));
  std::string checked;
  AppSettings().ReadString(kSubKeySettings, "UpdateCheck", checked);
  Say("update:   last check " + (checked.empty() ? std::string("none yet") : checked));
  Say("log:      " + ResolveLogPath(Setting("LogFileName"), platform::DataDir()));
  return kExitDone;
}

}  // namespace

int RunCliVerb(const CommandLineOptions& options) {
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  const std::string& argument = options.verb_argument;
  RunningCopy copy;
  const bool running = copy.Running();
  if (options.verb == CliVerb::kLogin) return Login(copy, argument);

  const std::string folder =
      options.verb == CliVerb::kAddFolder || options.verb == CliVerb::kRemoveFolder
          ? AbsoluteFolder(argument)
          : std::string();
  Fields request;
  switch (options.verb) {
    case CliVerb::kLogout:
      request = {"logout"};
      break;
    case CliVerb::kAddFolder:
      request = {"add-folder", folder};
      break;
    case CliVerb::kRemoveFolder:
      request = {"remove-folder", folder};
      break;
    case CliVerb::kFolders:
      request = {"folders"};
      break;
    case CliVerb::kRescan:
      request = {"rescan"};
      break;
    case CliVerb::kStatus:
      request = {"status"};
      break;
    default:
      return Fail(kExitUsage, "no set-up option given");
  }
  // While a copy runs the settings are its own: they are changed through it
  // or not at all.
  Fields answer;
  if (running && !copy.Ask(request, &answer)) return copy.Unreachable();
  if (running && answer[0] != "ok") return RunningCopy::Refused(answer);

  switch (options.verb) {
    case CliVerb::kLogout:
      if (!running && !SignOut()) return Fail(kExitFailed, "the settings could not be written");
      Say("signed out");
      return kExitDone;
    case CliVerb::kAddFolder:
    case CliVerb::kRemoveFolder: {
      const bool add = options.verb == CliVerb::kAddFolder;
      if (!running) {
        const FolderEdit result = add ? AddMusicFolder(folder) : RemoveMusicFolder(folder);
        if (result != FolderEdit::kChanged)
          return Fail(kExitFailed, FolderEditError(result, folder));
      }
      Say((add ? "added " : "removed ") + folder);
      return kExitDone;
    }
    case CliVerb::kFolders:
      if (running) return PrintFolders(answer);
      answer = {"ok"};
      for (const MusicFolder& f : ListMusicFolders())
        answer.insert(answer.end(), {f.enabled ? "1" : "0", f.exists ? "1" : "0", f.path});
      return PrintFolders(answer);
    case CliVerb::kRescan:
      if (running) {
        Say("searching all music folders now");
        return kExitDone;
      }
      return Fail(kExitUnreachable,
                  "Vornic is not running, so nothing is searched now; every start searches all "
                  "music folders");
    case CliVerb::kStatus:
      return running ? PrintStatus(answer) : OfflineStatus();
    default:
      return kExitUsage;
  }
}
