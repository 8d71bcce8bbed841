#include "platform/file_lock.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/temp_env.h"

namespace platform {
namespace {

TEST(FileLockTest, ASecondHolderIsRefusedAndToldWhoHoldsIt) {
  testing_support::TempEnv env;
  const std::string path = env.Path("kivclient.db");
  FileLock first;
  ASSERT_EQ(first.Take(path), FileLock::State::kHeld);
  // Another open file description, even in this process, is another holder.
  FileLock second;
  EXPECT_EQ(second.Take(path), FileLock::State::kHeldElsewhere);
  EXPECT_EQ(second.holder_pid(), ::getpid());
  first.Release();
  EXPECT_EQ(second.Take(path), FileLock::State::kHeld);

  FileLock folder;
  EXPECT_EQ(folder.Take(env.root()), FileLock::State::kFailed);
  EXPECT_NE(folder.error(), 0);
}

TEST(FileLockTest, HolderPidComesFromTheLineOfThatFile) {
  const std::uint64_t dev = makedev(0xfe, 0x01);
  const std::string locks =
      "1: POSIX  ADVISORY  WRITE 11 fe:01:500 0 EOF\n"
      "2: FLOCK  ADVISORY  READ  12 fe:01:500 0 EOF\n"
      "3: FLOCK  ADVISORY  WRITE 13 fe:02:500 0 EOF\n"
      "4: FLOCK  ADVISORY  WRITE 14 fe:01:500 0 EOF\n"
      "4: -> FLOCK  ADVISORY  WRITE 15 fe:01:500 0 EOF\n"
      "garbage\n";
  EXPECT_EQ(FlockHolderPid(locks, dev, 500), 14);
  EXPECT_EQ(FlockHolderPid(locks, dev, 501), 0);
  // No line for the device (an overlay lists its lower layer): one line with
  // the inode is taken, two are ambiguous.
  EXPECT_EQ(FlockHolderPid(locks, makedev(0xfe, 0x09), 500), 0);
  EXPECT_EQ(FlockHolderPid("7: FLOCK  ADVISORY  WRITE 77 08:03:42 0 EOF", dev, 42), 77);
  EXPECT_EQ(FlockHolderPid("", dev, 42), 0);
}

}  // namespace
}  // namespace platform
