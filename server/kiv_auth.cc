// The authentication methods: AuthenticateByToken, AuthenticateByPassword
// and ValidateAuthentication.
#include "app/reg_settings.h"
#include "server/kiv_protocol.h"
#include "server/server_session.h"
#include "server/xmlrpc_call.h"

using kiv_rpc::Members;
using kiv_rpc::ResultStruct;

int AuthenticateByToken(const std::string& user_id, const std::string& token) {
  std::string username, client_password;
  const bool answered = kiv_rpc::RunCall(
      "AuthenticateByToken",
      [&](xmlrpc_c::paramList& params) {
        Members members;
        members["user_id"] = xmlrpc_c::value_string(user_id);
        members["token"] = xmlrpc_c::value_string(token);
        params.add(kiv_rpc::IdentityStruct(std::move(members)));
      },
      [&](const xmlrpc_c::value& result) {
        ResultStruct answer(result);
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
  const bool answered = kiv_rpc::RunCall(
      "AuthenticateByPassword",
      [&](xmlrpc_c::paramList& params) {
        Members members;
        members["username"] = xmlrpc_c::value_string(username);
        members["password"] = xmlrpc_c::value_string(password);
        params.add(kiv_rpc::IdentityStruct(std::move(members)));
      },
      [&](const xmlrpc_c::value& result) {
        ResultStruct answer(result);
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
  const bool answered = kiv_rpc::RunCall(
      "ValidateAuthentication",
      [&](xmlrpc_c::paramList& params) {
        Members members;
        members["username"] = xmlrpc_c::value_string(username);
        members["password"] = xmlrpc_c::value_string(password);
        params.add(kiv_rpc::IdentityStruct(std::move(members)));
      },
      [&](const xmlrpc_c::value& result) {
        ResultStruct answer(result);
        status_flag = answer.Int("status_flag");
        return_code = answer.Int("return_code");
        answer.String("message");  // read for its type; not used
      });
  if (!answered) return -3;
  return (status_flag == 1 && return_code == 0) ? 0 : -2;
}
