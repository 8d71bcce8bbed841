#include "server/firefox_cookie_db.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>

#include "app/format.h"
#include "app/kiv_client_agent.h"
#include "app/log.h"
#include "platform/file_io.h"
#include "platform/temp_dir.h"

namespace {

void LogFailure(const std::string& what, const std::string& path) {
  AppLog().LogDetail("ReadFirefoxCookieDb: " + what, path, LEVEL_INFO, MODULE_CLIENT_SERVER);
}

// Copies `from` to `to` when it exists. 0, ENOENT when it does not exist,
// or another errno.
int CopyLimited(const std::string& from, const std::string& to) {
  std::string bytes;
  const int err = platform::ReadFileLimited(from, kMaxCookieDbBytes, &bytes);
  if (err != 0) return err;
  return platform::AppendToFile(to, bytes).ok() ? 0 : EIO;
}

struct Connection {
  sqlite3* db = nullptr;
  ~Connection() { sqlite3_close_v2(db); }
};

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  ~Statement() { sqlite3_finalize(stmt); }
};

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  const int size = sqlite3_column_bytes(stmt, column);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size))
              : std::string();
}

// What one query may take before it is given up, also when the agent
// thread is told to stop: a crafted database can make SQLite work forever.
struct QueryBudget {
  std::chrono::steady_clock::time_point deadline;
  bool expired = false;

  // SQLite's progress handler: non-zero ends the statement.
  static int Check(void* self) {
    auto* budget = static_cast<QueryBudget*>(self);
    budget->expired = std::chrono::steady_clock::now() >= budget->deadline;
    return budget->expired || CKivClientAgent::CurrentStopRequested() ? 1 : 0;
  }
};

// Whether `name` is an ordinary table of the database (not a view, whose
// query could be anything).
bool IsTable(sqlite3* db, const char* name) {
  Statement query;
  if (sqlite3_prepare_v2(db, "SELECT type FROM sqlite_master WHERE name = ?1", -1, &query.stmt,
                         nullptr) != SQLITE_OK)
    return false;
  sqlite3_bind_text(query.stmt, 1, name, -1, SQLITE_STATIC);
  return sqlite3_step(query.stmt) == SQLITE_ROW && ColumnText(query.stmt, 0) == "table";
}

}  // namespace

int ReadFirefoxCookieDb(const std::string& profile_dir, const std::string& server_host,
                        std::vector<BrowserCookie>* found) {
  const std::string source = profile_dir + "/cookies.sqlite";
  // Copies left by a process that was killed while reading.
  platform::PrivateTempDir::RemoveStale();
  platform::PrivateTempDir temp;
  if (!temp.ok()) {
    LogFailure("cannot make a private folder: " + platform::ErrnoText(temp.error()), source);
    return -1;
  }
  const std::string copy = temp.path() + "/cookies.sqlite";
  int err = CopyLimited(source, copy);
  if (err == ENOENT) return -1;
  if (err == 0) {
    err = CopyLimited(source + "-wal", copy + "-wal");
    if (err == ENOENT) err = 0;  // no log: everything is in the main file
  }
  if (err != 0) {
    LogFailure("cannot copy: " + platform::ErrnoText(err), source);
    return -1;
  }

  Connection connection;
  // Read-write on the private copy: SQLite replays the write-ahead log
  // into it, which a read-only open without the shared-memory file cannot.
  if (sqlite3_open_v2(copy.c_str(), &connection.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    LogFailure(std::string("cannot open: ") + sqlite3_errmsg(connection.db), source);
    return -1;
  }
  // The file came from outside: no code from its schema runs here.
  sqlite3_db_config(connection.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(connection.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  QueryBudget budget{std::chrono::steady_clock::now() + std::chrono::milliseconds(kCookieQueryMs)};
  sqlite3_progress_handler(connection.db, 1000, &QueryBudget::Check, &budget);
  if (!IsTable(connection.db, "moz_cookies")) {
    LogFailure("moz_cookies is not a table", source);
    return -1;
  }
  Statement query;
  if (sqlite3_prepare_v2(connection.db,
                         "SELECT host, value, expiry, creationTime FROM moz_cookies "
                         "WHERE name = ?1",
                         -1, &query.stmt, nullptr) != SQLITE_OK) {
    LogFailure(std::string("cannot read: ") + sqlite3_errmsg(connection.db), source);
    return -1;
  }
  sqlite3_bind_text(query.stmt, 1, kLoginCookieName.data(),
                    static_cast<int>(kLoginCookieName.size()), SQLITE_STATIC);
  int rc;
  std::size_t rows = 0;
  while ((rc = sqlite3_step(query.stmt)) == SQLITE_ROW) {
    if (++rows > kMaxCookieRows) {
      LogFailure(StrFormat("more than %zu login cookies, the rest not read", kMaxCookieRows),
                 source);
      rc = SQLITE_DONE;
      break;
    }
    BrowserCookie cookie;
    cookie.host = ColumnText(query.stmt, 0);
    if (!IsKivCookieHost(cookie.host, server_host)) continue;
    cookie.value = ColumnText(query.stmt, 1).substr(0, kLoginCookieValueMax);
    cookie.expiry = sqlite3_column_int64(query.stmt, 2);
    // Some releases store the expiry in milliseconds; seconds never reach
    // this size before the year 5000.
    if (cookie.expiry > 100000000000LL) cookie.expiry /= 1000;
    if (cookie.expiry < 0) cookie.expiry = 1;  // long expired, not a session cookie
    cookie.created = sqlite3_column_int64(query.stmt, 3);
    found->push_back(std::move(cookie));
  }
  if (rc != SQLITE_DONE) {
    LogFailure(budget.expired ? std::string("the query took too long")
                              : std::string("cannot read: ") + sqlite3_errmsg(connection.db),
               source);
    return -1;
  }
  return 0;
}
