// Child process of the kill test: opens the database in the data folder of
// its environment and runs the kill test's operations of one round,
// writing the number of each finished operation to standard output, until
// it is killed. Exit codes: 2 the database did not open, 3 an operation
// failed, 0 all operations done.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/log.h"
#include "app/reg_settings.h"
#include "db/kiv_db.h"
#include "tests/db/db_test_util.h"

int main(int argc, char** argv) {
  if (argc != 4) return 1;
  int round = std::atoi(argv[1]);
  int adds = std::atoi(argv[2]);
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  AppLog().SetLogFile(argv[3]);
  AppLog().SetLogLevel(LEVEL_WARNING);
  if (::write(1, "s\n", 2) != 2) return 4;
  if (!KivDB::Initialise()) return 2;
  KivDB db;
  std::vector<db_test::KillOp> ops = db_test::KillOps(adds);
  for (std::size_t k = 0; k < ops.size(); ++k) {
    std::string path = db_test::KillPath(round, ops[k].target);
    BOOL ok = FALSE;
    if (ops[k].kind == 'a') {
      DBEntry entry = db_test::MakeEntry(path, kDbMinFileSize, ops[k].target);
      ok = db.AddEntry(&entry);
    } else if (ops[k].kind == 'u') {
      DBEntry entry;
      ok = db.GetEntry(path, &entry);
      entry.play_count = db_test::KillUpdatedPlayCount(ops[k].target);
      entry.flags |= DBFLAG_PLAYED;
      ok = ok && db.UpdateEntry(&entry, TRUE);
    } else {
      ok = db.DeleteEntry(path);
    }
    if (!ok) return 3;
    std::string ack = std::to_string(k) + "\n";
    if (::write(1, ack.data(), ack.size()) != static_cast<ssize_t>(ack.size())) return 4;
  }
  return 0;
}
