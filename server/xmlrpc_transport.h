// CurlXmlTransport: carries one XML-RPC call to the server as an HTTP POST
// on libcurl and hands back only an answer that is safe to parse. Internal
// to server/.
//
// The answer must come with status 200 within the time limit, stays below
// kiv_http::kMaxBodyBytes while it arrives, and must hold no document type
// or entity declaration (entity expansion would let a few bytes of answer
// cost minutes of work). Redirects are not followed. The transfer gives up
// as soon as the calling agent thread is told to stop. Every failure
// throws girerr::error with a text that says which.
#pragma once

#include <string>
#include <string_view>

namespace kiv_rpc {

class CurlXmlTransport {
 public:
  // `user_agent` is sent exactly as given.
  CurlXmlTransport(std::string url, std::string user_agent, unsigned timeout_ms);

  // Posts `call_xml` as it stands (curl sends from this buffer and copies
  // it only into its own, wiped, buffers) and sets `*response_xml` to the
  // answer's body.
  void Post(const std::string& call_xml, std::string* response_xml);

 private:
  std::string url_;
  std::string user_agent_;
  unsigned timeout_ms_;
};

// Why an answer body must not reach the XML parser; empty when it may.
std::string AnswerRefusal(std::string_view body);

}  // namespace kiv_rpc
