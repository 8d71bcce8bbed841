#include "tests/server/server_test_util.h"

#include <filesystem>
#include <sstream>

#include "app/log.h"
#include "app/reg_settings.h"
#include "platform/folders.h"
#include "server/connection_monitor.h"
#include "server/server_session.h"

namespace server_test {

std::string AccountsJson() {
  return std::string("\"accounts\": [{\"username\": \"") + kUser + "\", \"password\": \"" +
         kPassword + "\", \"user_id\": \"" + kUserId + "\", \"token\": \"" + kToken +
         "\", \"client_password\": \"" + kClientPassword + "\"}]";
}

std::string ConfigWith(const std::string& more) {
  return "{" + AccountsJson() + (more.empty() ? "" : ", " + more) + "}";
}

void ServerTest::SetUp() {
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  std::filesystem::create_directories(platform::DataDir());
  AppLog().SetLogFile(env_.Path("test.log"));
  AppLog().SetLogLevel(LEVEL_VERBOSE);
  AppLog().SetLogModuleMask(MODULE_EVERYTHING);
  ResetServerState();
  SetServerCallTimeoutMs(60000);
  std::filesystem::create_directories(env_.Path("files"));
  server_ = std::make_unique<DevServer>(env_.Path("devserver"),
                                        std::vector<std::string>{"--serve", env_.Path("files")});
  ASSERT_TRUE(server_->ok()) << testing_support::ReadFile(env_.Path("devserver/server.log"));
  server_->SetConfig(ConfigWith());
  SetSetting("ServerUrl", server_->Url());
}

void ServerTest::TearDown() {
  server_.reset();
  ResetServerState();
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ServerTest::Fail(const std::string& method, const std::string& rule) {
  server_->SetConfig(ConfigWith("\"failures\": {\"" + method + "\": " + rule + "}"));
}

void ServerTest::UseAccount() {
  SetSetting("Username", kUser);
  SetSetting("Password", kClientPassword);
}

void ServerTest::SetSetting(const char* name, const std::string& value) {
  AppSettings().WriteStringUtf8(kSubKeySettings, name, value);
}

std::string ServerTest::Setting(const char* name) {
  std::string value;
  AppSettings().ReadStringUtf8(kSubKeySettings, name, value);
  return value;
}

std::string ServerTest::LogText() const { return testing_support::ReadFile(env_.Path("test.log")); }

int ServerTest::LogCount(const std::string& text) const {
  std::istringstream lines(LogText());
  int count = 0;
  for (std::string line; std::getline(lines, line);)
    if (line.find(text) != std::string::npos) ++count;
  return count;
}

PostedMessages::PostedMessages() {
  loop_.SetHandler([this](Message& message) { messages_.push_back(std::move(message)); });
}

const std::vector<Message>& PostedMessages::Take() {
  while (loop_.ProcessPending() != 0) {
  }
  return messages_;
}

std::vector<std::string> PostedMessages::Events() {
  std::vector<std::string> events;
  for (const Message& m : Take())
    if (m.id == WM_STATUS_EVENT) events.push_back(m.payload);
  return events;
}

std::vector<std::pair<WPARAM, LPARAM>> PostedMessages::Requests() {
  std::vector<std::pair<WPARAM, LPARAM>> requests;
  for (const Message& m : Take())
    if (m.id == WM_AGENT_REQUEST) requests.emplace_back(m.wParam, m.lParam);
  return requests;
}

}  // namespace server_test
