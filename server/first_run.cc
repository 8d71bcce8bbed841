#include "server/first_run.h"

#include <mutex>

#include "app/agent_kinds.h"
#include "app/format.h"
#include "app/log.h"
#include "app/message_box.h"
#include "app/reg_settings.h"
#include "app/string_table.h"
#include "server/connectivity.h"
#include "server/kiv_protocol.h"
#include "server/server_session.h"

namespace {

std::mutex g_finder_mutex;
BrowserLoginFinder g_finder;

std::mutex g_outcome_mutex;
CredentialRefreshOutcome g_outcome;

void RecordOutcome(int result) {
  std::lock_guard<std::mutex> lock(g_outcome_mutex);
  ++g_outcome.count;
  g_outcome.result = result;
}

int DiscoverBrowserLogin() {
  BrowserLoginFinder finder;
  {
    std::lock_guard<std::mutex> lock(g_finder_mutex);
    finder = g_finder;
  }
  return finder ? finder() : 0;
}

}  // namespace

void SetBrowserLoginFinder(BrowserLoginFinder finder) {
  std::lock_guard<std::mutex> lock(g_finder_mutex);
  g_finder = std::move(finder);
}

CredentialRefreshOutcome LastCredentialRefresh() {
  std::lock_guard<std::mutex> lock(g_outcome_mutex);
  return g_outcome;
}

void FirstRunNotice(const AgentContext& context) {
  CRegSettings& settings = AppSettings();
  // Absent counts as "welcome shown" for the test below; the welcome itself
  // is still shown when the value cannot be read.
  DWORD notified = 1;
  if (!IsLoginAvailable()) {
    const BOOL read = settings.ReadDword(kSubKeySettings, "Notified", notified);
    if (!read || (notified & 1) == 0) {
      AppLog().Log(
          "First time client has been run, informing user of auth info and how to shutdown "
          "client",
          LEVEL_INFO, MODULE_APPLICATION);
      // The welcome needs no answer: a pair typed on the account page while
      // it is still open is taken at once (CredentialRefresh, below).
      AppNotice(LoadStringResource(IDS_FIRST_RUN_WELCOME), MB_OK | MB_ICONINFORMATION);
      settings.WriteDword(kSubKeySettings, "Notified", notified | 1);
    }
  }
  int result = CheckAuthentication(1);
  // A user signed in on the web site needs no password here, whether the
  // stored credentials are refused or were never entered.
  const bool missing = result == -4 && IsOnline(0) == 1;
  if ((result == -2 || missing) && DiscoverBrowserLogin() == 1 && AuthState == 0) {
    result = CheckAuthentication(1);
    // Start-up held the agents back for want of credentials.
    if (missing && result == 0) {
      context.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_PLAYMON, 5000);
      context.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_INDEXER, 10000);
      context.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_FOLDERMON, 10000);
    }
  }
  if (result == -2 && (notified & 1) != 0)
    AppNotice(LoadStringResource(IDS_LOGIN_INVALID), MB_OK | MB_ICONERROR);
}

void CredentialRefresh(const AgentContext& context) {
  std::string username, password;
  if (!GetPendingCredentials(&username, &password)) return;
  std::string client_password;
  const int rc = AuthenticateByPassword(username, password, &client_password, 0);
  CRegSettings& settings = AppSettings();
  if (rc != 0) {
    if (rc == -2) settings.WriteStringUtf8(kSubKeySettings, "Password", "");
    AuthState = rc;
    AppLog().Log(StrFormat("Updated username/password FAILED (%i)", rc), LEVEL_ERROR,
                 MODULE_APPLICATION);
    // Without an answer the pair stays for the next start of the monitor.
    if (rc != -3) ClearPendingCredentialsIf(username, password);
    RecordOutcome(rc);
    return;
  }
  settings.WriteStringUtf8(kSubKeySettings, "Password", client_password);
  settings.WriteStringUtf8(kSubKeySettings, "Username", username);
  ClearPendingCredentialsIf(username, password);
  RecordOutcome(0);
  // The password stays out of the log.
  AppLog().Log(StrFormat("Updated username/password (%s/%s)", username.c_str(), "********"),
               LEVEL_INFO, MODULE_APPLICATION);
  context.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_PLAYMON, 5000);
  context.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_INDEXER, 10000);
  // The folder monitor comes up with the indexer, as at start-up: a new
  // user's folders are watched without waiting for a restart.
  context.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_FOLDERMON, 10000);
}
