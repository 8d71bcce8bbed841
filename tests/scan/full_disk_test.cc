// The data folder on a real, small tmpfs (mounting needs root; the tests
// skip otherwise): filled up while the indexer runs, and read-only at start.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/agent_kinds.h"
#include "db/kiv_db.h"
#include "scan/agent_indexer.h"
#include "tests/scan/collection_fixture.h"

namespace {

namespace fs = std::filesystem;
using media_cache::CollectionFixture;

constexpr int kFiles = 40;

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class FullDiskTest : public CollectionFixture {
 protected:
  // Mounts a 1 MiB tmpfs (read-only when asked) that holds the data and
  // settings folders, then sets up as usual with the log in it too.
  void Mount(const char* options, unsigned long flags = 0) {
    volume_ = env_.Path("volume");
    fs::create_directories(volume_);
    mounted_ = ::geteuid() == 0 && ::mount("tmpfs", volume_.c_str(), "tmpfs", flags, options) == 0;
    if (!mounted_) return;
    ::setenv("XDG_DATA_HOME", (volume_ + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (volume_ + "/config").c_str(), 1);
  }
  void SetUp() override {}  // after the mount, in StartInVolume
  void StartInVolume() {
    CollectionFixture::SetUp();
    log_ = platform::DataDir() + "/kivclient.log";
    AppLog().SetLogFile(log_);
    AppLog().SetLogLevel(LEVEL_INFO);
  }
  void TearDown() override {
    CollectionFixture::TearDown();
    AppLog().SetLogFile(env_.Path("after.log"));
    if (mounted_) ::umount2(volume_.c_str(), MNT_DETACH);
  }
  // Fills the volume but for about `room` bytes.
  void Fill(std::size_t room) {
    filler_ = volume_ + "/filler";
    int fd = ::open(filler_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    std::string block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    ASSERT_EQ(::ftruncate(fd, size > static_cast<off_t>(room) ? size - room : 0), 0);
    ::close(fd);
  }
  bool RetryRequested() {
    for (const Message& m : Posted())
      if (m.id == WM_AGENT_REQUEST && m.wParam == ID_AGENT_INDEXER && m.lParam == kIndexerRetryMs)
        return true;
    return false;
  }
  std::string Log() const { return testing_support::ReadFile(log_); }

  std::string volume_;
  std::string filler_;
  std::string log_;
  bool mounted_ = false;
};

TEST_F(FullDiskTest, AFullDiskLosesNoFileAndThePassRunsAgainOnceSpaceReturns) {
  Mount("size=1m");
  if (!mounted_) GTEST_SKIP() << "mounting a tmpfs needs root";
  StartInVolume();
  for (int i = 0; i < kFiles; ++i) PutSized(music_ + "/" + std::to_string(i) + ".mp3", 131072);
  Choose({{music_, 1}});
  Fill(8192);

  RunIndexer();
  const DWORD stored = KivDB::ValidCount();
  EXPECT_LT(stored, static_cast<DWORD>(kFiles));
  EXPECT_NE(ReadDword(kIndexCompleteValue, 0), 1u) << "a pass that left files out is not complete";
  EXPECT_TRUE(RetryRequested());
  // Whole records only, and the settings file as it was (its save failed).
  EXPECT_EQ((fs::file_size(KivDB::DatabasePath()) - kDbHeaderSize) % kDbRecordSize, 0u);
  const std::string settings = platform::ConfigDir() + "/registry.reg";
  const std::string settings_before = testing_support::ReadFile(settings);
  ASSERT_FALSE(settings_before.empty());
  EXPECT_FALSE(AppSettings().WriteDword(kSubKeySettings, "Probe", 7));
  EXPECT_EQ(testing_support::ReadFile(settings), settings_before);

  // Still full: the retry changes nothing and says nothing new.
  const std::string log_then = Log();
  RunIndexer();
  EXPECT_TRUE(RetryRequested());
  EXPECT_EQ(KivDB::ValidCount(), stored);
  EXPECT_EQ(Count(Log(), " ERROR "), Count(log_then, " ERROR "));

  // Space comes back: the next pass stores the rest and completes.
  fs::remove(filler_);
  RunIndexer();
  EXPECT_EQ(KivDB::ValidCount(), static_cast<DWORD>(kFiles));
  EXPECT_EQ(ReadDword(kIndexCompleteValue, 0), 1u);
  EXPECT_FALSE(RetryRequested());

  const std::string log = Log();
  // Every line whole: none was cut where the disk filled.
  EXPECT_EQ(log.size() >= 2 ? log.substr(log.size() - 2) : log, "\r\n");
  EXPECT_EQ(Count(log, "\r\n"), Count(log, "\n"));
  EXPECT_EQ(Count(log, " INFO ") + Count(log, " ERROR ") + Count(log, " WARNING ") +
                Count(log, " CRITICAL "),
            Count(log, "\r\n"));
  // One line per change of state, not one per failed write.
  EXPECT_LE(Count(log, "Writes to the local db fail"), 1u);
  EXPECT_LE(Count(log, "could not be stored in the database"), 1u);
  EXPECT_EQ(Count(log, "FAILED adding"), 0u);
  EXPECT_EQ(Count(log, "Writes to the local db succeed again"), 1u);
  EXPECT_EQ(Count(log, "every file found is stored again"), 1u);

  // The file loads as it stands, without a repair.
  KivDB::Shutdown();
  ASSERT_TRUE(KivDB::Initialise(clock_));
  EXPECT_EQ(KivDB::ValidCount(), static_cast<DWORD>(kFiles));
  EXPECT_EQ(Count(Log(), "Repairing DB"), 0u);
}

TEST_F(FullDiskTest, AReadOnlyDataFolderAtStartIsRefusedClearlyAndLeftAsItIs) {
  Mount("size=1m");
  if (!mounted_) GTEST_SKIP() << "mounting a tmpfs needs root";
  // A database of one empty header, then the volume made read-only (with
  // nothing open on it, as at start).
  const std::string db = volume_ + "/data/kiv/kivclient.db";
  fs::create_directories(fs::path(db).parent_path());
  const DBHeader header = MakeDBHeader();
  const std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
  testing_support::WriteFile(db, bytes);
  ASSERT_EQ(::mount(nullptr, volume_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);

  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  AppLog().SetLogFile(env_.Path("kivclient.log"));
  EXPECT_FALSE(KivDB::Initialise(clock_));
  EXPECT_NE(testing_support::ReadFile(env_.Path("kivclient.log"))
                .find("Unable to create or open local db file: " + db + ", Read-only file system"),
            std::string::npos);
  EXPECT_EQ(testing_support::ReadFile(db), bytes);
}

}  // namespace
