// The server session: what every conversation with the KIV server needs
// besides the wire format. Where the server is (GetServerUrl), who the
// client is (user name, client password, version, user agent, system text,
// device name), the lock that serialises all server traffic, and the user's credentials
// typed on the account page and not yet exchanged for a client password.
//
// Whether the server can be reached and takes the credentials is asked of
// server/connectivity.h.
//
// Threads: every function may be called from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "app/login_check.h"
#include "platform/network.h"
#include "platform/win_types.h"

// Held for the whole of every XML-RPC call and every IsOnline check, so no
// two of them overlap anywhere in the process. Re-entrant.
extern std::recursive_mutex ServerCallLock;

// The endpoint of a fresh install, until the service publishes its address.
inline constexpr const char* kDefaultServerUrl = "http://localhost:8080/kiv_backend/api";

// The ServerUrl setting when readable and non-empty; the default endpoint
// when it is empty. When it cannot be read at all the error is logged, the
// default endpoint is written into ServerUrl and returned.
std::string GetServerUrl();
// The Username setting; empty (and a warning logged) when missing or empty.
std::string GetUsername();
// The Password setting (the client password the server issued), or empty.
std::string GetPassword();
// "1.0.3.105".
std::string GetClientVersion();
// "KIV Windows Client/1.0.3.105", sent as the HTTP User-Agent header.
std::string GetUserAgent();
// The system's name and release ("Linux 6.1.0-18-amd64"); empty when the
// system does not say.
std::string GetClientOs();
// 12 upper-case hex digits of the hardware address of the interface with
// the lowest index (loopback and interfaces without an address left out);
// empty when there is none.
std::string GetDeviceName();
// The choice GetDeviceName makes among `adapters` (the first of equal
// indexes wins).
std::string ChooseDeviceName(const std::vector<platform::NetAdapter>& adapters);

// IsLoginAvailable() (app/login_check.h) is the session's test of whether
// the Username and Password settings are both non-empty; the controller
// shares it.

// The user name and password typed on the account page. They replace the
// pair held before; the credential refresh of the connection monitor
// exchanges them for a client password.
void SetPendingCredentials(const std::string& username, const std::string& password);
// True when both pending texts are non-empty.
bool HasPendingCredentials();
// Copies the pending pair out; false when there is none.
bool GetPendingCredentials(std::string* username, std::string* password);
void ClearPendingCredentials();
// Clears the pending pair only while it is still this one, so a pair typed
// again during an exchange survives it; false when another pair is held.
bool ClearPendingCredentialsIf(const std::string& username, const std::string& password);

// The transport's time limit for one XML-RPC call, 60000 ms by default.
// Tests shorten it.
void SetServerCallTimeoutMs(unsigned ms);
unsigned ServerCallTimeoutMs();

// The text the system gives for a Windows error number (for log lines).
std::string SystemErrorText(DWORD error);
