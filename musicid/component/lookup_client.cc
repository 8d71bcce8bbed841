// The lookup call over libcurl, and its pacing.
#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "musicid/component/lookup.h"

namespace cddb_component {
namespace {

constexpr long kConnectTimeoutS = 10;
constexpr long kTimeoutS = 30;

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

// The decoded body, refused once it grows beyond the cap (a small
// compressed answer can unpack to much more).
std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  if (body->size() + size * count > kMaxLookupBodyBytes) return 0;
  body->append(data, size * count);
  return size * count;
}

// Called by curl at least once a second, and on every chunk.
int StopRequested(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* fn = static_cast<const LookupClient::StopFn*>(stop);
  return *fn && (*fn)() ? 1 : 0;
}

std::string Escaped(CURL* curl, const std::string& text) {
  char* escaped = curl_easy_escape(curl, text.c_str(), static_cast<int>(text.size()));
  std::string result = escaped ? escaped : "";
  curl_free(escaped);
  return result;
}

}  // namespace

RequestPacer::RequestPacer(std::int64_t interval_ms, NowFn now, SleepFn sleep)
    : interval_ms_(interval_ms), now_(std::move(now)), sleep_(std::move(sleep)) {}

void RequestPacer::Wait() {
  std::int64_t now = now_();
  if (!first_ && now - last_ < interval_ms_) {
    sleep_(interval_ms_ - (now - last_));
    now = now_();
  }
  first_ = false;
  last_ = now;
}

LookupClient::LookupClient()
    : pacer_(kLookupIntervalMs, SteadyMs,
             [](std::int64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

LookupAnswer LookupClient::Lookup(const LookupRequest& request, const StopFn& stop) {
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return ReadLookupAnswer(0, {});
  CURL* c = curl.get();
  const std::string form = "client=" + Escaped(c, request.client_key) +
                           "&duration=" + std::to_string(request.duration) +
                           "&fingerprint=" + Escaped(c, request.fingerprint) +
                           "&meta=recordings+releasegroups+compress&format=json";
  std::string body;
  curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, form.c_str());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(form.size()));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutS);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, kTimeoutS);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "Vornic-Identification/1.0");
  curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxLookupBodyBytes));
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, StopRequested);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<StopFn*>(&stop));
  if (!request.proxy_host.empty()) {
    curl_easy_setopt(c, CURLOPT_PROXY, request.proxy_host.c_str());
    curl_easy_setopt(c, CURLOPT_PROXYPORT, request.proxy_port);
    if (!request.proxy_user.empty()) {
      curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, request.proxy_user.c_str());
      curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, request.proxy_password.c_str());
    }
  }
  pacer_.Wait();
  if (stop && stop()) return ReadLookupAnswer(0, {});
  const CURLcode code = curl_easy_perform(c);
  if (code != CURLE_OK) {
    LookupAnswer answer = ReadLookupAnswer(0, {});
    answer.message = curl_easy_strerror(code);
    return answer;
  }
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  LookupAnswer answer = ReadLookupAnswer(status, body);
  curl_off_t retry_after = 0;
  if (curl_easy_getinfo(c, CURLINFO_RETRY_AFTER, &retry_after) == CURLE_OK && retry_after > 0)
    answer.retry_after = static_cast<std::int64_t>(retry_after);
  return answer;
}

}  // namespace cddb_component
