#include "db/db_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(DbFormatTest, FreshHeaderAndRecordHoldTheirFixedBytes) {
  DBHeader header = MakeDBHeader();
  const auto* h = reinterpret_cast<const unsigned char*>(&header);
  EXPECT_EQ(std::memcmp(h, "KIVDB\0\0\0", 8), 0);
  EXPECT_EQ(h[8], 2);
  EXPECT_EQ(h[12], 0x00);  // 256 little-endian: 00 01 00 00
  EXPECT_EQ(h[13], 0x01);
  EXPECT_EQ(h[16], 0x10);  // 1296 = 0x0510
  EXPECT_EQ(h[17], 0x05);
  for (std::size_t i = 20; i < sizeof header; ++i) ASSERT_EQ(h[i], 0) << i;

  DBEntry entry = MakeFreshEntry(0x0102030405060708);
  const auto* e = reinterpret_cast<const unsigned char*>(&entry);
  EXPECT_EQ(std::memcmp(e, "KIV\0", 4), 0);
  EXPECT_EQ(e[4], 3);
  EXPECT_EQ(e[8], 0x10);
  EXPECT_EQ(e[9], 0x05);
  EXPECT_EQ(e[568], 0x08);  // created, little-endian
  EXPECT_EQ(e[576 + 7], 0x01);
  std::size_t nonzero = 0;
  for (std::size_t i = 12; i < sizeof entry; ++i) nonzero += e[i] != 0;
  EXPECT_EQ(nonzero, 16u);  // only the two times
  EXPECT_TRUE(ValidEntry(&entry));
}

TEST(DbFormatTest, ValidEntryChecksSizeAndMagicOnly) {
  DBEntry entry = MakeFreshEntry(1);
  entry.version = 99;  // not checked
  EXPECT_TRUE(ValidEntry(&entry));
  entry.record_size = 1295;
  EXPECT_FALSE(ValidEntry(&entry));
  entry.record_size = kDbRecordSize;
  entry.magic[2] = 'X';
  EXPECT_FALSE(ValidEntry(&entry));
  EXPECT_FALSE(ValidEntry(nullptr));
}

TEST(DbFormatTest, RecordBoundaries) {
  EXPECT_TRUE(IsRecordBoundary(256, 256));
  EXPECT_TRUE(IsRecordBoundary(256 + 1296, 256 + 2 * 1296));
  EXPECT_TRUE(IsRecordBoundary(256 + 2 * 1296, 256 + 2 * 1296));  // the end itself
  EXPECT_FALSE(IsRecordBoundary(256 + 3 * 1296, 256 + 2 * 1296));
  EXPECT_FALSE(IsRecordBoundary(255, 10000));
  EXPECT_FALSE(IsRecordBoundary(0, 10000));
  EXPECT_FALSE(IsRecordBoundary(257, 10000));
}

TEST(DbFormatTest, PathsAreStoredWholeOrRefused) {
  DBEntry entry = MakeFreshEntry(1);
  ASSERT_TRUE(SetEntryPath(entry, "/music/Ärzte/ソング.mp3"));
  EXPECT_EQ(EntryPath(entry), "/music/Ärzte/ソング.mp3");
  EXPECT_EQ(entry.path[0], u'/');

  std::string fits = "/" + std::string(258, 'a');  // 259 units
  ASSERT_TRUE(SetEntryPath(entry, fits));
  EXPECT_EQ(EntryPath(entry), fits);
  EXPECT_TRUE(EntryPathTerminated(entry));
  // One unit more would leave no room for the terminator: refused, and the
  // field keeps what it had instead of a cut path naming another file.
  EXPECT_FALSE(SetEntryPath(entry, fits + "b"));
  EXPECT_EQ(EntryPath(entry), fits);
  // A character outside the basic plane takes two units.
  EXPECT_FALSE(SetEntryPath(entry, "/" + std::string(257, 'a') + "\U0001F3B5"));
  EXPECT_TRUE(SetEntryPath(entry, "/" + std::string(256, 'a') + "\U0001F3B5"));
  // Bytes that are not UTF-8 cannot be stored faithfully.
  EXPECT_FALSE(SetEntryPath(entry, "/music/\xff\xfe.mp3"));
  EXPECT_FALSE(SetEntryPath(entry, std::string("/a\0b", 4)));

  // A field without terminator reads as all 260 units.
  for (auto& unit : entry.path) unit = u'x';
  EXPECT_FALSE(EntryPathTerminated(entry));
  EXPECT_EQ(EntryPath(entry).size(), kDbPathUnits);
}

TEST(DbFormatTest, TextFieldsAreCutAtCharacterBoundaries) {
  DBEntry entry = MakeFreshEntry(1);
  SetEntryText(entry.year, "1999");
  EXPECT_EQ(EntryText(entry.year), "1999");
  SetEntryText(entry.year, "2001-05-06");
  EXPECT_EQ(EntryText(entry.year), "2001-0");  // full field, no terminator
  SetEntryText(entry.year, "aaaaaé");          // é would straddle the end
  EXPECT_EQ(EntryText(entry.year), "aaaaa");
  EXPECT_EQ(entry.year[5], 0);
  SetEntryText(entry.genre, "Rock");
  SetEntryText(entry.genre, "");
  EXPECT_EQ(EntryText(entry.genre), "");
  EXPECT_EQ(entry.extra1[0], 0);  // neighbours untouched
}

}  // namespace
