#include "db/record_scanner.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_handle.h"
#include "tests/db/db_test_util.h"
#include "tests/support/temp_env.h"

namespace {

using Scanned = std::vector<std::pair<std::uint32_t, std::string>>;

Scanned ScanAll(const std::string& path, bool mapped, std::size_t window, std::size_t* partial) {
  platform::FileHandle file;
  EXPECT_TRUE(file.OpenRead(path));
  kivdb::RecordScanner scanner(file, static_cast<std::uint64_t>(file.Size()), mapped, window);
  Scanned found;
  std::uint32_t pos = 0;
  while (const DBEntry* entry = scanner.Next(&pos)) found.emplace_back(pos, EntryPath(*entry));
  EXPECT_FALSE(scanner.failed());
  EXPECT_FALSE(scanner.lost());
  *partial = scanner.partial_bytes();
  return found;
}

// Read in place through windows of a few pages, records that straddle a
// window's end come whole from the next window: the scan sees what a plain
// read sees, down to the partial record at the end.
TEST(RecordScannerTest, WindowsOfTheFileGiveEveryRecordAsAPlainReadDoes) {
  testing_support::TempEnv env;
  const std::string path = env.Path("kivclient.db");
  DBHeader header = MakeDBHeader();
  std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
  for (int i = 0; i < 40; ++i) {
    DBEntry entry = db_test::MakeEntry("/music/" + std::to_string(i) + ".mp3");
    bytes.append(reinterpret_cast<const char*>(&entry), sizeof entry);
  }
  bytes.append(100, 'x');
  db_test::WriteBytes(path, bytes);

  std::size_t plain_partial = 0;
  std::size_t mapped_partial = 0;
  const Scanned plain = ScanAll(path, false, 0, &plain_partial);
  const Scanned mapped = ScanAll(path, true, 1, &mapped_partial);
  ASSERT_EQ(plain.size(), 40u);
  EXPECT_EQ(plain[39], (std::pair<std::uint32_t, std::string>(256 + 39 * 1296, "/music/39.mp3")));
  EXPECT_EQ(mapped, plain);
  EXPECT_EQ(plain_partial, 100u);
  EXPECT_EQ(mapped_partial, 100u);
}

}  // namespace
