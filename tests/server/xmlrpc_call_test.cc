// Secrets stay out of xmlrpc-c yet reach the server exactly as xmlrpc-c
// would have written them, and a sign-in over https leaves no copy of the
// call's text behind.
#include "server/xmlrpc_call.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <xmlrpc-c/xml.hpp>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "server/curl_transfer.h"
#include "server/kiv_protocol.h"
#include "tests/server/server_test_util.h"
#include "tests/support/own_memory.h"

namespace {

std::string Serialised(const xmlrpc_c::paramList& params) {
  std::string xml;
  xmlrpc_c::xml::generateCall("AuthenticateByPassword", params, &xml);
  return xml;
}

TEST(CallSecretsTest, SecretsAreWrittenAsXmlrpcWritesThemButNeverPassThroughIt) {
  for (const std::string password :
       {"plain", "a<b>&c;&amp;", "line\r\nends\rand\nmore", "caf\xc3\xa9 \xe2\x82\xac", "]]>"}) {
    const std::string token = password + "-token";
    kiv_rpc::CallSecrets secrets;
    kiv_rpc::Members members;
    members["password"] = secrets.Hold(password);
    members["token"] = secrets.Hold(token);
    members["username"] = xmlrpc_c::value_string("me@example.org");
    xmlrpc_c::paramList held;
    held.add(xmlrpc_c::value_struct(members));
    const std::string call_xml = Serialised(held);
    EXPECT_EQ(call_xml.find(password), std::string::npos) << "xmlrpc-c saw the secret";

    kiv_rpc::Members plain;
    plain["password"] = xmlrpc_c::value_string(password);
    plain["token"] = xmlrpc_c::value_string(token);
    plain["username"] = xmlrpc_c::value_string("me@example.org");
    xmlrpc_c::paramList direct;
    direct.add(xmlrpc_c::value_struct(plain));
    EXPECT_EQ(secrets.Fill(call_xml), Serialised(direct)) << password;
  }
}

TEST(CallSecretsTest, ASecretThatIsNotUtf8OrHasNoSinglePlaceIsRefused) {
  kiv_rpc::CallSecrets bad_text;
  xmlrpc_c::paramList params;
  params.add(bad_text.Hold("\xff\xfe"));
  EXPECT_THROW(bad_text.Fill(Serialised(params)), std::runtime_error);

  kiv_rpc::CallSecrets unused;
  unused.Hold("never placed");
  EXPECT_THROW(unused.Fill(Serialised(xmlrpc_c::paramList())), std::runtime_error);

  kiv_rpc::CallSecrets twice;
  const xmlrpc_c::value placeholder = twice.Hold("twice");
  xmlrpc_c::paramList doubled;
  doubled.add(placeholder).add(placeholder);
  EXPECT_THROW(twice.Fill(Serialised(doubled)), std::runtime_error);
}

class SignInMemoryDeathTest : public server_test::ServerTest {
 protected:
  // Signs in over https and gives the copies of `needle` in memory, or a
  // status above 100 for a step that failed. Curl is set up first, as the
  // program's main does.
  int CopiesAfterAnHttpsSignIn(const std::string& needle) {
    kiv_http::GlobalInit();
    const std::string cert = env_.Path("cert.pem");
    const std::string key = env_.Path("key.pem");
    const std::string make_cert =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        key + "' -out '" + cert + "' >/dev/null 2>&1";
    // This process ends with _exit, past the fixture: its server goes now.
    server_.reset();
    if (std::system(make_cert.c_str()) != 0) return 101;
    server_test::DevServer tls(env_.Path("tls"), {"--tls-cert", cert, "--tls-key", key});
    if (!tls.ok()) return 102;
    tls.SetConfig(server_test::ConfigWith());
    kiv_http::SetTrustedAuthorities(cert);
    SetSetting("ServerUrl", "https://127.0.0.1:" + std::to_string(tls.port()) + "/kiv_backend/api");
    std::string client_password;
    if (AuthenticateByPassword(server_test::kUser, server_test::kPassword, &client_password, 0))
      return 103;
    return std::min(testing_support::CopiesInOwnMemory(needle.data(), needle.size()), 100);
  }
};

// In a process of its own, started by the death-test machinery, so that
// this test sets curl up before anything else uses it.
TEST_F(SignInMemoryDeathTest, AnHttpsSignInLeavesNoCopyOfTheCallsText) {
  std::string needle;
  needle.reserve(64);
  needle.append("<value><string>").append(server_test::kPassword).append("</string></value>");
  if (testing_support::CopiesInOwnMemory(needle.data(), needle.size()) < 0)
    GTEST_SKIP() << "this process's memory cannot be read";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The count is the exit status; _exit skips the leak check at exit.
  EXPECT_EXIT(::_exit(CopiesAfterAnHttpsSignIn(needle)), ::testing::ExitedWithCode(0), "");
}

}  // namespace
