#include "platform/temp_dir.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/support/temp_env.h"

namespace platform {
namespace {

TEST(PrivateTempDirTest, OnlyTheOwnerEntersAndItGoesWithItsFiles) {
  testing_support::TempEnv env;  // TMPDIR inside the box
  std::string path;
  {
    PrivateTempDir dir;
    ASSERT_TRUE(dir.ok());
    path = dir.path();
    EXPECT_EQ(path.rfind(env.Path("tmp/vornic-"), 0), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    testing_support::WriteFile(path + "/copy", "x");
    testing_support::WriteFile(path + "/copy-wal", "y");
  }
  struct stat st {};
  EXPECT_NE(::stat(path.c_str(), &st), 0);
}

}  // namespace
}  // namespace platform
