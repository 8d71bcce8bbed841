// CurlXmlTransport: carries one XML-RPC call to the server as an HTTP POST
// on libcurl, for xmlrpc-c's client, and hands back only an answer that is
// safe to parse. Internal to server/.
//
// The answer must come with status 200 within the time limit, stays below
// kiv_http::kMaxBodyBytes while it arrives, and must hold no document type
// or entity declaration (entity expansion would let a few bytes of answer
// cost minutes of work). Redirects are not followed. The transfer gives up
// as soon as the calling agent thread is told to stop. Every failure
// throws girerr::error with a text that says which.
#pragma once

#include <xmlrpc-c/client_transport.hpp>

#include <string>
#include <string_view>

namespace kiv_rpc {

class CurlXmlTransport : public xmlrpc_c::clientXmlTransport {
 public:
  // `user_agent` is sent exactly as given.
  CurlXmlTransport(std::string url, std::string user_agent, unsigned timeout_ms);

  // The carriage parameter is not used: the address is the transport's.
  void call(xmlrpc_c::carriageParm* carriage, const std::string& call_xml,
            std::string* response_xml) override;

 private:
  std::string url_;
  std::string user_agent_;
  unsigned timeout_ms_;
};

// The carriage parameter to hand to xmlrpc-c's client with this transport.
class NoCarriage : public xmlrpc_c::carriageParm {};

// Why an answer body must not reach the XML parser; empty when it may.
std::string AnswerRefusal(std::string_view body);

}  // namespace kiv_rpc
