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

namespace kiv_rpc {

using Members = std::map<std::string, xmlrpc_c::value>;

// One call of `method`: enters ServerCallLock, creates the client and its
// transport (CurlXmlTransport: user agent exactly GetUserAgent(),
// certificates verified, time limit ServerCallTimeoutMs(), answers capped
// and checked before parsing), builds the parameters with `build`,
// calls, and hands the result to `read`. Everything that throws, in
// building, calling or reading, is caught and logged as "XML-RPC exception
// in <method>: <text>"; the result is then false.
bool RunCall(const char* method, const std::function<void(xmlrpc_c::paramList&)>& build,
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
// Password settings and the client's identity.
xmlrpc_c::value AuthParams();
// `members` plus device_name, client_os and client_version.
xmlrpc_c::value IdentityStruct(Members members);

// A whole decimal text of a positive signed 64-bit number (blanks around
// it allowed); 0 for anything else.
std::int64_t ParsePositiveId(const std::string& text);

}  // namespace kiv_rpc
