// The browser login with real Firefox-shaped profiles under the test's
// HOME: profiles.ini, cookies.txt and a cookies.sqlite made with SQLite the
// way a running Firefox leaves it, against the development server.
#include "server/browser_login.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "app/agent_kinds.h"
#include "app/reg_settings.h"
#include "server/connectivity.h"
#include "server/firefox_cookie_db.h"
#include "server/first_run.h"
#include "server/kiv_protocol.h"
#include "server/server_session.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

namespace fs = std::filesystem;
using testing_support::WriteFile;

constexpr std::int64_t kFuture = 4000000000;  // seconds, year 2096

// A cookies.sqlite with Firefox's table; rows are added through it.
class CookieDb {
 public:
  // `wal`: the journal of a running Firefox, write-ahead and exclusive,
  // with checkpoints off so new rows stay in the -wal file.
  CookieDb(const std::string& path, bool wal) {
    EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK);
    if (wal)
      Exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; PRAGMA locking_mode=EXCLUSIVE;");
    Exec(
        "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL "
        "DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed "
        "INTEGER, creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER)");
    if (wal) Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  }
  ~CookieDb() { sqlite3_close(db_); }

  void Add(const std::string& host, const std::string& name, const std::string& value,
           std::int64_t expiry, std::int64_t created) {
    Exec("INSERT INTO moz_cookies (name, value, host, path, expiry, creationTime) VALUES ('" +
         name + "', '" + value + "', '" + host + "', '/', " + std::to_string(expiry) + ", " +
         std::to_string(created) + ")");
  }
  void Exec(const std::string& sql) {
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
  }

 private:
  sqlite3* db_ = nullptr;
};

class BrowserLoginTest : public ServerTest {
 protected:
  void TearDown() override {
    SetBrowserLoginFinder(nullptr);
    ServerTest::TearDown();
  }
  // A Firefox folder under HOME with one profile named by profiles.ini;
  // returns the profile folder.
  std::string MakeProfile(const std::string& firefox = ".mozilla/firefox") {
    const std::string root = env_.Path("home/" + firefox);
    fs::create_directories(root + "/Profiles/x1.default-release");
    WriteFile(root + "/profiles.ini",
              "[Install4F96D1932A9F858E]\nDefault=Profiles/x1.default-release\nLocked=1\n\n"
              "[Profile0]\nName=default\nIsRelative=1\nPath=Profiles/old.default\n");
    return root + "/Profiles/x1.default-release";
  }
  static std::string TextLine(const std::string& value, std::int64_t expiry = kFuture) {
    return "127.0.0.1\tFALSE\t/\tFALSE\t" + std::to_string(expiry) + "\tkiv_token\t" + value + "\n";
  }
  static std::string Encoded(const std::string& token) {
    return std::string(kUserId) + "%3A" + token + "%3A1700000000";
  }
};

TEST_F(BrowserLoginTest, ATokenOnlyInTheWriteAheadLogIsFoundAndTheCopyRemoved) {
  const std::string profile = MakeProfile();
  CookieDb firefox(profile + "/cookies.sqlite", /*wal=*/true);
  firefox.Add("127.0.0.1", "kiv_token", Encoded(kToken), kFuture, 1700000000000000);
  // What a reader of the main file alone sees: nothing.
  sqlite3* main_only = nullptr;
  ASSERT_EQ(sqlite3_open_v2(("file:" + profile + "/cookies.sqlite?immutable=1").c_str(), &main_only,
                            SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr),
            SQLITE_OK);
  int rows = -1;
  sqlite3_exec(
      main_only, "SELECT count(*) FROM moz_cookies",
      [](void* out, int, char** values, char**) {
        *static_cast<int*>(out) = std::atoi(values[0]);
        return 0;
      },
      &rows, nullptr);
  sqlite3_close(main_only);
  ASSERT_EQ(rows, 0);
  ASSERT_GT(fs::file_size(profile + "/cookies.sqlite-wal"), 0u);

  std::vector<BrowserCookie> found;
  ASSERT_EQ(ReadFirefoxCookieDb(profile, "127.0.0.1", &found), 0);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].value, Encoded(kToken));
  EXPECT_TRUE(fs::is_empty(env_.Path("tmp")));  // the private copy is gone

  EXPECT_EQ(DiscoverBrowserLogin(), 1);
  EXPECT_EQ(AuthState, 0);
  EXPECT_EQ(Setting("Username"), kUser);
  EXPECT_EQ(Setting("Password"), kClientPassword);
}

TEST_F(BrowserLoginTest, TheNewestUnexpiredCookieOfAnyStoreWins) {
  // The snap's Firefox, with an older token in cookies.txt, an expired and
  // a newer one in cookies.sqlite, and a newest one of another site.
  const std::string profile = MakeProfile("snap/firefox/common/.mozilla/firefox");
  WriteFile(profile + "/cookies.txt", TextLine(Encoded("stale-text")));
  {
    CookieDb db(profile + "/cookies.sqlite", /*wal=*/false);
    db.Add("127.0.0.1", "kiv_token", Encoded("expired"), 1000, 3000);
    db.Add("127.0.0.1", "kiv_token", Encoded(kToken), kFuture, 2000);
    db.Add("127.0.0.1", "kiv_token_old", Encoded("old-name"), kFuture, 2500);
    db.Add(".elsewhere.example", "kiv_token", Encoded("foreign"), kFuture, 2600);
  }
  EXPECT_EQ(DiscoverBrowserLogin(), 1);
  EXPECT_EQ(AuthState, 0);
  EXPECT_NE(server_->LastCall().flat.find(kToken), std::string::npos);
}

TEST_F(BrowserLoginTest, BrokenStoresAreSkipped) {
  const std::string profile = MakeProfile();
  WriteFile(profile + "/cookies.sqlite", std::string(4096, '\xa5'));
  std::vector<BrowserCookie> found;
  EXPECT_EQ(ReadFirefoxCookieDb(profile, "127.0.0.1", &found), -1);
  fs::remove(profile + "/cookies.sqlite");
  {
    CookieDb db(profile + "/cookies.sqlite", false);
    db.Exec("DROP TABLE moz_cookies; CREATE TABLE moz_cookies (name TEXT)");
  }
  EXPECT_EQ(ReadFirefoxCookieDb(profile, "127.0.0.1", &found), -1);
  EXPECT_TRUE(found.empty());
  // A 50 MB cookies.txt of binary bytes with the cookie on its last line.
  std::string big(50 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>(i * 131);
  WriteFile(profile + "/cookies.txt", big + "\n" + TextLine(Encoded(kToken)));
  EXPECT_EQ(DiscoverBrowserLogin(), 1);
  EXPECT_EQ(AuthState, 0);
  EXPECT_TRUE(fs::is_empty(env_.Path("tmp")));
}

TEST_F(BrowserLoginTest, AnEndlessViewInsteadOfTheTableIsRefusedAndKilledCopiesGo) {
  const std::string profile = MakeProfile();
  {
    CookieDb db(profile + "/cookies.sqlite", false);
    db.Exec(
        "DROP TABLE moz_cookies; CREATE VIEW moz_cookies AS WITH RECURSIVE r(n) AS (SELECT 1 "
        "UNION ALL SELECT n + 1 FROM r) SELECT 'kiv_token' AS name, 'v' AS value, '127.0.0.1' AS "
        "host, 0 AS expiry, 0 AS creationTime FROM r WHERE n < 0");
  }
  // The copy of a process that was killed while reading, and one of a
  // process that still runs.
  pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string killed = env_.Path("tmp/vornic-" + std::to_string(dead) + "-aaaaaa");
  const std::string running = env_.Path("tmp/vornic-1-bbbbbb");
  for (const std::string& dir : {killed, running}) {
    fs::create_directories(dir);
    WriteFile(dir + "/cookies.sqlite", "copy");
  }
  std::vector<BrowserCookie> found;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadFirefoxCookieDb(profile, "127.0.0.1", &found), -1);
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_EQ(LogCount("ReadFirefoxCookieDb: moz_cookies is not a table"), 1);
  EXPECT_FALSE(fs::exists(killed));
  EXPECT_TRUE(fs::exists(running));
}

TEST_F(BrowserLoginTest, NothingUsableLogsWhyAndCallsNoServer) {
  EXPECT_EQ(DiscoverBrowserLogin(), 0);
  EXPECT_EQ(LogCount("Search for IE based cookie kiv token failed, looking for firefox cookie"), 1);
  EXPECT_EQ(LogCount("Search for firefox based cookie kiv token failed"), 1);
  const std::string profile = MakeProfile();
  WriteFile(profile + "/cookies.txt", TextLine("no-colon-at-all"));
  EXPECT_EQ(DiscoverBrowserLogin(), 0);
  EXPECT_EQ(LogCount("Unable to find nmeric userid in IE kiv token"), 1);
  EXPECT_TRUE(server_->Calls().empty());
}

TEST_F(BrowserLoginTest, AFreshProfileSignsInWithTheBrowsersTokenAndStartsTheAgents) {
  WriteFile(MakeProfile() + "/cookies.txt", TextLine(Encoded(kToken)));
  InstallBrowserLogin();
  RecordingMessageBox boxes;
  PostedMessages main_window;
  AgentContext context;
  context.main_window = &main_window.loop();
  FirstRunNotice(context);
  EXPECT_EQ(AuthState, 0);
  EXPECT_EQ(Setting("Username"), kUser);
  EXPECT_EQ(boxes.texts.size(), 1u);  // the welcome only
  EXPECT_EQ(main_window.Requests(),
            (std::vector<std::pair<WPARAM, LPARAM>>{
                {ID_AGENT_PLAYMON, 5000}, {ID_AGENT_INDEXER, 10000}, {ID_AGENT_FOLDERMON, 10000}}));
}

TEST_F(BrowserLoginTest, AfterASignOutTheBrowsersTokenWaitsForTheUsersOwnSignIn) {
  WriteFile(MakeProfile() + "/cookies.txt", TextLine(Encoded(kToken)));
  InstallBrowserLogin();
  RecordingMessageBox boxes;
  UseAccount();
  ASSERT_TRUE(SignOut());
  EXPECT_EQ(Setting("Username"), "");
  FirstRunNotice();
  EXPECT_EQ(AuthState, -4);
  EXPECT_EQ(Setting("Username"), "");
  EXPECT_EQ(LogCount("Not signing in from the browser: the user signed out"), 1);

  // Signing in by password allows the browser's token again.
  SetPendingCredentials(kUser, kPassword);
  CredentialRefresh(AgentContext());
  EXPECT_EQ(LastCredentialRefresh().result, 0);
  SetSetting("Username", "");  // credentials lost another way than a sign-out
  SetSetting("Password", "");
  FirstRunNotice();
  EXPECT_EQ(AuthState, 0);
  EXPECT_EQ(Setting("Username"), kUser);
}

}  // namespace
}  // namespace server_test
