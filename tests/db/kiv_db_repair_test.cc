// Start-up loading against damaged files: header mismatches, torn and
// partial records, random bytes, and writes that fail on a full disk.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "db/kiv_db.h"
#include "tests/db/db_test_util.h"

namespace {

using db_test::MakeEntry;
using db_test::ReadBytes;
using db_test::ReadHeader;
using db_test::WriteBytes;

constexpr std::size_t kRec = kDbRecordSize;

class KivDbRepairTest : public db_test::DbTestBase {
 protected:
  // Creates a database of `n` records named /m/<i> through the engine and
  // shuts it down again.
  void MakeDatabase(int n) {
    ASSERT_TRUE(KivDB::Initialise(clock_));
    {
      KivDB db;
      for (int i = 0; i < n; ++i) {
        DBEntry entry = MakeEntry("/m/" + std::to_string(i), kDbMinFileSize, i);
        ASSERT_TRUE(db.AddEntry(&entry));
      }
    }
    KivDB::Shutdown();
  }

  void SetHeaderCounts(std::uint32_t valid, std::uint32_t empty) {
    std::string bytes = ReadBytes(DbPath());
    DBHeader header = ReadHeader(DbPath());
    header.valid_count = valid;
    header.empty_count = empty;
    std::memcpy(bytes.data(), &header, sizeof header);
    WriteBytes(DbPath(), bytes);
  }

  // Every record /m/<i> in `present` can be read back whole.
  void ExpectRecords(const std::vector<int>& present) {
    KivDB db;
    for (int i : present) {
      DBEntry entry;
      ASSERT_TRUE(db.GetEntry("/m/" + std::to_string(i), &entry)) << i;
      EXPECT_EQ(EntryText(entry.title), "Title " + std::to_string(i));
    }
    EXPECT_EQ(KivDB::ValidCount(), present.size());
  }

  // A second start finds the file consistent: no further repair.
  void ExpectConsistentReload() {
    std::size_t repairs = Count(LogText(), "Repairing DB...");
    ASSERT_TRUE(Reinitialise());
    EXPECT_EQ(Count(LogText(), "Repairing DB..."), repairs);
    DBHeader header = ReadHeader(DbPath());
    std::size_t records = (ReadBytes(DbPath()).size() - kDbHeaderSize) / kRec;
    EXPECT_EQ(header.valid_count + header.empty_count, records);
    EXPECT_EQ((ReadBytes(DbPath()).size() - kDbHeaderSize) % kRec, 0u);
  }

  static std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }
};

TEST_F(KivDbRepairTest, HeaderMismatchMakesABackupAndRepairs) {
  MakeDatabase(9);
  SetHeaderCounts(10, 0);
  std::string before = ReadBytes(DbPath());
  ASSERT_TRUE(KivDB::Initialise(clock_));
  EXPECT_EQ(ReadBytes(DbPath() + ".bak"), before);
  std::string log = LogText();
  EXPECT_NE(log.find("DB Error: DB header indicates 10 valid, 0 empty - index load found 9 valid "
                     "and 0 empty"),
            std::string::npos);
  EXPECT_NE(log.find("Repairing DB..."), std::string::npos);
  EXPECT_EQ(ReadHeader(DbPath()).valid_count, 9u);
  EXPECT_EQ(ReadBytes(DbPath()).size(), before.size());
  ExpectRecords({0, 1, 2, 3, 4, 5, 6, 7, 8});
  ExpectConsistentReload();
}

TEST_F(KivDbRepairTest, PartialTrailingRecordIsCut) {
  MakeDatabase(3);
  std::string bytes = ReadBytes(DbPath());
  DBEntry extra = MakeEntry("/m/partial", kDbMinFileSize, 99);
  extra.flags = DBFLAG_VALID;
  bytes.append(reinterpret_cast<const char*>(&extra), 700);  // a torn append
  WriteBytes(DbPath(), bytes);
  ASSERT_TRUE(KivDB::Initialise(clock_));
  EXPECT_EQ(ReadBytes(DbPath()).size(), kDbHeaderSize + 3 * kRec);
  EXPECT_NE(LogText().find("Truncated 700 bytes from DB file."), std::string::npos);
  ExpectRecords({0, 1, 2});
  ExpectConsistentReload();
}

TEST_F(KivDbRepairTest, RepairKeepsRecordsAfterATornWrite) {
  MakeDatabase(6);
  std::string bytes = ReadBytes(DbPath());
  // Record 2 is damaged in the middle of the file; the header still agrees.
  std::memset(bytes.data() + kDbHeaderSize + 2 * kRec, 0x5A, 100);
  WriteBytes(DbPath(), bytes);
  ASSERT_TRUE(KivDB::Initialise(clock_));
  ExpectRecords({0, 1, 3, 4, 5});
  EXPECT_EQ(KivDB::EmptyCount(), 1u);
  EXPECT_EQ(ReadBytes(DbPath()).size(), bytes.size());
  // The damaged slot is reused by the next add.
  {
    KivDB db;
    DBEntry entry = MakeEntry("/m/new");
    ASSERT_TRUE(db.AddEntry(&entry));
    EXPECT_EQ(db.LookupEntry("/m/new"), kDbHeaderSize + 2 * kRec);
  }
  ExpectConsistentReload();
  EXPECT_EQ(KivDB::ValidCount(), 6u);
}

TEST_F(KivDbRepairTest, RandomBytesAfterTheHeaderAreRepairedIntoALoadableFile) {
  std::mt19937 random(1234);
  for (std::size_t tail : {std::size_t{1}, kRec - 1, 5 * kRec + 17, 40 * kRec}) {
    DBHeader header = MakeDBHeader();
    header.valid_count = random();
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    for (std::size_t i = 0; i < tail; ++i) bytes.push_back(static_cast<char>(random()));
    // Sprinkle a few valid-looking records so both kinds of slot occur.
    for (std::size_t pos = kDbHeaderSize + kRec; pos + kRec <= bytes.size(); pos += 3 * kRec) {
      DBEntry entry = MakeEntry("/m/" + std::to_string(pos), kDbMinFileSize, 1);
      entry.flags = (pos / kRec) % 2 ? DBFLAG_VALID : 0;
      std::memcpy(bytes.data() + pos, &entry, sizeof entry);
    }
    WriteBytes(DbPath(), bytes);
    ASSERT_TRUE(Reinitialise()) << tail;
    EXPECT_EQ(ReadBytes(DbPath()).size(), kDbHeaderSize + tail / kRec * kRec);
    ExpectConsistentReload();
  }
}

TEST_F(KivDbRepairTest, WritesOnAFullDiskFailAndKeepWhatWasThere) {
  MakeDatabase(3);
  ASSERT_TRUE(KivDB::Initialise(clock_));
  KivDB db;
  std::string before = ReadBytes(DbPath());
  // A file size limit makes the kernel refuse to grow the file, as a full
  // disk would.
  struct sigaction ignore {
  }, old_action{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old_action), 0);
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit limit = old_limit;
  limit.rlim_cur = before.size() + 500;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  DBEntry entry = MakeEntry("/m/new");
  BOOL added = db.AddEntry(&entry);
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::sigaction(SIGXFSZ, &old_action, nullptr);

  EXPECT_FALSE(added);
  EXPECT_EQ(ReadBytes(DbPath()), before);
  EXPECT_EQ(db.LookupEntry("/m/new"), 0u);
  EXPECT_EQ(KivDB::ValidCount(), 3u);
  EXPECT_NE(LogText().find("Unable to write new entry in local db: " + DbPath()),
            std::string::npos);
  // Existing records still update in place, and the next start needs no
  // repair.
  DBEntry first;
  ASSERT_TRUE(db.GetEntry("/m/0", &first));
  first.play_count = 5;
  EXPECT_TRUE(db.UpdateEntry(&first, TRUE));
  ExpectConsistentReload();
  ExpectRecords({0, 1, 2});
}

}  // namespace
