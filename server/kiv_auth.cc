// The authentication methods: AuthenticateByToken, AuthenticateByPassword
// and ValidateAuthentication.
#include <functional>
#include <utility>

#include "app/reg_settings.h"
#include "server/connectivity.h"
#include "server/kiv_protocol.h"
#include "server/server_session.h"
#include "server/xmlrpc_call.h"

using kiv_rpc::Members;
using kiv_rpc::ResultStruct;

namespace {

// One call whose only parameter is the identity struct with a pair of
// credential members: `name` with its text and `secret_name` with a secret
// (a password or token) that stays out of xmlrpc-c; `read` gets the result
// as a struct. False when no answer came.
bool CallWithIdentity(const char* method, const char* name, const std::string& text,
                      const char* secret_name, const std::string& secret,
                      const std::function<void(const ResultStruct&)>& read) {
  return kiv_rpc::RunCall(
      method,
      [&](xmlrpc_c::paramList& params, kiv_rpc::CallSecrets& secrets) {
        Members members;
        members[name] = xmlrpc_c::value_string(text);
        members[secret_name] = secrets.Hold(secret);
        params.add(kiv_rpc::IdentityStruct(std::move(members)));
      },
      [&](const xmlrpc_c::value& result) { read(ResultStruct(result)); });
}

}  // namespace

int AuthenticateByToken(const std::string& user_id, const std::string& token) {
  std::string username, client_password;
  const bool answered = CallWithIdentity("AuthenticateByToken", "user_id", user_id, "token", token,
                                         [&](const ResultStruct& answer) {
                                           username = answer.String("username");
                                           client_password = answer.String("client_password");
                                         });
  if (!answered) return -1;
  if (!username.empty() && !client_password.empty()) {
    AppSettings().WriteStringUtf8(kSubKeySettings, "Username", username);
    AppSettings().WriteStringUtf8(kSubKeySettings, "Password", client_password);
    AuthState = 0;
  } else {
    AuthState = -2;
  }
  return 1;
}

int AuthenticateByPassword(const std::string& username, const std::string& password,
                           std::string* client_password, int set_state) {
  std::string answered_user, answered_password;
  const bool answered = CallWithIdentity("AuthenticateByPassword", "username", username, "password",
                                         password, [&](const ResultStruct& answer) {
                                           answered_user = answer.String("username");
                                           answered_password = answer.String("client_password");
                                         });
  if (!answered) return -3;
  const int rc = (!answered_user.empty() && !answered_password.empty()) ? 0 : -2;
  if (rc == 0 && client_password) *client_password = answered_password;
  if (set_state) AuthState = rc;
  return rc;
}

int ValidateAuthentication(const std::string& username, const std::string& password) {
  int status_flag = 0, return_code = 0;
  const bool answered = CallWithIdentity("ValidateAuthentication", "username", username, "password",
                                         password, [&](const ResultStruct& answer) {
                                           status_flag = answer.Int("status_flag");
                                           return_code = answer.Int("return_code");
                                           answer.String("message");  // read for its type; not used
                                         });
  if (!answered) return -3;
  return (status_flag == 1 && return_code == 0) ? 0 : -2;
}
