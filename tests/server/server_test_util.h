// The fixture of the server tests: a temporary home, the settings and the
// log inside it, the development server on loopback with one account, the
// ServerUrl setting pointing at it and the server state of a fresh process.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "app/message_loop.h"
#include "tests/support/temp_env.h"
#include "tools/kiv_devserver_process.h"

namespace server_test {

using kiv_devserver::DevServer;
using kiv_devserver::UnusedPort;

inline constexpr const char* kUser = "ann@example.com";
inline constexpr const char* kPassword = "s3cret";
inline constexpr const char* kClientPassword = "client-pw-1";
inline constexpr const char* kUserId = "4242";
inline constexpr const char* kToken = "tok-abc";

// Seconds of the steady clock since `start`.
double SecondsSince(std::chrono::steady_clock::time_point start);

// The account above as the "accounts" member of a config.
std::string AccountsJson();
// A config with the account and `more` members ("\"batch_size\": 7").
std::string ConfigWith(const std::string& more = "");

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Username and Password settings hold the account's client password.
  void UseAccount();
  // The server config with the account and one failure rule for `method`
  // ("*": every method).
  void Fail(const std::string& method, const std::string& rule);
  void SetSetting(const char* name, const std::string& value);
  std::string Setting(const char* name);
  std::string LogText() const;
  // Counts the lines of the log that contain `text`.
  int LogCount(const std::string& text) const;

  testing_support::TempEnv env_;
  std::unique_ptr<DevServer> server_;
};

// A main window stand-in: collects what the server code posts.
class PostedMessages {
 public:
  PostedMessages();
  MessageLoop& loop() { return loop_; }
  // Dispatches what was posted and returns everything collected so far.
  const std::vector<Message>& Take();
  // The payloads of the WM_STATUS_EVENT messages collected.
  std::vector<std::string> Events();
  // The command ids of the WM_AGENT_REQUEST messages, with their delays.
  std::vector<std::pair<WPARAM, LPARAM>> Requests();

 private:
  MessageLoop loop_;
  std::vector<Message> messages_;
};

// Answers message boxes in tests and remembers their texts.
class RecordingMessageBox : public MessageBoxHost {
 public:
  RecordingMessageBox() { SetMessageBoxHost(this); }
  ~RecordingMessageBox() override { SetMessageBoxHost(nullptr); }
  int Show(const std::string& text, UINT type) override {
    texts.push_back(text);
    return (type & MB_YESNO) ? IDNO : IDOK;
  }
  std::vector<std::string> texts;
};

}  // namespace server_test
