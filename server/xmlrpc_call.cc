#include "server/xmlrpc_call.h"

#include <xmlrpc-c/util.h>
#include <xmlrpc-c/girerr.hpp>
#include <xmlrpc-c/xml.hpp>

#include <algorithm>
#include <charconv>
#include <exception>
#include <mutex>
#include <random>
#include <stdexcept>

#include "app/format.h"
#include "app/log.h"
#include "platform/secret_text.h"
#include "platform/text.h"
#include "server/server_session.h"
#include "server/xmlrpc_transport.h"

namespace kiv_rpc {
namespace {

const char* TypeName(xmlrpc_c::value::type_t type) {
  switch (type) {
    case xmlrpc_c::value::TYPE_INT:
      return "int";
    case xmlrpc_c::value::TYPE_BOOLEAN:
      return "boolean";
    case xmlrpc_c::value::TYPE_DOUBLE:
      return "double";
    case xmlrpc_c::value::TYPE_DATETIME:
      return "dateTime";
    case xmlrpc_c::value::TYPE_STRING:
      return "string";
    case xmlrpc_c::value::TYPE_BYTESTRING:
      return "base64";
    case xmlrpc_c::value::TYPE_ARRAY:
      return "array";
    case xmlrpc_c::value::TYPE_STRUCT:
      return "struct";
    case xmlrpc_c::value::TYPE_I8:
      return "i8";
    case xmlrpc_c::value::TYPE_NIL:
      return "nil";
    default:
      return "unknown";
  }
}

// Appends `text` as an XML-RPC string value to `*out` (or only counts,
// when `out` is null) and returns its length: xmlrpc-c turns CR LF and a
// lone CR into LF and escapes '&', '<' and '>'.
std::size_t AppendXmlEscaped(std::string_view text, std::string* out) {
  std::size_t size = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    const std::string_view piece = c == '&'    ? "&amp;"
                                   : c == '<'  ? "&lt;"
                                   : c == '>'  ? "&gt;"
                                   : c == '\r' ? "\n"
                                               : std::string_view(&text[i], 1);
    size += piece.size();
    if (out) out->append(piece);
  }
  return size;
}

void LogException(const char* method, const std::string& text) {
  AppLog().Log(StrFormat("XML-RPC exception in %s: %s", method, text.c_str()), LEVEL_ERROR,
               MODULE_CLIENT_SERVER);
}

}  // namespace

CallSecrets::~CallSecrets() {
  for (auto& [placeholder, secret] : held_) platform::WipeString(secret);
}

xmlrpc_c::value CallSecrets::Hold(std::string secret) {
  std::random_device random;
  const std::string placeholder =
      StrFormat("secret-%08x%08x-%zu", random(), random(), held_.size());
  held_.emplace_back(placeholder, std::move(secret));
  return xmlrpc_c::value_string(placeholder);
}

std::string CallSecrets::Fill(std::string_view call_xml) const {
  struct Place {
    std::size_t at;
    const std::string* placeholder;
    const std::string* secret;
  };
  std::vector<Place> places;
  std::size_t size = call_xml.size();
  for (const auto& [placeholder, secret] : held_) {
    const std::size_t at = call_xml.find(placeholder);
    if (at == std::string_view::npos ||
        call_xml.find(placeholder, at + placeholder.size()) != std::string_view::npos)
      throw std::runtime_error("a secret's place in the call is not unique");
    xmlrpc_env env;
    xmlrpc_env_init(&env);
    xmlrpc_validate_utf8(&env, secret.data(), secret.size());
    const bool valid = !env.fault_occurred;
    xmlrpc_env_clean(&env);
    if (!valid) throw std::runtime_error("a password or token is not valid UTF-8");
    size += AppendXmlEscaped(secret, nullptr) - placeholder.size();
    places.push_back({at, &placeholder, &secret});
  }
  std::sort(places.begin(), places.end(),
            [](const Place& a, const Place& b) { return a.at < b.at; });
  std::string filled;
  filled.reserve(size);
  std::size_t from = 0;
  for (const Place& place : places) {
    filled.append(call_xml.substr(from, place.at - from));
    AppendXmlEscaped(*place.secret, &filled);
    from = place.at + place.placeholder->size();
  }
  filled.append(call_xml.substr(from));
  return filled;
}

bool RunCall(const char* method,
             const std::function<void(xmlrpc_c::paramList&, CallSecrets&)>& build,
             const std::function<void(const xmlrpc_c::value&)>& read) {
  std::lock_guard<std::recursive_mutex> lock(ServerCallLock);
  std::string body, answer;
  const platform::WipeOnExit wipe_body(body), wipe_answer(answer);
  try {
    CurlXmlTransport transport(GetServerUrl(), GetUserAgent(), ServerCallTimeoutMs());
    {
      CallSecrets secrets;
      xmlrpc_c::paramList params;
      build(params, secrets);
      std::string call_xml;
      xmlrpc_c::xml::generateCall(method, params, &call_xml);
      body = secrets.Fill(call_xml);
    }
    try {
      transport.Post(body, &answer);
    } catch (const std::exception& e) {
      throw std::runtime_error(
          StrFormat("Unable to transport XML to server and get XML response back.  %s", e.what()));
    }
    xmlrpc_c::rpcOutcome outcome;
    try {
      xmlrpc_c::xml::parseResponse(answer, &outcome);
    } catch (const std::exception& e) {
      throw std::runtime_error(
          StrFormat("Response XML from server is not valid XML-RPC response.  %s", e.what()));
    }
    if (!outcome.succeeded()) {
      const xmlrpc_c::fault fault = outcome.getFault();
      throw std::runtime_error(
          StrFormat("fault %d: %s", fault.getCode(), fault.getDescription().c_str()));
    }
    read(outcome.getResult());
    return true;
  } catch (const std::exception& e) {
    LogException(method, e.what());
  } catch (const xmlrpc_c::fault& fault) {
    LogException(method,
                 StrFormat("fault %d: %s", fault.getCode(), fault.getDescription().c_str()));
  } catch (...) {
    LogException(method, "unknown error");
  }
  return false;
}

ResultStruct::ResultStruct(const xmlrpc_c::value& value) {
  if (value.type() != xmlrpc_c::value::TYPE_STRUCT)
    throw std::runtime_error(StrFormat("result is a %s, not a struct", TypeName(value.type())));
  members_ = static_cast<Members>(xmlrpc_c::value_struct(value));
}

const xmlrpc_c::value* ResultStruct::Find(const std::string& name) const {
  auto it = members_.find(name);
  return it == members_.end() ? nullptr : &it->second;
}

int ResultStruct::Int(const std::string& name) const {
  const xmlrpc_c::value* member = Find(name);
  if (!member) return 0;
  if (member->type() != xmlrpc_c::value::TYPE_INT)
    throw std::runtime_error(
        StrFormat("member '%s' is a %s, not an int", name.c_str(), TypeName(member->type())));
  return xmlrpc_c::value_int(*member).cvalue();
}

std::string ResultStruct::String(const std::string& name) const {
  const xmlrpc_c::value* member = Find(name);
  if (!member) return {};
  if (member->type() != xmlrpc_c::value::TYPE_STRING)
    throw std::runtime_error(
        StrFormat("member '%s' is a %s, not a string", name.c_str(), TypeName(member->type())));
  return xmlrpc_c::value_string(*member).cvalue();
}

xmlrpc_c::value IdentityStruct(Members members) {
  members["device_name"] = xmlrpc_c::value_string(GetDeviceName());
  members["client_os"] = xmlrpc_c::value_string(GetClientOs());
  members["client_version"] = xmlrpc_c::value_string(GetClientVersion());
  return xmlrpc_c::value_struct(members);
}

xmlrpc_c::value AuthParams(CallSecrets& secrets) {
  Members members;
  members["username"] = xmlrpc_c::value_string(GetUsername());
  members["password"] = secrets.Hold(GetPassword());
  return IdentityStruct(std::move(members));
}

std::int64_t ParsePositiveId(const std::string& text) {
  std::string_view digits = platform::TrimWhite(text);
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size() || value <= 0) return 0;
  return value;
}

}  // namespace kiv_rpc
