#include "server/xmlrpc_transport.h"

#include <curl/curl.h>
#include <xmlrpc-c/girerr.hpp>

#include <memory>

#include "app/format.h"
#include "server/curl_transfer.h"

namespace kiv_rpc {
namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Answer {
  std::string body;
  bool too_long = false;

  static std::size_t OnData(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<Answer*>(user);
    const std::size_t n = size * count;
    if (self->body.size() + n > kiv_http::kMaxBodyBytes) {
      self->too_long = true;
      return 0;
    }
    self->body.append(data, n);
    return n;
  }
};

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// True when `text` holds `upper`, which starts with '<', in any letter case.
bool ContainsNoCase(std::string_view text, std::string_view upper) {
  for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
    if (text.size() - at < upper.size()) return false;
    std::size_t i = 1;
    while (i < upper.size() && UpperAscii(text[at + i]) == upper[i]) ++i;
    if (i == upper.size()) return true;
  }
  return false;
}

}  // namespace

std::string AnswerRefusal(std::string_view body) {
  // A NUL byte also stands for UTF-16 text, which would hide markup from
  // the checks below.
  if (body.find('\0') != std::string_view::npos) return "the answer holds a NUL byte";
  if (ContainsNoCase(body, "<!DOCTYPE") || ContainsNoCase(body, "<!ENTITY"))
    return "the answer holds a document type or entity declaration";
  return {};
}

CurlXmlTransport::CurlXmlTransport(std::string url, std::string user_agent, unsigned timeout_ms)
    : url_(std::move(url)), user_agent_(std::move(user_agent)), timeout_ms_(timeout_ms) {}

void CurlXmlTransport::Post(const std::string& call_xml, std::string* response_xml) {
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  curl_slist* raw_headers = curl_slist_append(nullptr, "Content-Type: text/xml");
  if (raw_headers) raw_headers = curl_slist_append(raw_headers, "Expect:");
  std::unique_ptr<curl_slist, ListDeleter> headers(raw_headers);
  if (!easy || !headers) throw girerr::error("cannot set up the HTTP transfer");
  CURL* curl = easy.get();
  Answer answer;
  char error_text[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
  kiv_http::AllowOnlyWebProtocols(curl);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // One request per connection: HTTP/2 would gain nothing, and its library
  // keeps the request in frame buffers that nothing wipes.
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_USERAGENT, user_agent_.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call_xml.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call_xml.size()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ms_));
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(kiv_http::kMaxBodyBytes));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Answer::OnData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text);
  const CURLcode rc = kiv_http::PerformStoppable(curl);
  if (rc == CURLE_ABORTED_BY_CALLBACK) throw girerr::error("stopped: the agent was told to stop");
  if (answer.too_long || rc == CURLE_FILESIZE_EXCEEDED)
    throw girerr::error(StrFormat("the answer is longer than %zu bytes", kiv_http::kMaxBodyBytes));
  if (rc != CURLE_OK)
    throw girerr::error(StrFormat("HTTP POST to %s failed: %s", url_.c_str(),
                                  *error_text ? error_text : curl_easy_strerror(rc)));
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) throw girerr::error(StrFormat("HTTP response code is %ld, not 200", status));
  const std::string refusal = AnswerRefusal(answer.body);
  if (!refusal.empty()) throw girerr::error("refused before parsing: " + refusal);
  *response_xml = std::move(answer.body);
}

}  // namespace kiv_rpc
