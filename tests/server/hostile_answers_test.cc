// Answers from whoever stands in for the server: entity bombs, endless
// bodies, redirects elsewhere. Each ends in the operation's failure value
// with a log line, quickly, and an agent told to stop leaves any server
// call at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "app/agent.h"
#include "app/kiv_client_agent.h"
#include "server/curl_transfer.h"
#include "server/http_session.h"
#include "server/kiv_protocol.h"
#include "server/server_session.h"
#include "server/xmlrpc_transport.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

using Clock = std::chrono::steady_clock;

class HostileAnswersTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    UseAccount();
  }
  void Downloads(const std::string& rules) {
    server_->SetConfig(ConfigWith("\"downloads\": {" + rules + "}"));
  }
};

TEST_F(HostileAnswersTest, EntityBombsAndEndlessAnswersAreRefusedQuickly) {
  Fail("BatchSize", R"({"mode": "entities", "levels": 10})");
  int count = 5;
  auto start = Clock::now();
  EXPECT_EQ(GetBatchSize(&count), 0);
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(LogCount("refused before parsing: the answer holds a document type or entity "
                     "declaration"),
            1);

  Fail("BatchSize", R"({"mode": "endless"})");
  start = Clock::now();
  EXPECT_EQ(GetBatchSize(&count), 0);
  EXPECT_LT(SecondsSince(start), 10.0);
  EXPECT_EQ(LogCount("the answer is longer than 16777216 bytes"), 1);

  // The client is still fine afterwards.
  server_->SetConfig(ConfigWith("\"batch_size\": 3"));
  EXPECT_EQ(GetBatchSize(&count), 1);
  EXPECT_EQ(count, 3);
}

TEST_F(HostileAnswersTest, AnswersThatCouldHideMarkupAreRefused) {
  using kiv_rpc::AnswerRefusal;
  EXPECT_EQ(AnswerRefusal("<?xml version='1.0'?><methodResponse/>"), "");
  EXPECT_NE(AnswerRefusal("<?xml version='1.0'?><!doctype x><x/>"), "");
  EXPECT_NE(AnswerRefusal("<x><!ENTITY a 'b'></x>"), "");
  // UTF-16 text carries its markup between NUL bytes.
  EXPECT_NE(AnswerRefusal(std::string("<\0!\0D\0", 6)), "");
  // Escaped text that merely reads like a declaration is fine.
  EXPECT_EQ(AnswerRefusal("<string>&lt;!DOCTYPE</string>"), "");
}

// A job that makes one server call that the server never answers.
class HangingCallJob : public CAgent {
 public:
  explicit HangingCallJob(std::atomic<int>* result) : result_(result) {}
  int Run() override {
    *result_ = SendIndexStopRequest();
    return 1;
  }

 private:
  std::atomic<int>* result_;
};

TEST_F(HostileAnswersTest, AnAgentToldToStopLeavesItsServerCallAtOnce) {
  SetServerCallTimeoutMs(60000);
  Fail("IndexStop", R"({"mode": "hang"})");
  std::atomic<int> result{2};
  AgentJobRegistry jobs;
  jobs.Register(AGENT_SERVER,
                [&](const AgentContext&) { return std::make_unique<HangingCallJob>(&result); });
  CKivClientAgent agent(jobs, nullptr, platform::SystemClock(), {}, false);
  agent.PostThreadMessage(WM_AGENT_REQUEST, AGENT_SERVER);
  ASSERT_TRUE(agent.Start());
  const auto until = Clock::now() + std::chrono::seconds(10);
  while (server_->Calls().empty() && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_FALSE(server_->Calls().empty());
  const auto start = Clock::now();
  agent.PostStop();
  agent.Join();
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(LogCount("stopped: the agent was told to stop"), 1);
}

TEST_F(HostileAnswersTest, RedirectRules) {
  using kiv_http::RedirectRefusal;
  EXPECT_EQ(RedirectRefusal("http://h/a", "https://h/b"), "");
  EXPECT_EQ(RedirectRefusal("https://H:1/a", "https://h:2/b"), "");
  EXPECT_EQ(RedirectRefusal("https://h/a", "http://h/b"), "redirect from https to plain http");
  EXPECT_EQ(RedirectRefusal("http://h/a", "ftp://h/b"), "redirect to the unsupported scheme ftp");
  EXPECT_EQ(RedirectRefusal("http://h/a", "file:///etc/passwd"),
            "redirect to the unsupported scheme file");
  EXPECT_EQ(RedirectRefusal("http://h/a", "http://elsewhere/b"),
            "redirect to another host, elsewhere");
}

TEST_F(HostileAnswersTest, DownloadsFollowOnlySafeRedirects) {
  testing_support::WriteFile(env_.Path("files/update.txt"), "version=1.0.4\n");
  const std::string base = server_->Base();
  const std::string port = std::to_string(server_->port());
  Downloads(R"("/moved.txt": {"redirect": "/update.txt", "status": 301},
               "/ftp.txt": {"redirect": "ftp://127.0.0.1:)" +
            port + R"(/update.txt"},
               "/away.txt": {"redirect": "http://localhost:)" +
            port + R"(/update.txt"},
               "/loop.txt": {"redirect": "/loop.txt"})");
  CServerSession session;
  std::string text;
  EXPECT_EQ(session.DownloadToString(base + "/moved.txt", &text), 0);
  EXPECT_EQ(text, "version=1.0.4\n");
  const auto start = Clock::now();
  for (const char* path : {"/ftp.txt", "/away.txt", "/loop.txt"}) {
    text.clear();
    EXPECT_EQ(session.DownloadToString(base + path, &text), -1) << path;
    EXPECT_EQ(text, "") << path;
    EXPECT_FALSE(std::filesystem::exists(env_.Path("out")));
    EXPECT_EQ(session.DownloadToFile(base + path, env_.Path("out"), 9, nullptr), -1) << path;
  }
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(LogCount("redirect to the unsupported scheme ftp"), 2);
  EXPECT_EQ(LogCount("redirect to another host, localhost"), 2);
  EXPECT_EQ(LogCount("too many redirects"), 2);
  // The first address is held to the same protocols.
  EXPECT_EQ(session.DownloadToString("ftp://127.0.0.1:" + port + "/update.txt", &text), -1);
  EXPECT_EQ(session.DownloadToString("file:///etc/hostname", &text), -1);
  EXPECT_EQ(text, "");
}

TEST_F(HostileAnswersTest, AnEndlessDownloadIsCutOffAndLeavesNoFile) {
  Downloads(R"("/endless.bin": {"endless": true})");
  CServerSession session;
  const std::string target = env_.Path("endless.bin");
  EXPECT_EQ(session.DownloadToFile(server_->Base() + "/endless.bin", target, 9, nullptr), -1);
  EXPECT_FALSE(std::filesystem::exists(target));
  std::string text;
  EXPECT_EQ(session.DownloadToString(server_->Base() + "/endless.bin", &text), -1);
  EXPECT_EQ(LogCount("answer too long"), 2);
}

}  // namespace
}  // namespace server_test
