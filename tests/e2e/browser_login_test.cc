// A first start without credentials for a user signed in to the KIV web
// site in Firefox: the program finds the login token in Firefox's cookie
// database, signs in with it, and the collection reaches the server.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "app/reg_settings.h"
#include "tests/e2e/road_fixture.h"

namespace road_test {
namespace {

// A Firefox profile under the test's HOME whose cookies.sqlite holds the
// account's login cookie for the server's host.
void MakeFirefoxProfile(const std::string& home) {
  const std::string root = home + "/.mozilla/firefox";
  const std::string profile = root + "/r4nd0m.default-release";
  std::filesystem::create_directories(profile);
  testing_support::WriteFile(
      root + "/profiles.ini",
      "[Install4F96D1932A9F858E]\nDefault=r4nd0m.default-release\nLocked=1\n\n"
      "[Profile0]\nName=default-release\nIsRelative=1\nPath=r4nd0m.default-release\n");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((profile + "/cookies.sqlite").c_str(), &db), SQLITE_OK);
  const std::string sql =
      "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT "
      "'', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, "
      "creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER);"
      "INSERT INTO moz_cookies (name, value, host, path, expiry, creationTime) VALUES "
      "('kiv_token', '" +
      std::string(kUserId) + "%3A" + kLoginToken +
      "%3A1765000000', '127.0.0.1', '/', 4000000000, 1765000000000000);";
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

TEST_F(RoadTest, AFreshProfileSignsInWithTheBrowsersTokenAndTracksReachTheServer) {
  ASSERT_TRUE(AppSettings().WriteStringUtf8(kSubKeySettings, "Username", ""));
  ASSERT_TRUE(AppSettings().WriteStringUtf8(kSubKeySettings, "Password", ""));
  MakeFirefoxProfile(env_.Path("home"));
  StartServer();
  PutTracks(3);

  StartVornic();
  ASSERT_TRUE(WaitFor([&] { return AllReached(3); })) << LogText();
  StopVornic();

  EXPECT_EQ(CallsOf("AuthenticateByToken").size(), 1u);
  std::string user, password;
  AppSettings().ReadStringUtf8(kSubKeySettings, "Username", user);
  AppSettings().ReadStringUtf8(kSubKeySettings, "Password", password);
  EXPECT_EQ(user, kUser);
  EXPECT_EQ(password, kClientPassword);
}

}  // namespace
}  // namespace road_test
