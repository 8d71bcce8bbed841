// IsOnline and the authentication checks against the development server.
#include "server/connectivity.h"

#include <gtest/gtest.h>

#include "server/server_session.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

class ConnectivityTest : public ServerTest {
 protected:
  void GoOffline() { SetSetting("ServerUrl", "http://127.0.0.1:" + std::to_string(dead_port_)); }
  void GoOnline() { SetSetting("ServerUrl", server_->Url()); }

  const int dead_port_ = UnusedPort();
  PostedMessages window_;
};

TEST_F(ConnectivityTest, FirstOfflineAnswerPostsNothingALaterOneDoes) {
  GoOffline();
  EXPECT_EQ(IsOnline(1, &window_.loop()), 0);
  EXPECT_EQ(LogCount("Could not ping server"), 1);
  EXPECT_TRUE(window_.Events().empty());

  GoOnline();
  EXPECT_EQ(IsOnline(1, &window_.loop()), 1);
  GoOffline();
  EXPECT_EQ(IsOnline(0, &window_.loop()), 1);  // cached: no probe
  EXPECT_EQ(IsOnline(1, &window_.loop()), 0);
  EXPECT_EQ(window_.Events(), std::vector<std::string>{"Connection to KIV not available."});
  EXPECT_EQ(IsOnline(1, &window_.loop()), 0);  // no change, no second event
  EXPECT_EQ(window_.Events().size(), 1u);
}

TEST_F(ConnectivityTest, CheckAuthenticationFollowsTheServer) {
  EXPECT_EQ(CheckAuthentication(0), -4);  // unforced: no call
  EXPECT_TRUE(server_->Calls().empty());
  EXPECT_EQ(CheckAuthentication(1), -4);  // online, but no credentials
  EXPECT_EQ(OnlineState, 1);
  UseAccount();
  EXPECT_EQ(CheckAuthentication(1), 0);
  EXPECT_TRUE(IsAuthenticated());
  SetSetting("Password", "revoked");
  EXPECT_EQ(CheckAuthentication(1), -2);
  EXPECT_FALSE(IsAuthenticated());

  // Offline, the last answer that reached the server stands.
  UseAccount();
  EXPECT_EQ(CheckAuthentication(1), 0);
  server_->Stop();
  EXPECT_EQ(CheckAuthentication(1), 0);
  EXPECT_EQ(OnlineState, 0);
  EXPECT_FALSE(IsAuthenticated());
}

TEST_F(ConnectivityTest, IsAuthenticatedChecksAnUnknownConnectionOnce) {
  UseAccount();
  AuthState = 0;
  EXPECT_TRUE(IsAuthenticated());  // OnlineState was unknown: probed now
  EXPECT_EQ(OnlineState, 1);
  server_->Stop();
  EXPECT_TRUE(IsAuthenticated());  // the cached answer, no probe
  EXPECT_EQ(IsOnline(1), 0);
  EXPECT_FALSE(IsAuthenticated());
}

}  // namespace
}  // namespace server_test
