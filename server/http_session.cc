#include "server/http_session.h"

#include <curl/curl.h>

#include <memory>

#include "app/format.h"
#include "app/log.h"
#include "app/messages.h"
#include "app/string_table.h"
#include "platform/file_handle.h"
#include "platform/file_io.h"
#include "server/curl_transfer.h"
#include "server/server_session.h"

namespace {

CURL* Handle(void* curl) { return static_cast<CURL*>(curl); }

struct UrlHandle {
  CURLU* url = curl_url();
  ~UrlHandle() { curl_url_cleanup(url); }
};

// One URL part; false when curl has none.
bool UrlPart(CURLU* url, CURLUPart what, unsigned flags, std::string* out) {
  char* text = nullptr;
  if (curl_url_get(url, what, &text, flags) != CURLUE_OK) return false;
  *out = text;
  curl_free(text);
  return true;
}

}  // namespace

int SplitUrl(const std::string& url, UrlParts* parts) {
  *parts = UrlParts();
  UrlHandle parsed;
  if (!parsed.url) return CURLUE_OUT_OF_MEMORY;
  const CURLUcode rc = curl_url_set(parsed.url, CURLUPART_URL, url.c_str(), 0);
  if (rc != CURLUE_OK) return rc;
  std::string port, query;
  if (!UrlPart(parsed.url, CURLUPART_SCHEME, 0, &parts->scheme) ||
      !UrlPart(parsed.url, CURLUPART_HOST, 0, &parts->host) ||
      !UrlPart(parsed.url, CURLUPART_PORT, CURLU_DEFAULT_PORT, &port) ||
      !UrlPart(parsed.url, CURLUPART_PATH, 0, &parts->path))
    return CURLUE_MALFORMED_INPUT;
  if (UrlPart(parsed.url, CURLUPART_QUERY, 0, &query)) parts->path += "?" + query;
  if (parts->scheme.size() > kUrlPartMax || parts->host.size() > kUrlPartMax ||
      parts->path.size() > kUrlPartMax)
    return CURLUE_MALFORMED_INPUT;
  const int number = std::atoi(port.c_str());
  if (number <= 0 || number > 65535) return CURLUE_BAD_PORT_NUMBER;
  parts->port = static_cast<std::uint16_t>(number);
  return 0;
}

// What one download writes to and reports.
struct CServerSession::Transfer {
  CURL* curl = nullptr;
  MessageLoop* main_window = nullptr;
  int activity = 0;
  const std::atomic<int>* cancel = nullptr;
  // Exactly one of the two destinations.
  platform::FileHandle* file = nullptr;
  const std::string* file_path = nullptr;
  std::string* text = nullptr;

  bool started = false;  // the first body bytes (or the end) arrived
  long status = 0;
  std::int64_t length = 0;  // Content-Length, 0 when absent
  std::int64_t total = 0;
  bool file_open = false;
  bool cancelled = false;
  bool write_failed = false;
  bool too_long = false;

  bool Reports() const { return main_window && activity != 0; }

  // Status 200: the file is created and the range posted.
  bool Begin() {
    started = true;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) return true;
    curl_off_t content_length = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &content_length);
    length = content_length > 0 ? content_length : 0;
    if (file) {
      if (!file->OpenReadWrite(*file_path) || !file->Truncate(0)) return false;
      file_open = true;
      if (Reports())
        main_window->PostMessage(WM_STATUS_PROGRESS_RANGE, static_cast<WPARAM>(activity),
                                 static_cast<LPARAM>(length));
    }
    return true;
  }

  static std::size_t OnData(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (!self->started && !self->Begin()) {
      self->write_failed = true;
      return 0;
    }
    if (self->status != 200) return n;  // the body of an error answer is not kept
    if (static_cast<std::size_t>(self->total) + n > kiv_http::kMaxBodyBytes) {
      self->too_long = true;
      return 0;
    }
    if (self->file) {
      if (!self->file->WriteAt(static_cast<std::uint64_t>(self->total), data, n)) {
        self->write_failed = true;
        return 0;
      }
    } else {
      self->text->append(data, n);
    }
    self->total += static_cast<std::int64_t>(n);
    if (self->file && self->Reports()) {
      self->main_window->PostMessage(
          WM_STATUS_PROGRESS_TEXT, static_cast<WPARAM>(self->activity), 0,
          StrFormat(LoadStringResource(IDS_DOWNLOAD_PROGRESS), static_cast<int>(self->total / 1024),
                    static_cast<int>(self->length / 1024)));
      self->main_window->PostMessage(WM_STATUS_PROGRESS_POS, static_cast<WPARAM>(self->activity),
                                     static_cast<LPARAM>(self->total));
    }
    if (self->cancel && self->cancel->load() != 0) {
      self->cancelled = true;
      return 0;
    }
    return n;
  }
};

CServerSession::CServerSession(MessageLoop* main_window) : main_window_(main_window) {
  curl_ = curl_easy_init();
  if (curl_) {
    curl_easy_setopt(Handle(curl_), CURLOPT_USERAGENT, GetUserAgent().c_str());
    curl_easy_setopt(Handle(curl_), CURLOPT_NOSIGNAL, 1L);
  }
  std::string url = GetServerUrl();
  if (url.empty()) url = kDefaultServerUrl;
  CrackServerUrl(url);
}

CServerSession::~CServerSession() {
  if (curl_) curl_easy_cleanup(Handle(curl_));
}

bool CServerSession::CrackServerUrl(const std::string& url) {
  scheme_.clear();
  host_.clear();
  path_.clear();
  port_ = 0;
  UrlParts parts;
  const int rc = SplitUrl(url, &parts);
  if (rc != 0) {
    AppLog().Log(StrFormat("Unable to identify parts of possibly malformed URL, ERR(%d): %s\r\n"
                           "\t\t\t\t   Please make sure the KIV Server URL is correctly "
                           "specified in the settings",
                           rc, url.c_str()),
                 LEVEL_ERROR, MODULE_CLIENT_SERVER);
    return false;
  }
  scheme_ = parts.scheme;
  host_ = parts.host;
  path_ = parts.path;
  port_ = parts.port;
  if (port_ == 443)
    request_flags_ |= kRequestFlagSecure;
  else
    request_flags_ = 0;
  AppLog().LogDetail("Connection Scheme (protocol)", scheme_, LEVEL_VERBOSE, MODULE_CLIENT_SERVER);
  AppLog().LogDetail("Connection Server Host Name", host_, LEVEL_VERBOSE, MODULE_CLIENT_SERVER);
  AppLog().LogDetail("Connection Server URL Path", path_, LEVEL_VERBOSE, MODULE_CLIENT_SERVER);
  AppLog().Log(StrFormat("Connection Server Port Number: %d", port_), LEVEL_VERBOSE,
               MODULE_CLIENT_SERVER);
  return true;
}

bool CServerSession::Perform(const std::string& first_url, Transfer* transfer, std::string* error) {
  if (!curl_) {
    *error = "no HTTP session";
    return false;
  }
  CURL* curl = Handle(curl_);
  transfer->curl = curl;
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  kiv_http::AllowOnlyWebProtocols(curl);
  // Redirects are followed here, one at a time, so that each is checked.
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(kiv_http::kMaxBodyBytes));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ServerCallTimeoutMs()));
  // A server that stops sending ends the transfer instead of holding the
  // agent forever.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                   static_cast<long>(std::max(1u, ServerCallTimeoutMs() / 1000)));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::OnData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, transfer);
  std::string url = first_url;
  CURLcode rc = CURLE_OK;
  for (int redirects = 0;; ++redirects) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    rc = kiv_http::PerformStoppable(curl, transfer->cancel);
    char* next = nullptr;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (rc != CURLE_OK || status / 100 != 3 ||
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &next) != CURLE_OK || !next)
      break;
    *error = redirects == kiv_http::kMaxRedirects ? "too many redirects"
                                                  : kiv_http::RedirectRefusal(url, next);
    if (!error->empty()) {
      *error += StrFormat(" (%s)", next);
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
      return false;
    }
    url = next;
    transfer->started = false;
    transfer->status = 0;
  }
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
  if (rc == CURLE_OK) {
    if (!transfer->started && !transfer->Begin()) {
      *error = "cannot create the file";
      transfer->write_failed = true;
      return false;
    }
    if (transfer->status == 200 && transfer->length > 0 && transfer->total != transfer->length) {
      *error = "the answer is shorter than announced";
      return false;
    }
    return true;
  }
  const bool cancel_set = transfer->cancel && transfer->cancel->load() != 0;
  if ((rc == CURLE_WRITE_ERROR && transfer->cancelled) ||
      (rc == CURLE_ABORTED_BY_CALLBACK && cancel_set))
    return true;
  *error = (transfer->too_long || rc == CURLE_FILESIZE_EXCEEDED) ? "answer too long"
           : transfer->write_failed                              ? "cannot write the file"
           : rc == CURLE_ABORTED_BY_CALLBACK                     ? "stopped"
                                                                 : curl_easy_strerror(rc);
  return false;
}

int CServerSession::DownloadToFile(const std::string& url, const std::string& path, int activity,
                                   const std::atomic<int>* cancel) {
  if (!CrackServerUrl(url)) return -1;
  platform::FileHandle file;
  Transfer transfer;
  transfer.main_window = main_window_;
  transfer.activity = activity;
  transfer.cancel = cancel;
  transfer.file = &file;
  transfer.file_path = &path;
  std::string error;
  const bool ok = Perform(url, &transfer, &error);
  file.Close();
  if (!ok) {
    AppLog().LogDetail(StrFormat("DownloadToFile: %s", error.c_str()), url, LEVEL_ERROR,
                       MODULE_CLIENT_SERVER);
    if (transfer.file_open) platform::RemoveFile(path);
    return -1;
  }
  if (transfer.file_open && transfer.Reports())
    main_window_->PostMessage(WM_STATUS_DONE, static_cast<WPARAM>(activity), 0);
  return (cancel && cancel->load() != 0) ? 1 : 0;
}

int CServerSession::DownloadToString(const std::string& url, std::string* text,
                                     DWORD failure_level) {
  if (!CrackServerUrl(url)) return -1;
  Transfer transfer;
  transfer.text = text;
  std::string error;
  if (!Perform(url, &transfer, &error)) {
    AppLog().LogDetail(StrFormat("DownloadToString: %s", error.c_str()), url, failure_level,
                       MODULE_CLIENT_SERVER);
    return -1;
  }
  return 0;
}
