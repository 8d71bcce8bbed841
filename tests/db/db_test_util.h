// Helpers shared by the database tests: a fixture with its own temporary
// folder (HOME and XDG_* inside it), the log written there, a fake clock
// for record times, and builders for records and files of a given size.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "db/kiv_db.h"
#include "platform/clock.h"
#include "tests/support/temp_env.h"

namespace db_test {

// A record for `path` that AddEntry accepts: fresh, with `size` bytes and
// some tag text derived from `seed`.
DBEntry MakeEntry(const std::string& path, std::uint32_t size = kDbMinFileSize,
                  std::uint32_t seed = 0);

// Creates a (sparse) file of `size` bytes.
void MakeSizedFile(const std::string& path, std::uint64_t size);

// Whole-file helpers on raw bytes.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
// The header counts stored in a database file.
DBHeader ReadHeader(const std::string& path);

// The operations of the kill test's child, in order: add record i; after
// every third add an update of the record before it; after every seventh a
// delete of the record six before it.
struct KillOp {
  char kind;  // 'a' add, 'u' update, 'd' delete
  int target;
};
std::vector<KillOp> KillOps(int adds);
std::string KillPath(int round, int i);
// The play count an update of record i stores.
inline std::int32_t KillUpdatedPlayCount(int i) { return 5000 + i; }

// Counts changes posted by the engine.
class CountingSink : public DbEventSink {
 public:
  void OnCountsChanged() override { ++counts_changed; }
  int counts_changed = 0;
};

// Keeps the last message box text instead of showing it.
class MessageCatcher : public MessageBoxHost {
 public:
  int Show(const std::string& text, UINT) override {
    last_message = text;
    return IDOK;
  }
  std::string last_message;
};

class DbTestBase : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Path of the database file in the data folder.
  std::string DbPath() const;
  std::string LogText() const;
  // Shuts the engine down and initialises it again.
  BOOL Reinitialise();

  testing_support::TempEnv env_;
  platform::FakeClock clock_{1700000000};
  CountingSink sink_;
  MessageCatcher messages_;
};

}  // namespace db_test
