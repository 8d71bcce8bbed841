// Many threads, each with its own KivDB, adding, updating, reading and
// deleting at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/log.h"
#include "db/kiv_db.h"
#include "tests/db/db_test_util.h"

namespace {

using db_test::MakeEntry;
using db_test::ReadBytes;
using db_test::ReadHeader;

class KivDbThreadsTest : public db_test::DbTestBase {};

std::string PathOf(int thread, int i) {
  return "/music/t" + std::to_string(thread) + "/" + std::to_string(i) + ".mp3";
}

TEST_F(KivDbThreadsTest, ConcurrentWritersLeaveAConsistentFile) {
  AppLog().SetLogLevel(LEVEL_WARNING);
  ASSERT_TRUE(KivDB::Initialise(clock_));
  constexpr int kThreads = 8;
  constexpr int kPerThread = 150;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      KivDB db;
      for (int i = 0; i < kPerThread; ++i) {
        DBEntry entry = MakeEntry(PathOf(t, i), kDbMinFileSize, i);
        if (!db.AddEntry(&entry)) ++failures;
        // Update the previous record, read it back, and delete every fifth.
        if (i == 0) continue;
        DBEntry previous;
        if (!db.GetEntry(PathOf(t, i - 1), &previous)) {
          ++failures;
          continue;
        }
        previous.play_count = 1000 + i;
        if (i % 2) previous.flags |= DBFLAG_IDENTIFIED;
        if (!db.UpdateEntry(&previous, TRUE)) ++failures;
        if (i % 5 == 0 && !db.DeleteEntry(PathOf(t, i - 5))) ++failures;
      }
      if (!db.Flush()) ++failures;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);

  auto deleted = [](int i) { return i % 5 == 0 && i + 5 < kPerThread; };
  int expected_valid = 0;
  for (int i = 0; i < kPerThread; ++i) expected_valid += !deleted(i);
  expected_valid *= kThreads;
  EXPECT_EQ(KivDB::ValidCount(), static_cast<DWORD>(expected_valid));

  // A fresh start finds the same counts without a repair, and every record
  // holds what its thread wrote last.
  ASSERT_TRUE(Reinitialise());
  EXPECT_EQ(LogText().find("Repairing DB..."), std::string::npos);
  EXPECT_EQ(KivDB::ValidCount(), static_cast<DWORD>(expected_valid));
  DBHeader header = ReadHeader(DbPath());
  EXPECT_EQ(header.valid_count + header.empty_count,
            (ReadBytes(DbPath()).size() - kDbHeaderSize) / kDbRecordSize);
  KivDB db;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i) {
      DBEntry entry;
      bool found = db.GetEntry(PathOf(t, i), &entry);
      ASSERT_EQ(found, !deleted(i)) << t << "/" << i;
      if (!found) continue;
      EXPECT_EQ(EntryText(entry.title), "Title " + std::to_string(i));
      if (i + 1 < kPerThread) {
        EXPECT_EQ(entry.play_count, 1000 + i + 1);
      }
    }
  }
}

}  // namespace
