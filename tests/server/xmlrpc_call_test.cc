// Secrets stay out of xmlrpc-c yet reach the server exactly as xmlrpc-c
// would have written them.
#include "server/xmlrpc_call.h"

#include <gtest/gtest.h>
#include <xmlrpc-c/xml.hpp>

#include <stdexcept>

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

}  // namespace
