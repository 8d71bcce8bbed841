// Transport failures: every one ends the call with the operation's error
// value and a log line, never a crash or a hang.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "server/kiv_protocol.h"
#include "server/server_session.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

using Clock = std::chrono::steady_clock;

class ServerFailuresTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    UseAccount();
  }
};

TEST_F(ServerFailuresTest, HttpErrorsAndDroppedConnections) {
  Fail("*", "{\"mode\": \"http500\"}");
  EXPECT_EQ(SendIndexStartRequest(1), -1);
  EXPECT_EQ(ValidateAuthentication(kUser, kClientPassword), -3);
  double seconds = 4;
  EXPECT_EQ(GetRateLimit(&seconds), 0);
  EXPECT_EQ(seconds, 4);
  EXPECT_NE(LogText().find("XML-RPC exception in IndexStart: "), std::string::npos);
  EXPECT_NE(LogText().find("500"), std::string::npos);

  Fail("*", "{\"mode\": \"drop\"}");
  EXPECT_EQ(SendIndexStopRequest(), -1);
  EXPECT_EQ(AuthenticateByToken(kUserId, kToken), -1);
  EXPECT_EQ(LogCount("XML-RPC exception in IndexStop: "), 1);
  EXPECT_EQ(LogCount("XML-RPC exception in AuthenticateByToken: "), 1);

  // A failure that was limited to one call lets the next one through.
  Fail("IndexStop", "{\"mode\": \"drop\", \"count\": 1}");
  EXPECT_EQ(SendIndexStopRequest(), -1);
  EXPECT_EQ(SendIndexStopRequest(), 1);
}

TEST_F(ServerFailuresTest, NoServerAtTheUrl) {
  SetSetting("ServerUrl", "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/kiv_backend/api");
  const auto start = Clock::now();
  EXPECT_EQ(SendIndexStopRequest(), -1);
  EXPECT_LT(SecondsSince(start), 5.0);
  SetSetting("ServerUrl", "not a url at all");
  EXPECT_EQ(SendIndexStopRequest(), -1);
  EXPECT_EQ(LogCount("XML-RPC exception in IndexStop: "), 2);
}

TEST_F(ServerFailuresTest, ASlowAnswerWithinTheTimeLimitIsTaken) {
  Fail("IndexStop", "{\"mode\": \"delay\", \"seconds\": 0.5}");
  EXPECT_EQ(SendIndexStopRequest(), 1);
}

TEST_F(ServerFailuresTest, AServerThatNeverAnswersIsLeftAtTheTimeLimit) {
  SetServerCallTimeoutMs(1000);
  Fail("IndexStop", "{\"mode\": \"hang\"}");
  const auto start = Clock::now();
  EXPECT_EQ(SendIndexStopRequest(), -1);
  EXPECT_LT(SecondsSince(start), 10.0);
  EXPECT_EQ(LogCount("XML-RPC exception in IndexStop: "), 1);
}

TEST_F(ServerFailuresTest, AHugeAnswerIsRefused) {
  Fail("BatchSize", "{\"mode\": \"huge\", \"bytes\": 52428800}");
  int count = 5;
  EXPECT_EQ(GetBatchSize(&count), 0);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(LogCount("XML-RPC exception in BatchSize: "), 1);
  // The client is still fine afterwards.
  server_->SetConfig(ConfigWith("\"batch_size\": 3"));
  EXPECT_EQ(GetBatchSize(&count), 1);
  EXPECT_EQ(count, 3);
}

TEST_F(ServerFailuresTest, CertificatesAreVerifiedOnHttps) {
  if (!std::filesystem::exists("/usr/bin/openssl")) GTEST_SKIP() << "no openssl program";
  const std::string cert = env_.Path("cert.pem");
  const std::string key = env_.Path("key.pem");
  const std::string command =
      "/usr/bin/openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
      "-keyout '" +
      key + "' -out '" + cert +
      "' -days 1 -subj /CN=127.0.0.1 "
      "-addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  DevServer tls(env_.Path("tls"), {"--tls-cert", cert, "--tls-key", key});
  ASSERT_TRUE(tls.ok());
  tls.SetConfig(ConfigWith());
  std::string url = tls.Url();
  url.replace(0, 4, "https");
  SetSetting("ServerUrl", url);
  // A self-signed certificate that nobody vouches for: refused.
  EXPECT_EQ(ValidateAuthentication(kUser, kClientPassword), -3);
  EXPECT_EQ(LogCount("XML-RPC exception in ValidateAuthentication: "), 1);
  EXPECT_TRUE(tls.Calls().empty());

  EXPECT_NE(LogText().find("certificate"), std::string::npos) << LogText();
}

}  // namespace
}  // namespace server_test
