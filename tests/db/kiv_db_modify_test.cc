#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "db/kiv_db.h"
#include "tests/db/db_test_util.h"

namespace {

using db_test::MakeEntry;

class KivDbModifyTest : public db_test::DbTestBase {
 protected:
  void SetUp() override {
    DbTestBase::SetUp();
    ASSERT_TRUE(KivDB::Initialise(clock_));
    DBEntry a = MakeEntry("/m/a");
    ASSERT_TRUE(KivDB().AddEntry(&a));
  }
  DBEntry Stored(const std::string& path = "/m/a") {
    DBEntry entry{};
    EXPECT_TRUE(KivDB().GetEntry(path, &entry));
    return entry;
  }
};

TEST_F(KivDbModifyTest, ChangesOnlyWhatTheChangeTouchesAndTouchesWhenAsked) {
  KivDB db;
  const std::int64_t before = Stored().modified;
  const std::int64_t now = platform::NowAsStoredTime(clock_.WallTime());
  clock_.Advance(3600 * 1000);
  ASSERT_TRUE(db.ModifyEntry("/m/a", [](DBEntry& e) {
    e.play_count += 2;
    e.flags |= DBFLAG_IDENTIFIED;
    return true;
  }));
  DBEntry got = Stored();
  EXPECT_EQ(got.play_count, 2);
  EXPECT_EQ(got.modified, before);
  EXPECT_EQ(std::string(got.title), std::string(MakeEntry("/m/a").title));
  EXPECT_EQ(KivDB::IdentifiedCount(), 1u);

  ASSERT_TRUE(db.ModifyEntry(
      "/m/a", [](DBEntry& e) { return ++e.play_count > 0; }, TRUE));
  EXPECT_EQ(Stored().play_count, 3);
  EXPECT_EQ(Stored().modified, now + 3600);

  // Declining writes nothing, not even the touch.
  clock_.Advance(1000);
  EXPECT_TRUE(db.ModifyEntry(
      "/m/a",
      [](DBEntry& e) {
        e.play_count = 99;
        return false;
      },
      TRUE));
  EXPECT_EQ(Stored().play_count, 3);
  EXPECT_EQ(Stored().modified, now + 3600);
}

TEST_F(KivDbModifyTest, RefusesUnknownPathsMovesAndFrees) {
  KivDB db;
  bool called = false;
  EXPECT_FALSE(db.ModifyEntry("/m/none", [&](DBEntry&) { return called = true; }));
  EXPECT_FALSE(called);
  EXPECT_FALSE(db.ModifyEntry("/m/a", [](DBEntry& e) { return SetEntryPath(e, "/m/b"); }));
  EXPECT_FALSE(db.ModifyEntry("/m/a", [](DBEntry& e) {
    e.flags &= ~DBFLAG_VALID;
    e.play_count = 5;
    return true;
  }));
  EXPECT_FALSE(db.ModifyEntry("/m/a", [](DBEntry& e) { return (e.record_size = 1) != 0; }));
  DBEntry got = Stored();
  EXPECT_EQ(got.play_count, 0);
  EXPECT_EQ(EntryPath(got), "/m/a");
  EXPECT_EQ(db.LookupEntry("/m/b"), 0u);
  EXPECT_EQ(KivDB::ValidCount(), 1u);
}

// Each thread counts plays through its own connection; the lock spans the
// read and the write, so none of them is lost.
TEST_F(KivDbModifyTest, ConcurrentChangesAreNeverLost) {
  constexpr int kThreads = 4;
  constexpr int kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      KivDB db;
      const DWORD mine = 0x100u << t;
      for (int i = 0; i < kEach; ++i) {
        db.ModifyEntry("/m/a", [&](DBEntry& e) {
          ++e.play_count;
          e.flags ^= mine;
          return true;
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  DBEntry got = Stored();
  EXPECT_EQ(got.play_count, kThreads * kEach);
  EXPECT_EQ(got.flags & 0xF00u, 0u);  // every thread flipped its bit an even number of times
}

}  // namespace
