#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "db/kiv_db.h"
#include "platform/file_lock.h"
#include "tests/db/db_test_util.h"

namespace {

using platform::FileLock;

class KivDbLockTest : public db_test::DbTestBase {};

TEST_F(KivDbLockTest, TheEngineHoldsTheFileFromInitialiseToShutdown) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  {
    // Handles of the engine's own objects come and go without dropping it.
    KivDB db;
    DBEntry entry = db_test::MakeEntry("/m/a");
    ASSERT_TRUE(db.AddEntry(&entry));
  }
  FileLock other;
  EXPECT_EQ(other.Take(DbPath()), FileLock::State::kHeldElsewhere);
  KivDB::Shutdown();
  EXPECT_EQ(other.Take(DbPath()), FileLock::State::kHeld);
}

TEST_F(KivDbLockTest, AFileHeldElsewhereIsRefusedNamedAndLeftAsItIs) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  {
    KivDB db;
    DBEntry entry = db_test::MakeEntry("/m/a");
    ASSERT_TRUE(db.AddEntry(&entry));
  }
  KivDB::Shutdown();
  const std::string before = db_test::ReadBytes(DbPath());
  FileLock holder;
  ASSERT_EQ(holder.Take(DbPath()), FileLock::State::kHeld);

  EXPECT_FALSE(KivDB::Initialise(clock_));
  EXPECT_FALSE(KivDB::IsInitialised());
  const std::string expected = "The local db file " + DbPath() +
                               " is in use by another process (pid " + std::to_string(::getpid()) +
                               ")";
  EXPECT_NE(messages_.last_message.find(expected), std::string::npos) << messages_.last_message;
  EXPECT_NE(LogText().find(expected), std::string::npos);
  KivDB db;
  EXPECT_FALSE(db.IsReady());
  EXPECT_EQ(db_test::ReadBytes(DbPath()), before);

  holder.Release();
  EXPECT_TRUE(KivDB::Initialise(clock_));
  EXPECT_EQ(KivDB::ValidCount(), 1u);
}

}  // namespace
