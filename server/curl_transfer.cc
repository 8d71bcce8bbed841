#include "server/curl_transfer.h"

#include <memory>
#include <mutex>

#include "app/kiv_client_agent.h"
#include "platform/wiping_memory.h"

namespace kiv_http {
namespace {

constexpr int kStopPollMs = 50;

std::mutex g_authorities_mutex;
std::string g_authorities;
constexpr long kClosingCallMs = 1000;

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// Lower-case scheme and host of `url`; false when curl cannot parse it.
bool SchemeAndHost(const std::string& url, std::string* scheme, std::string* host) {
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed ||
      curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
    return false;
  char* part = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &part, 0) != CURLUE_OK) return false;
  *scheme = part;
  curl_free(part);
  host->clear();  // a file address has none
  if (curl_url_get(parsed.get(), CURLUPART_HOST, &part, 0) == CURLUE_OK) {
    *host = part;
    curl_free(part);
  }
  for (std::string* text : {scheme, host})
    for (char& c : *text)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return true;
}

}  // namespace

bool GlobalInit() {
  return curl_global_init_mem(CURL_GLOBAL_DEFAULT, platform::WipingMalloc, platform::WipingFree,
                              platform::WipingRealloc, platform::WipingStrdup,
                              platform::WipingCalloc) == CURLE_OK;
}

void AllowOnlyWebProtocols(CURL* easy) {
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  std::lock_guard<std::mutex> lock(g_authorities_mutex);
  if (!g_authorities.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, g_authorities.c_str());
}

void SetTrustedAuthorities(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_authorities_mutex);
  g_authorities = path;
}

std::string RedirectRefusal(const std::string& from, const std::string& to) {
  std::string from_scheme, from_host, to_scheme, to_host;
  if (!SchemeAndHost(from, &from_scheme, &from_host) || !SchemeAndHost(to, &to_scheme, &to_host))
    return "redirect to an unreadable address";
  if (to_scheme != "http" && to_scheme != "https")
    return "redirect to the unsupported scheme " + to_scheme;
  if (from_scheme == "https" && to_scheme == "http") return "redirect from https to plain http";
  if (from_host != to_host) return "redirect to another host, " + to_host;
  return {};
}

CURLcode PerformStoppable(CURL* easy, const std::atomic<int>* cancel) {
  if (cancel && cancel->load() != 0) return CURLE_ABORTED_BY_CALLBACK;
  const bool closing = CKivClientAgent::CurrentStopRequested();
  if (closing) curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, kClosingCallMs);
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
  CURLcode result = CURLE_OK;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) {
      int left = 0;
      CURLMsg* message = curl_multi_info_read(multi.get(), &left);
      result = (message && message->msg == CURLMSG_DONE) ? message->data.result : CURLE_FAILED_INIT;
      break;
    }
    if ((cancel && cancel->load() != 0) || (!closing && CKivClientAgent::CurrentStopRequested())) {
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    if (curl_multi_poll(multi.get(), nullptr, 0, kStopPollMs, nullptr) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
  }
  curl_multi_remove_handle(multi.get(), easy);
  return result;
}

}  // namespace kiv_http
