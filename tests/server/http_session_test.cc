// CServerSession: URL cracking with its log lines and request flags, and
// the downloads with their progress messages, against the dev server.
#include "server/http_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "server/server_session.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

class HttpSessionTest : public ServerTest {
 protected:
  // A file of `size` bytes in the served folder.
  std::string Serve(const std::string& name, std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>('a' + i % 26);
    testing_support::WriteFile(env_.Path("files/" + name), data);
    return data;
  }
};

TEST_F(HttpSessionTest, CreatingASessionLogsTheServerUrlParts) {
  CServerSession session;
  EXPECT_EQ(session.scheme(), "http");
  EXPECT_EQ(session.host(), "127.0.0.1");
  EXPECT_EQ(session.url_path(), "/kiv_backend/api");
  EXPECT_EQ(session.port(), server_->port());
  EXPECT_EQ(session.request_flags(), 0u);
  EXPECT_EQ(LogCount("Connection Scheme (protocol): http"), 1);
  EXPECT_EQ(LogCount("Connection Server Host Name: 127.0.0.1"), 1);
  EXPECT_EQ(LogCount("Connection Server URL Path: /kiv_backend/api"), 1);
  EXPECT_EQ(LogCount("Connection Server Port Number: " + std::to_string(server_->port())), 1);
}

TEST_F(HttpSessionTest, CrackingSetsTheRequestFlagsByPort) {
  SetSetting("ServerUrl", "https://kiv.example.com/kiv_backend/api?v=2");
  CServerSession secure;
  EXPECT_EQ(secure.port(), 443);
  EXPECT_EQ(secure.request_flags(), 0xA4843300u);
  EXPECT_EQ(secure.url_path(), "/kiv_backend/api?v=2");

  SetSetting("ServerUrl", "");  // the default endpoint
  CServerSession plain;
  EXPECT_EQ(plain.host(), "localhost");
  EXPECT_EQ(plain.port(), 8080);
  EXPECT_EQ(plain.request_flags(), 0u);

  EXPECT_FALSE(plain.CrackServerUrl("::not a url"));
  EXPECT_FALSE(plain.CrackServerUrl("http://h/" + std::string(300, 'p')));
  EXPECT_EQ(plain.host(), "");
  EXPECT_EQ(LogCount("Unable to identify parts of possibly malformed URL, ERR("), 2);
  EXPECT_EQ(LogCount("Please make sure the KIV Server URL is correctly specified"), 2);
}

TEST_F(HttpSessionTest, DownloadWritesTheFileAndReportsProgress) {
  const std::string data = Serve("update.bin", 70000);
  PostedMessages window;
  CServerSession session(&window.loop());
  const std::string target = env_.Path("update.bin");
  EXPECT_EQ(session.DownloadToFile(server_->Base() + "/update.bin", target, 9, nullptr), 0);
  EXPECT_EQ(testing_support::ReadFile(target), data);
  EXPECT_EQ(server_->LastCall().user_agent, "KIV Windows Client/1.0.3.105");

  const std::vector<Message>& messages = window.Take();
  ASSERT_GE(messages.size(), 4u);
  EXPECT_EQ(messages.front().id, WM_STATUS_PROGRESS_RANGE);
  EXPECT_EQ(messages.front().wParam, 9u);
  EXPECT_EQ(messages.front().lParam, 70000);
  EXPECT_EQ(messages.back().id, WM_STATUS_DONE);
  const Message& last_pos = messages[messages.size() - 2];
  EXPECT_EQ(last_pos.id, WM_STATUS_PROGRESS_POS);
  EXPECT_EQ(last_pos.lParam, 70000);
  EXPECT_EQ(messages[messages.size() - 3].payload, "68 KB of 68 KB");
}

TEST_F(HttpSessionTest, DownloadWithoutActivityPostsNothing) {
  Serve("a.bin", 10);
  PostedMessages window;
  CServerSession session(&window.loop());
  EXPECT_EQ(session.DownloadToFile(server_->Base() + "/a.bin", env_.Path("a.bin"), 0, nullptr), 0);
  EXPECT_TRUE(window.Take().empty());
  Serve("empty.bin", 0);
  EXPECT_EQ(session.DownloadToFile(server_->Base() + "/empty.bin", env_.Path("e"), 0, nullptr), 0);
  EXPECT_TRUE(std::filesystem::exists(env_.Path("e")));
}

TEST_F(HttpSessionTest, DownloadOutcomes) {
  Serve("big.bin", 300000);
  CServerSession session;
  const std::string target = env_.Path("out.bin");
  // Not 200: no file.
  EXPECT_EQ(session.DownloadToFile(server_->Base() + "/missing.bin", target, 9, nullptr), 0);
  EXPECT_FALSE(std::filesystem::exists(target));
  // Cancelled before it began: 1, and nothing fetched.
  std::atomic<int> cancel{1};
  EXPECT_EQ(session.DownloadToFile(server_->Base() + "/big.bin", target, 9, &cancel), 1);
  EXPECT_FALSE(std::filesystem::exists(target));
  // No server, or no URL: -1.
  const std::string nowhere = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/big.bin";
  EXPECT_EQ(session.DownloadToFile(nowhere, env_.Path("x"), 9, nullptr), -1);
  EXPECT_EQ(session.DownloadToFile("::bad", env_.Path("x"), 9, nullptr), -1);
  EXPECT_FALSE(std::filesystem::exists(env_.Path("x")));
}

TEST_F(HttpSessionTest, ABrokenTransferIsAFailureAndLeavesNoFile) {
  Serve("cut.bin", 200000);
  server_->SetConfig(ConfigWith("\"downloads\": {\"/cut.bin\": {\"truncate\": true}}"));
  CServerSession session;
  const std::string target = env_.Path("cut.bin");
  EXPECT_EQ(session.DownloadToFile(server_->Base() + "/cut.bin", target, 9, nullptr), -1);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_EQ(LogCount("DownloadToFile: "), 1);
}

TEST_F(HttpSessionTest, DownloadToStringAppendsTheBodyOf200) {
  testing_support::WriteFile(env_.Path("files/update.txt"), "[linux]\nversion=1.0.4\n");
  CServerSession session;
  std::string text = "> ";
  EXPECT_EQ(session.DownloadToString(server_->Base() + "/update.txt", &text), 0);
  EXPECT_EQ(text, "> [linux]\nversion=1.0.4\n");
  std::string none;
  EXPECT_EQ(session.DownloadToString(server_->Base() + "/nothing.txt", &none), 0);
  EXPECT_EQ(none, "");
  const std::string nowhere = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/u.txt";
  EXPECT_EQ(session.DownloadToString(nowhere, &none), -1);
}

}  // namespace
}  // namespace server_test
