// The authentication methods against the development server: what goes on
// the wire and what the answers do to AuthState and the settings.
#include <gtest/gtest.h>

#include "server/connectivity.h"
#include "server/kiv_protocol.h"
#include "server/server_session.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

class KivAuthTest : public ServerTest {};

TEST_F(KivAuthTest, PasswordExchangeSendsSortedIdentityStructWithExactUserAgent) {
  std::string client_password;
  EXPECT_EQ(AuthenticateByPassword(kUser, kPassword, &client_password, 0), 0);
  EXPECT_EQ(client_password, kClientPassword);
  EXPECT_EQ(AuthState, -4);            // the set-state flag was 0
  EXPECT_EQ(Setting("Password"), "");  // the operation writes no settings

  const DevServer::Call call = server_->LastCall();
  EXPECT_EQ(call.method, "AuthenticateByPassword");
  EXPECT_EQ(call.user_agent, "KIV Windows Client/1.0.3.105");
  EXPECT_EQ(call.path, "/kiv_backend/api");
  const std::vector<std::string> order = {"client_os", "client_version", "device_name", "password",
                                          "username"};
  std::size_t at = 0;
  for (const std::string& name : order) {
    std::size_t found = call.body.find("<name>" + name + "</name>", at);
    ASSERT_NE(found, std::string::npos) << name << " missing or out of order:\n" << call.body;
    at = found;
  }
  EXPECT_NE(call.body.find("<string>1.0.3.105</string>"), std::string::npos);
  EXPECT_NE(call.body.find("<string>" + GetClientOs() + "</string>"), std::string::npos);
  EXPECT_EQ(call.body.find("<i8>"), std::string::npos);
}

TEST_F(KivAuthTest, PasswordExchangeStoresStateOnlyWhenAsked) {
  std::string client_password = "untouched";
  EXPECT_EQ(AuthenticateByPassword(kUser, "wrong", &client_password, 1), -2);
  EXPECT_EQ(client_password, "untouched");
  EXPECT_EQ(AuthState, -2);
  EXPECT_EQ(AuthenticateByPassword(kUser, kPassword, &client_password, 1), 0);
  EXPECT_EQ(AuthState, 0);
  server_->Stop();
  EXPECT_EQ(AuthenticateByPassword(kUser, kPassword, &client_password, 1), -3);
  EXPECT_EQ(AuthState, 0);  // an error leaves the state alone
  EXPECT_EQ(LogCount("XML-RPC exception in AuthenticateByPassword: "), 1);
}

TEST_F(KivAuthTest, XmlSpecialCharactersInCredentialsArriveIntact) {
  const std::string user = "o'brien&co<x>@example.com";
  const std::string password = "p<a&s>s\"w'd]]>";
  server_->SetConfig(
      "{\"accounts\": [{\"username\": \"o'brien&co<x>@example.com\", "
      "\"password\": \"p<a&s>s\\\"w'd]]>\", \"client_password\": \"c&<>\"}]}");
  std::string client_password;
  ASSERT_EQ(AuthenticateByPassword(user, password, &client_password, 0), 0);
  EXPECT_EQ(client_password, "c&<>");
  const std::string body = server_->LastCall().body;
  EXPECT_EQ(body.find("<x>"), std::string::npos) << body;
  EXPECT_NE(body.find("&amp;"), std::string::npos);

  // The stored pair goes out in every authenticated call and is accepted.
  SetSetting("Username", user);
  SetSetting("Password", client_password);
  EXPECT_EQ(ValidateAuthentication(user, client_password), 0);
  EXPECT_EQ(SendIndexStopRequest(), 1);
}

TEST_F(KivAuthTest, TokenSignInWritesTheAnsweredCredentials) {
  EXPECT_EQ(AuthenticateByToken(kUserId, kToken), 1);
  EXPECT_EQ(AuthState, 0);
  EXPECT_EQ(Setting("Username"), kUser);
  EXPECT_EQ(Setting("Password"), kClientPassword);
  const std::string body = server_->LastCall().body;
  EXPECT_LT(body.find("<name>token</name>"), body.find("<name>user_id</name>"));

  SetSetting("Username", "kept");
  EXPECT_EQ(AuthenticateByToken(kUserId, "stale"), 1);  // answered, but no credentials
  EXPECT_EQ(AuthState, -2);
  EXPECT_EQ(Setting("Username"), "kept");
}

TEST_F(KivAuthTest, TokenAnswerWithEmptyClientPasswordChangesNoSetting) {
  server_->SetConfig(std::string("{\"accounts\": [{\"username\": \"") + kUser +
                     "\", \"password\": \"x\", \"user_id\": \"" + kUserId + "\", \"token\": \"" +
                     kToken + "\", \"client_password\": \"\"}]}");
  SetSetting("Username", "before");
  SetSetting("Password", "before-pw");
  EXPECT_EQ(AuthenticateByToken(kUserId, kToken), 1);
  EXPECT_EQ(AuthState, -2);
  EXPECT_EQ(Setting("Username"), "before");
  EXPECT_EQ(Setting("Password"), "before-pw");

  server_->Stop();
  AuthState = 0;
  EXPECT_EQ(AuthenticateByToken(kUserId, kToken), -1);
  EXPECT_EQ(AuthState, 0);
}

TEST_F(KivAuthTest, ValidationNeedsStatusFlagOneAndReturnCodeZero) {
  EXPECT_EQ(ValidateAuthentication(kUser, kClientPassword), 0);
  EXPECT_EQ(ValidateAuthentication(kUser, kPassword), -2);  // the user's own password is not it
  server_->SetConfig(ConfigWith("\"results\": {\"ValidateAuthentication\": {\"status_flag\": 0}}"));
  EXPECT_EQ(ValidateAuthentication(kUser, kClientPassword), -2);
  server_->SetConfig(ConfigWith("\"results\": {\"ValidateAuthentication\": {\"status_flag\": 1}}"));
  EXPECT_EQ(ValidateAuthentication(kUser, kClientPassword), 0);  // absent return_code is 0
  server_->SetConfig(
      ConfigWith("\"results\": {\"ValidateAuthentication\": {\"status_flag\": \"1\"}}"));
  EXPECT_EQ(ValidateAuthentication(kUser, kClientPassword), -3);
  EXPECT_NE(LogText().find("XML-RPC exception in ValidateAuthentication: member 'status_flag'"),
            std::string::npos);
}

TEST_F(KivAuthTest, MissingCredentialsAreSentEmptyAndLogged) {
  EXPECT_EQ(SendIndexStopRequest(), 0);  // the server refuses the empty pair
  EXPECT_EQ(LogCount("Username is not set, this must be set to talk to server"), 1);
  EXPECT_NE(server_->LastCall().body.find("<name>username</name>"), std::string::npos);
}

}  // namespace
}  // namespace server_test
