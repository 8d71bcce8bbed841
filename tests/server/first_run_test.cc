// The connection monitor's start-up tasks: the first-run notice with its
// message boxes (answered by the test) and the credential refresh.
#include "server/first_run.h"

#include <gtest/gtest.h>

#include "app/agent_kinds.h"
#include "app/reg_settings.h"
#include "server/connectivity.h"
#include "server/kiv_protocol.h"
#include "server/server_session.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

constexpr const char* kWelcome =
    "Welcome to the Vornic!\r\nSince this is the first time you've run the Vornic you will need "
    "to enter your KIV login and password.";
constexpr const char* kNotValid = "Your KIV username or password is not valid.";

class FirstRunTest : public ServerTest {
 protected:
  void TearDown() override {
    SetBrowserLoginFinder(nullptr);
    ServerTest::TearDown();
  }
  DWORD Notified() {
    DWORD value = 0xDEAD;
    AppSettings().ReadDword(kSubKeySettings, "Notified", value);
    return value;
  }

  RecordingMessageBox boxes_;
};

TEST_F(FirstRunTest, WelcomeOnceWithoutCredentials) {
  FirstRunNotice();
  EXPECT_EQ(boxes_.texts, std::vector<std::string>{kWelcome});
  EXPECT_EQ(Notified(), 1u);
  EXPECT_EQ(AuthState, -4);
  EXPECT_EQ(LogCount("First time client has been run, informing user of auth info and how to "
                     "shutdown client"),
            1);
  FirstRunNotice();
  EXPECT_EQ(boxes_.texts.size(), 1u);

  // The balloon bit alone does not count as welcomed, and is kept.
  AppSettings().WriteDword(kSubKeySettings, "Notified", 2);
  FirstRunNotice();
  EXPECT_EQ(boxes_.texts.size(), 2u);
  EXPECT_EQ(Notified(), 3u);
}

TEST_F(FirstRunTest, AcceptedCredentialsShowNothing) {
  UseAccount();
  FirstRunNotice();
  EXPECT_TRUE(boxes_.texts.empty());
  EXPECT_EQ(AuthState, 0);
  EXPECT_EQ(Notified(), 0xDEADu);  // not even read
}

TEST_F(FirstRunTest, RejectedCredentialsTryTheBrowserThenSayNotValid) {
  UseAccount();
  SetSetting("Password", "revoked");
  int finder_calls = 0;
  SetBrowserLoginFinder([&] {
    ++finder_calls;
    return 0;  // no token found
  });
  FirstRunNotice();
  EXPECT_EQ(finder_calls, 1);
  EXPECT_EQ(AuthState, -2);
  EXPECT_EQ(boxes_.texts, std::vector<std::string>{kNotValid});
}

TEST_F(FirstRunTest, ABrowserTokenRescuesRejectedCredentials) {
  UseAccount();
  SetSetting("Password", "revoked");
  SetBrowserLoginFinder([] { return AuthenticateByToken(kUserId, kToken); });
  FirstRunNotice();
  EXPECT_EQ(AuthState, 0);
  EXPECT_EQ(Setting("Password"), kClientPassword);
  EXPECT_TRUE(boxes_.texts.empty());
}

TEST_F(FirstRunTest, RefreshExchangesThePendingPasswordAndKeepsItOutOfTheLog) {
  SetPendingCredentials(kUser, kPassword);
  AgentContext context;
  PostedMessages window;
  context.main_window = &window.loop();
  CredentialRefresh(context);
  EXPECT_EQ(Setting("Username"), kUser);
  EXPECT_EQ(Setting("Password"), kClientPassword);
  EXPECT_FALSE(HasPendingCredentials());
  EXPECT_EQ(LogCount(std::string("Updated username/password (") + kUser + "/********)"), 1);
  EXPECT_EQ(LogText().find(kPassword), std::string::npos);
  EXPECT_EQ(LogText().find(kClientPassword), std::string::npos);
  EXPECT_EQ(window.Requests(),
            (std::vector<std::pair<WPARAM, LPARAM>>{
                {ID_AGENT_PLAYMON, 5000}, {ID_AGENT_INDEXER, 10000}, {ID_AGENT_FOLDERMON, 10000}}));
  CredentialRefresh(context);  // nothing pending any more
  EXPECT_EQ(server_->Calls().size(), 1u);
}

TEST_F(FirstRunTest, RefreshFailures) {
  AgentContext context;  // no main window
  UseAccount();
  SetPendingCredentials(kUser, "typo");
  CredentialRefresh(context);
  EXPECT_EQ(AuthState, -2);
  EXPECT_EQ(Setting("Password"), "");
  EXPECT_EQ(Setting("Username"), kUser);
  EXPECT_FALSE(HasPendingCredentials());
  EXPECT_EQ(LogCount("Updated username/password FAILED (-2)"), 1);

  // Without an answer the pair is kept for the next try.
  SetSetting("Password", kClientPassword);
  SetPendingCredentials(kUser, kPassword);
  server_->Stop();
  CredentialRefresh(context);
  EXPECT_EQ(AuthState, -3);
  EXPECT_EQ(Setting("Password"), kClientPassword);
  EXPECT_TRUE(HasPendingCredentials());
  EXPECT_EQ(LogCount("Updated username/password FAILED (-3)"), 1);
}

}  // namespace
}  // namespace server_test
