// CServerSession: the HTTP session an agent job creates when it begins.
// Creating it reads the server URL afresh and logs its parts; it also
// performs the plain HTTP downloads of the update checker (DownloadToFile
// with progress messages and a cancel flag, DownloadToString) on libcurl.
// Certificates are verified on https; proxies come from curl's usual
// environment variables. Downloads speak only http and https, follow at
// most 10 redirects on the same host and never from https to http, keep
// at most kiv_http::kMaxBodyBytes (16 MiB), and end at once when the
// cancel flag is set or the agent thread is told to stop.
//
// Threads: one object belongs to the thread that created it. The cancel
// flag may be set from any thread; progress messages are posted to the main
// window's loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/log.h"
#include "app/message_loop.h"
#include "platform/win_types.h"

// The request flags a session starts with (reload, existing connection, no
// cache write, no authentication prompt, ...), kept for the log.
inline constexpr DWORD kRequestFlagsDefault = 0xA4043300;
// Added for a URL on port 443.
inline constexpr DWORD kRequestFlagSecure = 0x00800000;
// The longest URL part the session keeps (260-character buffers).
inline constexpr std::size_t kUrlPartMax = 259;

// The parts of a URL: scheme, host, path with its query, port (the
// scheme's default when the URL names none).
struct UrlParts {
  std::string scheme;
  std::string host;
  std::string path;
  std::uint16_t port = 0;
};
// Splits `url` without logging. 0 on success, else a non-zero error code
// (curl's URL error; also for a part longer than kUrlPartMax).
int SplitUrl(const std::string& url, UrlParts* parts);

class CServerSession {
 public:
  // `main_window` (not owned, may be null) receives the progress messages.
  // Cracks GetServerUrl() (the default endpoint when it is empty).
  explicit CServerSession(MessageLoop* main_window = nullptr);
  ~CServerSession();
  CServerSession(const CServerSession&) = delete;
  CServerSession& operator=(const CServerSession&) = delete;

  // Splits `url` into scheme, host, path (with its query) and port and
  // logs them; false (logged) when the URL cannot be split or a part is
  // longer than kUrlPartMax. A failure leaves the parts empty.
  bool CrackServerUrl(const std::string& url);

  // HTTP GET of `url` into the file at `path`. With status 200 the file is
  // created (truncated) and filled; with a non-zero `activity` and a main
  // window, WM_STATUS_PROGRESS_RANGE, then per received chunk
  // WM_STATUS_PROGRESS_TEXT ("%d KB of %d KB") and WM_STATUS_PROGRESS_POS,
  // and finally WM_STATUS_DONE are posted. A set `cancel` flag stops the
  // transfer. Returns -1 when the URL, the connection or the request
  // failed, when a redirect was refused, when the body grew too long or
  // the transfer broke off (the partial file is removed); otherwise 1 when
  // the cancel flag is set at the end, else 0 (a status other than 200
  // writes no file and returns 0).
  int DownloadToFile(const std::string& url, const std::string& path, int activity,
                     const std::atomic<int>* cancel);

  // HTTP GET of `url`, appending the body of a 200 answer to `*text`.
  // 0 when the request was answered (whatever the status); -1 when the URL,
  // the connection, a redirect or the transfer failed, or the body is too
  // long. A failure is logged at `failure_level`.
  int DownloadToString(const std::string& url, std::string* text,
                       DWORD failure_level = LEVEL_ERROR);

  const std::string& scheme() const { return scheme_; }
  const std::string& host() const { return host_; }
  const std::string& url_path() const { return path_; }
  std::uint16_t port() const { return port_; }
  DWORD request_flags() const { return request_flags_; }

 private:
  struct Transfer;
  // Runs one GET on the session's handle; false when curl failed before
  // or during the transfer (`*error` holds its text).
  bool Perform(const std::string& url, Transfer* transfer, std::string* error);

  MessageLoop* main_window_;
  void* curl_ = nullptr;  // CURL*, the base session
  std::string scheme_;
  std::string host_;
  std::string path_;
  std::uint16_t port_ = 0;
  DWORD request_flags_ = kRequestFlagsDefault;
};
