#include "server/xmlrpc_call.h"

#include <xmlrpc-c/client.hpp>
#include <xmlrpc-c/girerr.hpp>

#include <charconv>
#include <exception>
#include <mutex>
#include <stdexcept>

#include "app/format.h"
#include "app/log.h"
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

void LogException(const char* method, const std::string& text) {
  AppLog().Log(StrFormat("XML-RPC exception in %s: %s", method, text.c_str()), LEVEL_ERROR,
               MODULE_CLIENT_SERVER);
}

}  // namespace

bool RunCall(const char* method, const std::function<void(xmlrpc_c::paramList&)>& build,
             const std::function<void(const xmlrpc_c::value&)>& read) {
  std::lock_guard<std::recursive_mutex> lock(ServerCallLock);
  try {
    CurlXmlTransport transport(GetServerUrl(), GetUserAgent(), ServerCallTimeoutMs());
    xmlrpc_c::client_xml client(&transport);
    NoCarriage carriage;
    xmlrpc_c::paramList params;
    build(params);
    xmlrpc_c::rpcPtr rpc(method, params);
    rpc->call(&client, &carriage);
    if (!rpc->isSuccessful()) {
      const xmlrpc_c::fault fault = rpc->getFault();
      throw std::runtime_error(
          StrFormat("fault %d: %s", fault.getCode(), fault.getDescription().c_str()));
    }
    read(rpc->getResult());
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

xmlrpc_c::value AuthParams() {
  Members members;
  members["username"] = xmlrpc_c::value_string(GetUsername());
  members["password"] = xmlrpc_c::value_string(GetPassword());
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
