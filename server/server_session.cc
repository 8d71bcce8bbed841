#include "server/server_session.h"

#include <algorithm>
#include <atomic>

#include "app/format.h"
#include "app/log.h"
#include "app/reg_settings.h"
#include "app/string_table.h"
#include "platform/last_error.h"
#include "platform/secret_text.h"
#include "server/connectivity.h"
#include "server/kiv_protocol.h"

std::recursive_mutex ServerCallLock;

namespace {

std::atomic<unsigned> g_call_timeout_ms{60000};

struct PendingCredentials {
  std::mutex mutex;
  std::string username;
  std::string password;
};

PendingCredentials& Pending() {
  static PendingCredentials pending;
  return pending;
}

}  // namespace

std::string SystemErrorText(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND:
      return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND:
      return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED:
      return "Access is denied.";
    case ERROR_INVALID_DATA:
      return "The data is invalid.";
    case ERROR_MORE_DATA:
      return "More data is available.";
    case ERROR_CANTREAD:
      return "Could not read the key from the registry.";
    case ERROR_BADDB:
      return "The configuration registry database is corrupt.";
    default:
      return StrFormat("System error %u.", error);
  }
}

std::string GetServerUrl() {
  CRegSettings& settings = AppSettings();
  std::string url;
  if (!settings.ReadStringUtf8(kSubKeySettings, "ServerUrl", url)) {
    const DWORD error = platform::GetLastError();
    AppLog().Log(StrFormat("Unable to read registry key (%s\\%s): %s", kSubKeySettings, "ServerUrl",
                           SystemErrorText(error).c_str()),
                 LEVEL_ERROR, MODULE_APPLICATION);
    settings.WriteStringUtf8(kSubKeySettings, "ServerUrl", kDefaultServerUrl);
    return kDefaultServerUrl;
  }
  if (url.empty()) return kDefaultServerUrl;
  return url;
}

std::string GetUsername() {
  std::string user;
  AppSettings().ReadStringUtf8(kSubKeySettings, "Username", user);
  if (user.empty())
    AppLog().Log("Username is not set, this must be set to talk to server", LEVEL_WARNING,
                 MODULE_CLIENT_SERVER);
  return user;
}

std::string GetPassword() {
  std::string password;
  AppSettings().ReadStringUtf8(kSubKeySettings, "Password", password);
  return password;
}

std::string GetClientVersion() { return LoadStringResource(IDS_CLIENT_VERSION); }

std::string GetUserAgent() {
  return StrFormat(LoadStringResource(IDS_USER_AGENT), GetClientVersion().c_str());
}

std::string GetClientOs() { return platform::SystemNameAndRelease(); }

std::string ChooseDeviceName(const std::vector<platform::NetAdapter>& adapters) {
  const platform::NetAdapter* chosen = nullptr;
  for (const platform::NetAdapter& adapter : adapters) {
    if (adapter.loopback || adapter.address.size() < 6) continue;
    if (std::all_of(adapter.address.begin(), adapter.address.end(),
                    [](unsigned char b) { return b == 0; }))
      continue;
    if (!chosen || adapter.ifindex < chosen->ifindex) chosen = &adapter;
  }
  if (!chosen) return {};
  const auto& a = chosen->address;
  return StrFormat("%02X%02X%02X%02X%02X%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
}

std::string GetDeviceName() {
  std::vector<platform::NetAdapter> adapters;
  if (!platform::ListNetAdapters(&adapters)) return {};
  return ChooseDeviceName(adapters);
}

void SetPendingCredentials(const std::string& username, const std::string& password) {
  PendingCredentials& pending = Pending();
  std::lock_guard<std::mutex> lock(pending.mutex);
  platform::WipeString(pending.password);
  pending.username = username;
  pending.password = password;
}

bool HasPendingCredentials() {
  PendingCredentials& pending = Pending();
  std::lock_guard<std::mutex> lock(pending.mutex);
  return !pending.username.empty() && !pending.password.empty();
}

bool GetPendingCredentials(std::string* username, std::string* password) {
  PendingCredentials& pending = Pending();
  std::lock_guard<std::mutex> lock(pending.mutex);
  if (pending.username.empty() || pending.password.empty()) return false;
  *username = pending.username;
  *password = pending.password;
  return true;
}

void ClearPendingCredentials() { SetPendingCredentials({}, {}); }

void SetUsernameKeepingPassword(const std::string& username) {
  CRegSettings& settings = AppSettings();
  std::string stored;
  settings.ReadStringUtf8(kSubKeySettings, "Username", stored);
  if (stored == username) return;
  settings.WriteStringUtf8(kSubKeySettings, "Username", username);
  AuthState = -4;
}

bool ClearPendingCredentialsIf(const std::string& username, const std::string& password) {
  PendingCredentials& pending = Pending();
  std::lock_guard<std::mutex> lock(pending.mutex);
  if (pending.username != username || pending.password != password) return false;
  platform::WipeString(pending.password);
  pending.username.clear();
  return true;
}

void SetServerCallTimeoutMs(unsigned ms) { g_call_timeout_ms = ms; }

unsigned ServerCallTimeoutMs() { return g_call_timeout_ms; }
