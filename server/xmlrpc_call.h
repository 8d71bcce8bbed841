// The common shape of every KIV XML-RPC call, and readers and builders of
// the values the calls exchange. Internal to server/: the protocol
// operations (kiv_protocol.h) are built on it.
//
// Any thread; RunCall holds ServerCallLock for the whole call.
#pragma once

#include <xmlrpc-c/base.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv_rpc {

using Members = std::map<std::string, xmlrpc_c::value>;

// The secrets of one call (a password, a login token). xmlrpc-c frees its
// values and serialised texts without wiping them, so a secret never goes
// through it: the parameters hold a placeholder for it, and the secret is
// put into the call's text only after serialising, in a buffer of ours
// that is wiped once sent. Not copyable; wipes its copies when destroyed.
class CallSecrets {
 public:
  CallSecrets() = default;
  ~CallSecrets();
  CallSecrets(const CallSecrets&) = delete;
  CallSecrets& operator=(const CallSecrets&) = delete;

  // The string value that stands for `secret` in the parameters.
  xmlrpc_c::value Hold(std::string secret);
  // `call_xml` with every placeholder replaced by its secret, escaped as
  // xmlrpc-c escapes a string value, in a buffer allocated once; the caller
  // wipes it. Throws when a placeholder does not occur exactly once or a
  // secret is not UTF-8.
  std::string Fill(std::string_view call_xml) const;

 private:
  std::vector<std::pair<std::string, std::string>> held_;  // placeholder, secret
};

// One call of `method`: enters ServerCallLock, builds the parameters with
// `build`, serialises them, posts them through CurlXmlTransport (user agent
// exactly GetUserAgent(), certificates verified, time limit
// ServerCallTimeoutMs(), answers capped and checked before parsing), and
// hands the result to `read`. Every text of ours that held the call or its
// answer is wiped after use. Everything that throws, in building, calling
// or reading, is caught and logged as "XML-RPC exception in <method>:
// <text>"; the result is then false.
bool RunCall(const char* method,
             const std::function<void(xmlrpc_c::paramList&, CallSecrets&)>& build,
             const std::function<void(const xmlrpc_c::value&)>& read);

// Reads members of a result that must be a struct: an absent member is 0
// or empty; a present member of another type throws.
class ResultStruct {
 public:
  // Throws when `value` is not a struct.
  explicit ResultStruct(const xmlrpc_c::value& value);
  int Int(const std::string& name) const;
  std::string String(const std::string& name) const;

 private:
  const xmlrpc_c::value* Find(const std::string& name) const;
  Members members_;
};

// The credential struct of every authenticated call: the Username and
// Password settings (the password held by `secrets`) and the client's
// identity.
xmlrpc_c::value AuthParams(CallSecrets& secrets);
// `members` plus device_name, client_os and client_version.
xmlrpc_c::value IdentityStruct(Members members);

// A whole decimal text of a positive signed 64-bit number (blanks around
// it allowed); 0 for anything else.
std::int64_t ParsePositiveId(const std::string& text);

}  // namespace kiv_rpc
