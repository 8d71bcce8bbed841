#include "db/kiv_db.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/reg_settings.h"
#include "tests/db/db_test_util.h"

namespace {

using db_test::MakeEntry;
using db_test::MakeSizedFile;
using db_test::ReadBytes;
using db_test::ReadHeader;

constexpr std::uint64_t kRec = kDbRecordSize;

class KivDbTest : public db_test::DbTestBase {};

TEST_F(KivDbTest, EmptyFileBecomesANewDatabase) {
  db_test::WriteBytes(DbPath(), "");
  ASSERT_TRUE(KivDB::Initialise(clock_));
  EXPECT_EQ(KivDB::DatabasePath(), DbPath());
  EXPECT_EQ(ReadBytes(DbPath()).size(), kDbHeaderSize);
  DBHeader header = ReadHeader(DbPath());
  EXPECT_EQ(std::string(header.magic, 5), "KIVDB");
  EXPECT_EQ(header.valid_count, 0u);
  KivDB db;
  EXPECT_TRUE(db.IsReady());
  EXPECT_EQ(db.GetLength(), 256);
  EXPECT_EQ(db.GetFirstEntry(nullptr, TRUE), 0u);
  EXPECT_NE(LogText().find("Setting database file: " + DbPath()), std::string::npos);
}

TEST_F(KivDbTest, OperationsFailWhenNotInitialised) {
  KivDB db;
  DBEntry entry = MakeEntry("/m/a.mp3");
  EXPECT_FALSE(db.IsReady());
  EXPECT_FALSE(db.AddEntry(&entry));
  EXPECT_EQ(db.LookupEntry("/m/a.mp3"), 0u);
  EXPECT_EQ(db.GetLength(), -1);
  EXPECT_EQ(KivDB::ValidCount(), 0u);
  EXPECT_NE(LogText().find("Call to DB failed: DB not initialized"), std::string::npos);
}

TEST_F(KivDbTest, AddGetAndIterate) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  KivDB db;
  for (int i = 0; i < 5; ++i) {
    DBEntry entry = MakeEntry("/m/" + std::to_string(i) + ".mp3", kDbMinFileSize, i);
    ASSERT_TRUE(db.AddEntry(&entry));
    EXPECT_TRUE(entry.flags & DBFLAG_VALID);
  }
  EXPECT_EQ(db.GetLength(), static_cast<std::int64_t>(256 + 5 * kRec));
  EXPECT_EQ(db.LookupEntry("/m/3.mp3"), 256 + 3 * kRec);
  EXPECT_EQ(db.LookupEntry("/m/9.mp3"), 0u);
  EXPECT_EQ(db.LookupEntry(""), 0u);

  DBEntry got;
  ASSERT_TRUE(db.GetEntry("/m/2.mp3", &got));
  EXPECT_EQ(EntryText(got.title), "Title 2");
  EXPECT_FALSE(db.GetEntry("/m/9.mp3", &got));
  EXPECT_FALSE(db.GetEntry("", &got));

  // A second object has its own cursor.
  KivDB other;
  std::uint32_t pos = db.GetFirstEntry(&got, FALSE);
  EXPECT_EQ(other.GetFirstEntry(nullptr, FALSE), pos);
  EXPECT_EQ(other.GetNextEntry(nullptr, FALSE), pos + kRec);
  int seen = 1;
  while (db.GetNextEntry(&got, FALSE)) ++seen;
  EXPECT_EQ(seen, 5);
  // A burst of adds leaves the header to Flush (or to the close).
  ASSERT_TRUE(db.Flush());
  EXPECT_EQ(ReadHeader(DbPath()).valid_count, 5u);
}

// A pass reads records ahead in blocks; what another handle writes while
// the pass runs must still be what the pass returns.
TEST_F(KivDbTest, APassSeesWhatAnotherHandleWritesMeanwhile) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  KivDB db;
  auto path = [](int i) { return "/m/" + std::to_string(i) + ".mp3"; };
  for (int i = 0; i < 100; ++i) {
    DBEntry entry = MakeEntry(path(i), kDbMinFileSize, i);
    ASSERT_TRUE(db.AddEntry(&entry));
  }
  KivDB pass;
  KivDB other;
  std::vector<std::string> titles;
  DBEntry got;
  for (std::uint32_t p = pass.GetFirstEntry(&got, FALSE); p; p = pass.GetNextEntry(&got, FALSE)) {
    titles.push_back(EntryText(got.title));
    if (titles.size() == 3) {
      ASSERT_TRUE(other.ModifyEntry(path(5), [](DBEntry& e) {
        SetEntryText(e.title, "Changed");
        return true;
      }));
      ASSERT_TRUE(other.DeleteEntry(path(6)));
      DBEntry added = MakeEntry("/m/late.mp3", kDbMinFileSize, 100);
      ASSERT_TRUE(other.AddEntry(&added));  // takes the slot of record 6
    }
  }
  ASSERT_EQ(titles.size(), 100u);
  EXPECT_EQ(titles[5], "Changed");
  EXPECT_EQ(titles[6], "Title 100");
  EXPECT_EQ(titles[99], "Title 99");
}

// A pass by summary must return exactly what a plain pass with the same
// test returns, whichever write changed the records, mid-pass and after a
// reload from the file.
TEST_F(KivDbTest, APassBySummaryFindsWhatAPlainPassFinds) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  KivDB db;
  auto path = [](int i) { return "/m/" + std::to_string(i) + ".mp3"; };
  for (int i = 0; i < 50; ++i) {
    DBEntry entry = MakeEntry(path(i), kDbMinFileSize, i);
    if (i % 10 == 1) entry.flags |= DBFLAG_DELETED;
    ASSERT_TRUE(db.AddEntry(&entry));
  }
  const auto marked = [](std::uint32_t flags) { return (flags & DBFLAG_DELETED) != 0; };
  const KivDB::SummaryTest by_summary = [&](const RecordSummary& s) { return marked(s.flags); };
  auto plain_pass = [&](KivDB& handle) {
    std::vector<std::string> found;
    DBEntry got;
    for (std::uint32_t p = handle.GetFirstEntry(&got, FALSE); p;
         p = handle.GetNextEntry(&got, FALSE))
      if (marked(got.flags)) found.push_back(EntryPath(got));
    return found;
  };
  auto summary_pass = [&](KivDB& handle, const std::function<void()>& after_first) {
    std::vector<std::string> found;
    DBEntry got;
    for (std::uint32_t p = handle.GetFirstEntry(&got, by_summary); p;
         p = handle.GetNextEntry(&got, by_summary)) {
      if (!marked(got.flags)) continue;
      found.push_back(EntryPath(got));
      if (found.size() == 1 && after_first) after_first();
    }
    return found;
  };

  // Each kind of write: a change of flags, a whole-record update, a delete
  // and an add into the freed slot.
  ASSERT_TRUE(db.ModifyEntry(path(11), [](DBEntry& e) {
    e.flags &= ~DBFLAG_DELETED;
    return true;
  }));
  ASSERT_TRUE(db.ModifyEntry(path(4), [](DBEntry& e) {
    e.flags |= DBFLAG_DELETED;
    return true;
  }));
  DBEntry whole;
  ASSERT_TRUE(db.GetEntry(path(8), &whole));
  whole.flags |= DBFLAG_DELETED;
  ASSERT_TRUE(db.UpdateEntry(&whole, FALSE));
  ASSERT_TRUE(db.DeleteEntry(path(21)));
  DBEntry reused = MakeEntry("/m/reused.mp3", kDbMinFileSize, 99);
  reused.flags |= DBFLAG_DELETED;
  ASSERT_TRUE(db.AddEntry(&reused));

  // A record marked by another handle while the pass runs is still found.
  KivDB pass;
  KivDB other;
  const std::vector<std::string> found = summary_pass(pass, [&] {
    ASSERT_TRUE(other.ModifyEntry(path(45), [](DBEntry& e) {
      e.flags |= DBFLAG_DELETED;
      return true;
    }));
  });
  EXPECT_EQ(found, plain_pass(db));
  EXPECT_EQ(found, (std::vector<std::string>{path(1), path(4), path(8), "/m/reused.mp3", path(31),
                                             path(41), path(45)}));
  EXPECT_EQ(db.CountWhere(by_summary), found.size());
  EXPECT_EQ(db.CountWhere(by_summary, {db.LookupEntry(path(4)), db.LookupEntry(path(45))}),
            found.size() - 2);

  ASSERT_TRUE(Reinitialise());
  KivDB reloaded;
  EXPECT_EQ(summary_pass(reloaded, nullptr), found);
  EXPECT_EQ(reloaded.CountWhere(by_summary), found.size());
}

TEST_F(KivDbTest, MinimumFileSizeAndDuplicatesAreRefused) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  KivDB db;
  DBEntry small = MakeEntry("/m/small.mp3", kDbMinFileSize - 1);
  EXPECT_FALSE(db.AddEntry(&small));
  DBEntry exact = MakeEntry("/m/exact.mp3", kDbMinFileSize);
  EXPECT_TRUE(db.AddEntry(&exact));
  EXPECT_FALSE(db.AddEntry(&exact));
  // Linux paths are case-sensitive: another case is another file.
  DBEntry upper = MakeEntry("/m/EXACT.mp3");
  EXPECT_TRUE(db.AddEntry(&upper));
  EXPECT_EQ(KivDB::ValidCount(), 2u);

  MakeSizedFile(env_.Path("music/a.mp3"), kDbMinFileSize);
  MakeSizedFile(env_.Path("music/b.mp3"), kDbMinFileSize - 1);
  EXPECT_TRUE(db.AddEntry(env_.Path("music/a.mp3")));
  EXPECT_FALSE(db.AddEntry(env_.Path("music/b.mp3")));
  EXPECT_FALSE(db.AddEntry(env_.Path("music")));
  EXPECT_FALSE(db.AddEntry(env_.Path("music/none.mp3")));
  EXPECT_FALSE(db.AddEntry(std::string("music/a.mp3")));  // relative
  EXPECT_FALSE(db.AddEntry(env_.Path("music/a.mp3")));    // duplicate
  std::string log = LogText();
  EXPECT_NE(log.find("smaller than mimimum file size of 131072, not adding"), std::string::npos);
  EXPECT_NE(log.find("Warning: not adding duplicate entry"), std::string::npos);
  EXPECT_NE(log.find("file size too small: 131071"), std::string::npos);
  EXPECT_NE(log.find("is a directory, a temp file, or invalid"), std::string::npos);
}

TEST_F(KivDbTest, AddByPathFillsFileProperties) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  std::string path = env_.Path("music/Song.Name.FLAC");
  MakeSizedFile(path, 5000000);
  platform::FileInfo info;
  ASSERT_TRUE(platform::StatFile(path, &info));
  KivDB db;
  ASSERT_TRUE(db.AddEntry(path));
  DBEntry entry;
  ASSERT_TRUE(db.GetEntry(path, &entry));
  EXPECT_EQ(EntryPath(entry), path);
  EXPECT_EQ(EntryText(entry.file_type), "flac");
  EXPECT_EQ(entry.file_size, 5000000u);
  EXPECT_EQ(entry.file_modified, info.modified);
  EXPECT_EQ(entry.file_created, info.created);
  EXPECT_EQ(entry.file_accessed, info.accessed);
  std::int64_t now = platform::NowAsStoredTime(clock_.WallTime());
  EXPECT_EQ(entry.created, now);
  EXPECT_EQ(entry.modified, now);
  EXPECT_EQ(KivDB::LastAddTime(), now);
  EXPECT_EQ(entry.flags, DBFLAG_VALID);
}

TEST_F(KivDbTest, PathsTooLongForARecordAreRefused) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  std::string dir = env_.Path(std::string(200, 'd'));
  std::string path = dir + "/" + std::string(260 - dir.size(), 'f');  // 261 characters
  MakeSizedFile(path, kDbMinFileSize);
  KivDB db;
  EXPECT_FALSE(db.AddEntry(path));
  EXPECT_EQ(KivDB::ValidCount(), 0u);
  EXPECT_NE(LogText().find("path is too long for a db record"), std::string::npos);
}

TEST_F(KivDbTest, DeleteShrinksAtTheEndAndReusesFreedSlotsOldestFirst) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  KivDB db;
  for (int i = 0; i < 5; ++i) {
    DBEntry entry = MakeEntry("/m/" + std::to_string(i));
    ASSERT_TRUE(db.AddEntry(&entry));
  }
  EXPECT_TRUE(db.DeleteEntry("/m/nothing"));
  EXPECT_EQ(KivDB::ValidCount(), 5u);

  ASSERT_TRUE(db.DeleteEntry("/m/4"));  // the last record: the file shrinks
  EXPECT_EQ(db.GetLength(), static_cast<std::int64_t>(256 + 4 * kRec));
  EXPECT_EQ(KivDB::EmptyCount(), 0u);
  ASSERT_TRUE(db.DeleteEntry("/m/2"));
  ASSERT_TRUE(db.DeleteEntry("/m/0"));
  EXPECT_EQ(KivDB::EmptyCount(), 2u);
  EXPECT_EQ(KivDB::ValidCount(), 2u);
  EXPECT_EQ(db.GetLength(), static_cast<std::int64_t>(256 + 4 * kRec));
  EXPECT_EQ(db.LookupEntry("/m/2"), 0u);

  // Include-invalid iteration returns the empty slots as fresh records.
  DBEntry got;
  std::set<std::uint32_t> all, valid;
  for (std::uint32_t p = db.GetFirstEntry(&got, TRUE); p; p = db.GetNextEntry(&got, TRUE))
    all.insert(p);
  for (std::uint32_t p = db.GetFirstEntry(&got, FALSE); p; p = db.GetNextEntry(&got, FALSE))
    valid.insert(p);
  EXPECT_EQ(all.size(), 4u);
  EXPECT_EQ(valid, (std::set<std::uint32_t>{256 + kRec, 256 + 3 * kRec}));

  DBEntry a = MakeEntry("/m/new-a");
  DBEntry b = MakeEntry("/m/new-b");
  DBEntry c = MakeEntry("/m/new-c");
  ASSERT_TRUE(db.AddEntry(&a));
  ASSERT_TRUE(db.AddEntry(&b));
  ASSERT_TRUE(db.AddEntry(&c));
  EXPECT_EQ(db.LookupEntry("/m/new-a"), 256 + 2 * kRec);  // freed first
  EXPECT_EQ(db.LookupEntry("/m/new-b"), 256u);
  EXPECT_EQ(db.LookupEntry("/m/new-c"), 256 + 4 * kRec);  // then the end
  EXPECT_EQ(KivDB::EmptyCount(), 0u);
  EXPECT_EQ(KivDB::ValidCount(), 5u);
  ASSERT_TRUE(db.Flush());
  DBHeader header = ReadHeader(DbPath());
  EXPECT_EQ(header.valid_count, 5u);
  EXPECT_EQ(header.empty_count, 0u);
}

TEST_F(KivDbTest, BlocksGiveTheValidRecordsAsIterationDoesAndStopAtADamagedOne) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  KivDB db;
  for (int i = 0; i < 8; ++i) {
    DBEntry entry = MakeEntry("/m/" + std::to_string(i));
    ASSERT_TRUE(db.AddEntry(&entry));
  }
  for (const char* path : {"/m/3", "/m/4", "/m/5"}) ASSERT_TRUE(db.DeleteEntry(path));
  std::vector<std::uint32_t> iterated;
  DBEntry got;
  for (std::uint32_t p = db.GetFirstEntry(&got, FALSE); p; p = db.GetNextEntry(&got, FALSE))
    iterated.push_back(p);
  // Blocks of three: one of them holds only empty slots but more follow.
  KivDB::PositionedEntries found;
  std::vector<std::uint32_t> blocked;
  std::uint32_t from = 0;
  int blocks = 0;
  do {
    found.clear();
    from = db.GetEntryBlock(from, 3, &found);
    ++blocks;
    for (const auto& [pos, entry] : found) {
      blocked.push_back(pos);
      EXPECT_EQ(EntryPath(entry), "/m/" + std::to_string((pos - 256) / kRec));
    }
  } while (from != 0);
  EXPECT_EQ(blocked, iterated);
  EXPECT_EQ(blocks, 3);

  // A damaged record ends the pass there.
  ASSERT_TRUE(db.Flush());
  std::string bytes = ReadBytes(DbPath());
  bytes[256 + 6 * kRec] = 'X';
  db_test::WriteBytes(DbPath(), bytes);
  found.clear();
  EXPECT_EQ(db.GetEntryBlock(0, 100, &found), 0u);
  EXPECT_EQ(found.size(), 3u);
  EXPECT_NE(LogText().find("Invalid record found at offset"), std::string::npos);
}

TEST_F(KivDbTest, CountersFollowAddUpdateAndDelete) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  KivDB db;
  DBEntry a = MakeEntry("/m/a");
  a.flags = DBFLAG_IDENTIFIED;
  a.kiv_id = 77;
  DBEntry b = MakeEntry("/m/b");
  ASSERT_TRUE(db.AddEntry(&a));
  ASSERT_TRUE(db.AddEntry(&b));
  EXPECT_EQ(KivDB::IdentifiedCount(), 1u);
  EXPECT_EQ(KivDB::KivIdCount(), 1u);
  EXPECT_EQ(sink_.counts_changed, 2);

  b.flags |= DBFLAG_IDENTIFIED;
  b.kiv_id = 5;
  ASSERT_TRUE(db.UpdateEntry(&b, FALSE));
  EXPECT_EQ(KivDB::IdentifiedCount(), 2u);
  EXPECT_EQ(KivDB::KivIdCount(), 2u);
  EXPECT_EQ(sink_.counts_changed, 3);
  a.kiv_id = 0;
  ASSERT_TRUE(db.UpdateEntry(&a, FALSE));
  EXPECT_EQ(KivDB::KivIdCount(), 1u);
  a.play_count = 9;  // no counted field changes: nothing posted
  ASSERT_TRUE(db.UpdateEntry(&a, FALSE));
  EXPECT_EQ(sink_.counts_changed, 4);

  // Deleting takes the record out of the counts at once; a start counts
  // the same again from the file.
  ASSERT_TRUE(db.DeleteEntry("/m/b"));
  EXPECT_EQ(KivDB::IdentifiedCount(), 1u);
  EXPECT_EQ(KivDB::KivIdCount(), 0u);
  EXPECT_EQ(KivDB::ValidCount(), 1u);
  EXPECT_EQ(sink_.counts_changed, 5);
  EXPECT_EQ(KivDB::LastDeleteTime(), platform::NowAsStoredTime(clock_.WallTime()));
  ASSERT_TRUE(Reinitialise());
  EXPECT_EQ(KivDB::IdentifiedCount(), 1u);
  EXPECT_EQ(KivDB::KivIdCount(), 0u);
  EXPECT_EQ(KivDB::ValidCount(), 1u);
}

TEST_F(KivDbTest, UpdateTouchesAndRefusesUnknownPaths) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  KivDB db;
  DBEntry a = MakeEntry("/m/a");
  ASSERT_TRUE(db.AddEntry(&a));
  std::int64_t added = platform::NowAsStoredTime(clock_.WallTime());
  clock_.Advance(3600 * 1000);
  a.play_count = 42;
  ASSERT_TRUE(db.UpdateEntry(&a, FALSE));
  DBEntry got;
  ASSERT_TRUE(db.GetEntry("/m/a", &got));
  EXPECT_EQ(got.play_count, 42);
  EXPECT_EQ(got.modified, a.modified);
  ASSERT_TRUE(db.UpdateEntry(&a, TRUE));
  ASSERT_TRUE(db.GetEntry("/m/a", &got));
  EXPECT_EQ(got.modified, added + 3600);

  DBEntry unknown = MakeEntry("/m/unknown");
  EXPECT_FALSE(db.UpdateEntry(&unknown, TRUE));
  unknown.record_size = 12;
  EXPECT_FALSE(db.UpdateEntry(&unknown, TRUE));
  EXPECT_NE(LogText().find("UpdateEntry: file not found in db: /m/unknown"), std::string::npos);
}

TEST_F(KivDbTest, UpdateFromADirectorySearchRefreshesOrDeletes) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  std::string path = env_.Path("music/a.mp3");
  MakeSizedFile(path, 200000);
  KivDB db;
  ASSERT_TRUE(db.AddEntry(path));
  MakeSizedFile(path, 300000);
  platform::FileInfo info;
  ASSERT_TRUE(platform::StatFile(path, &info));
  ASSERT_TRUE(db.UpdateEntry(info));
  DBEntry got;
  ASSERT_TRUE(db.GetEntry(path, &got));
  EXPECT_EQ(got.file_size, 300000u);

  MakeSizedFile(path, 1000);
  ASSERT_TRUE(platform::StatFile(path, &info));
  EXPECT_TRUE(db.UpdateEntry(info));
  EXPECT_EQ(db.LookupEntry(path), 0u);
  EXPECT_NE(LogText().find("does not exceed min file size of: 1000. Deleting."), std::string::npos);
  ASSERT_TRUE(platform::StatFile(env_.Path("music"), &info));
  EXPECT_FALSE(db.UpdateEntry(info));
}

TEST_F(KivDbTest, AFileThatIsNotADatabaseIsRefusedAndLeftUntouched) {
  std::string not_db = "KIVDX" + std::string(251, '\0') + std::string(5000, 'z');
  db_test::WriteBytes(DbPath(), not_db);
  EXPECT_FALSE(KivDB::Initialise(clock_));
  EXPECT_EQ(ReadBytes(DbPath()), not_db);

  DBHeader header = MakeDBHeader();
  header.header_size = 255;
  std::string bad_size(reinterpret_cast<const char*>(&header), sizeof header);
  db_test::WriteBytes(DbPath(), bad_size);
  EXPECT_FALSE(KivDB::Initialise(clock_));
  EXPECT_EQ(ReadBytes(DbPath()), bad_size);
  EXPECT_FALSE(KivDB::IsInitialised());

  std::string log = LogText();
  EXPECT_NE(log.find("DB header magic value invalid. Bad DB!"), std::string::npos);
  EXPECT_NE(log.find("DB header size invalid. Bad DB!"), std::string::npos);
  EXPECT_NE(log.find("Unable to load kiv DB index"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(DbPath() + ".bak"));
}

TEST_F(KivDbTest, DbPathSettingNamesTheFolder) {
  std::string dir = env_.Path("dbdir");
  std::filesystem::create_directories(dir);
  ASSERT_TRUE(AppSettings().WriteString(kSubKeySettings, "DBPath", dir + "/"));
  ASSERT_TRUE(KivDB::Initialise(clock_));
  EXPECT_EQ(KivDB::DatabasePath(), dir + "/kivclient.db");
  ASSERT_TRUE(AppSettings().WriteString(kSubKeySettings, "DBPath", dir));
  ASSERT_TRUE(Reinitialise());
  EXPECT_EQ(KivDB::DatabasePath(), dir + "/kivclient.db");
  ASSERT_TRUE(AppSettings().WriteString(kSubKeySettings, "DBPath", env_.Path("missing")));
  ASSERT_TRUE(Reinitialise());
  EXPECT_EQ(KivDB::DatabasePath(), DbPath());
}

TEST_F(KivDbTest, AnUnopenableFileFailsStartUpWithAMessage) {
  std::filesystem::create_directories(DbPath());  // a folder where the file should be
  EXPECT_FALSE(KivDB::Initialise(clock_));
  EXPECT_NE(messages_.last_message.find("Unable to create or open local db file: " + DbPath()),
            std::string::npos);
}

}  // namespace
