// The index keeps hashes of paths and the folders of the records, not the
// paths: the records of chosen folders, and a file holding one path twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "db/kiv_db.h"
#include "tests/db/db_test_util.h"

namespace {

using db_test::MakeEntry;
using db_test::ReadBytes;
using db_test::ReadHeader;
using db_test::WriteBytes;

class KivDbIndexTest : public db_test::DbTestBase {
 protected:
  std::vector<std::string> PathsIn(KivDB& db, const std::vector<std::string>& chosen,
                                   std::vector<std::string>* asked = nullptr) {
    KivDB::PositionedEntries found;
    EXPECT_TRUE(db.GetEntriesIn(
        [&](std::string_view folder) {
          if (asked) asked->emplace_back(folder);
          for (const std::string& c : chosen)
            if (folder == c) return true;
          return false;
        },
        &found));
    std::vector<std::string> paths;
    for (const auto& [pos, entry] : found) {
      EXPECT_EQ(db.LookupEntry(EntryPath(entry)), pos);
      paths.push_back(EntryPath(entry));
    }
    return paths;
  }
};

TEST_F(KivDbIndexTest, TheRecordsOfChosenFoldersFollowAddsDeletesAndARestart) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  {
    KivDB db;
    for (const char* path : {"/m/a/1.mp3", "/m/a/b/2.mp3", "/m/c/3.mp3", "/m/a/4.mp3", "/5.mp3"}) {
      DBEntry entry = MakeEntry(path);
      ASSERT_TRUE(db.AddEntry(&entry));
    }
    std::vector<std::string> asked;
    EXPECT_EQ(PathsIn(db, {"/m/a", "/"}, &asked),
              (std::vector<std::string>{"/m/a/1.mp3", "/m/a/4.mp3", "/5.mp3"}));
    EXPECT_EQ(asked.size(), 4u);  // each folder once
    ASSERT_TRUE(db.DeleteEntry("/m/a/1.mp3"));
    ASSERT_TRUE(db.DeleteEntry("/m/c/3.mp3"));
    asked.clear();
    EXPECT_EQ(PathsIn(db, {"/m/a", "/m/c"}, &asked), std::vector<std::string>{"/m/a/4.mp3"});
    EXPECT_EQ(asked.size(), 3u);  // /m/c went with its record
    // A new record takes the freed slot and joins its folder.
    DBEntry entry = MakeEntry("/m/c/6.mp3");
    ASSERT_TRUE(db.AddEntry(&entry));
    EXPECT_EQ(PathsIn(db, {"/m/c"}), std::vector<std::string>{"/m/c/6.mp3"});
  }
  ASSERT_TRUE(Reinitialise());
  KivDB db;
  EXPECT_EQ(PathsIn(db, {"/m/a", "/m/a/b", "/m/c"}),
            (std::vector<std::string>{"/m/c/6.mp3", "/m/a/b/2.mp3", "/m/a/4.mp3"}));
  EXPECT_EQ(db.LookupEntry("/m/a/1.mp3"), 0u);
  EXPECT_EQ(db.LookupEntry("/m/a/4"), 0u);
}

// Among many folders the records of a few come in file order; deletes,
// reused slots, a folder that went and came back under its old name, and a
// restart leave no record out or in twice.
TEST_F(KivDbIndexTest, TheRecordsOfAFewFoldersAmongManyComeInFileOrder) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  const auto path_of = [](int folder, int track) {
    return "/m/f" + std::to_string(folder) + "/" + std::to_string(track) + ".mp3";
  };
  const auto expect_in_file_order = [&](KivDB& db, const std::vector<std::string>& expected) {
    std::vector<std::string> found = PathsIn(db, {"/m/f3", "/m/f5"});
    std::vector<std::uint32_t> positions;
    for (const std::string& path : found) positions.push_back(db.LookupEntry(path));
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
  };
  {
    KivDB db;
    // Ten folders, their records interleaved through the file.
    for (int track = 0; track < 8; ++track)
      for (int folder = 0; folder < 10; ++folder) {
        DBEntry entry = MakeEntry(path_of(folder, track));
        ASSERT_TRUE(db.AddEntry(&entry));
      }
    ASSERT_TRUE(db.DeleteEntry(path_of(3, 0)));
    ASSERT_TRUE(db.DeleteEntry(path_of(3, 4)));
    ASSERT_TRUE(db.DeleteEntry(path_of(3, 7)));
    for (int track = 0; track < 8; ++track) ASSERT_TRUE(db.DeleteEntry(path_of(5, track)));
    // Into freed slots: the folder that went comes back under its old name.
    for (const std::string& path : {path_of(5, 9), path_of(3, 9), path_of(4, 9)}) {
      DBEntry entry = MakeEntry(path);
      ASSERT_TRUE(db.AddEntry(&entry));
    }
    const std::vector<std::string> expected = {"/m/f3/1.mp3", "/m/f3/2.mp3", "/m/f3/3.mp3",
                                               "/m/f3/5.mp3", "/m/f3/6.mp3", "/m/f3/9.mp3",
                                               "/m/f5/9.mp3"};
    expect_in_file_order(db, expected);
    // Every folder chosen: the same records of those two among the rest.
    EXPECT_EQ(PathsIn(db, {"/m/f0", "/m/f1", "/m/f2", "/m/f3", "/m/f4", "/m/f5", "/m/f6", "/m/f7",
                           "/m/f8", "/m/f9"})
                  .size(),
              10u * 8 - 11 + 3);
  }
  ASSERT_TRUE(Reinitialise());
  KivDB db;
  expect_in_file_order(db, {"/m/f3/1.mp3", "/m/f3/2.mp3", "/m/f3/3.mp3", "/m/f3/5.mp3",
                            "/m/f3/6.mp3", "/m/f3/9.mp3", "/m/f5/9.mp3"});
}

// Written by something else: two valid records of one path. The later one
// is the path's record, and deleting it leaves the earlier one unindexed,
// as the file's own order decides.
TEST_F(KivDbIndexTest, OfTwoRecordsOfOnePathTheLaterOneIsTheRecord) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  {
    KivDB db;
    for (const char* path : {"/m/x.mp3", "/m/y.mp3", "/m/z.mp3"}) {
      DBEntry entry = MakeEntry(path, kDbMinFileSize, path[3]);
      ASSERT_TRUE(db.AddEntry(&entry));
    }
  }
  KivDB::Shutdown();
  // Record 2 (/m/z.mp3) becomes a second /m/x.mp3 with a title of its own.
  std::string bytes = ReadBytes(DbPath());
  DBEntry second = MakeEntry("/m/x.mp3", kDbMinFileSize, 99);
  second.flags = DBFLAG_VALID;
  const std::size_t at = kDbHeaderSize + 2 * kDbRecordSize;
  std::memcpy(bytes.data() + at, &second, sizeof second);
  WriteBytes(DbPath(), bytes);

  ASSERT_TRUE(KivDB::Initialise(clock_));
  KivDB db;
  EXPECT_EQ(KivDB::ValidCount(), 3u);
  EXPECT_EQ(db.LookupEntry("/m/x.mp3"), at);
  DBEntry entry;
  ASSERT_TRUE(db.GetEntry("/m/x.mp3", &entry));
  EXPECT_EQ(EntryText(entry.title), "Title 99");
  EXPECT_EQ(db.LookupEntry("/m/z.mp3"), 0u);
  ASSERT_TRUE(db.DeleteEntry("/m/x.mp3"));
  EXPECT_EQ(db.LookupEntry("/m/x.mp3"), 0u);
  EXPECT_EQ(PathsIn(db, {"/m"}), std::vector<std::string>{"/m/y.mp3"});
  EXPECT_EQ(ReadHeader(DbPath()).valid_count, 2u);
}

// Files added together: a free slot is filled first, the rest go to the
// end in one write; a path known or given twice is refused; the records
// are whole and indexed after a restart.
TEST_F(KivDbIndexTest, FilesAddedTogetherFillFreeSlotsThenTheEnd) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  std::uint32_t freed = 0;
  {
    KivDB db;
    for (const char* path : {"/m/a.mp3", "/m/b.mp3"}) {
      DBEntry entry = MakeEntry(path);
      ASSERT_TRUE(db.AddEntry(&entry));
    }
    freed = db.LookupEntry("/m/a.mp3");
    ASSERT_TRUE(db.DeleteEntry("/m/a.mp3"));
    std::vector<platform::FileInfo> files;
    for (const char* path :
         {"/n/1.mp3", "/m/b.mp3", "/n/2.mp3", "/n/2.mp3", "/n/3.mp3", "n/4.mp3"}) {
      platform::FileInfo info;
      info.path = path;
      info.is_regular = true;
      info.size = kDbMinFileSize;
      info.modified = 1234;
      files.push_back(info);
    }
    files[4].size = kDbMinFileSize - 1;
    std::vector<bool> added;
    db.AddEntries(files, &added);
    EXPECT_EQ(added, (std::vector<bool>{true, false, true, false, false, false}));
    EXPECT_EQ(db.LookupEntry("/n/1.mp3"), freed);
  }
  ASSERT_TRUE(Reinitialise());
  KivDB db;
  EXPECT_EQ(KivDB::ValidCount(), 3u);
  EXPECT_EQ(PathsIn(db, {"/n"}), (std::vector<std::string>{"/n/1.mp3", "/n/2.mp3"}));
  DBEntry entry;
  ASSERT_TRUE(db.GetEntry("/n/2.mp3", &entry));
  EXPECT_EQ(entry.file_modified, 1234);
  EXPECT_EQ(ReadHeader(DbPath()).valid_count, 3u);
}

TEST_F(KivDbIndexTest, LookupsTogetherAnswerAsOneByOne) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  KivDB db;
  for (const char* path : {"/m/a.mp3", "/m/b.mp3"}) {
    DBEntry entry = MakeEntry(path);
    ASSERT_TRUE(db.AddEntry(&entry));
  }
  const std::vector<std::string> paths = {"/m/b.mp3", "/m/c.mp3", "", "/m/a.mp3", "/m/b.mp3"};
  const std::vector<std::string_view> asked(paths.begin(), paths.end());
  std::vector<std::uint32_t> positions;
  db.LookupEntries(asked, &positions);
  ASSERT_EQ(positions.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i)
    EXPECT_EQ(positions[i], db.LookupEntry(paths[i])) << paths[i];
  EXPECT_NE(positions[0], 0u);
  EXPECT_EQ(positions[1], 0u);
}

TEST_F(KivDbIndexTest, ABatchSparesTheIndexLookOnlyWhileNothingWasAddedSince) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  const auto files_at = [](std::initializer_list<const char*> paths) {
    std::vector<platform::FileInfo> files;
    for (const char* path : paths) {
      platform::FileInfo info;
      info.path = path;
      info.is_regular = true;
      info.size = kDbMinFileSize;
      files.push_back(info);
    }
    return files;
  };
  std::vector<bool> added;
  {
    KivDB db;
    const std::uint64_t before = KivDB::AddCount();
    db.AddEntries(files_at({"/n/1.mp3", "/n/2.mp3", "/n/2.mp3"}), &added, before);
    EXPECT_EQ(added, (std::vector<bool>{true, true, false}));
    // Another add since the caller looked: its file is refused all the same.
    DBEntry entry = MakeEntry("/n/3.mp3");
    ASSERT_TRUE(db.AddEntry(&entry));
    db.AddEntries(files_at({"/n/3.mp3", "/n/4.mp3"}), &added, before + 2);
    EXPECT_EQ(added, (std::vector<bool>{false, true}));
  }
  // A load of the index counts as a change too.
  const std::uint64_t loaded = KivDB::AddCount();
  ASSERT_TRUE(Reinitialise());
  EXPECT_NE(KivDB::AddCount(), loaded);
  KivDB db;
  db.AddEntries(files_at({"/n/4.mp3"}), &added, loaded);
  EXPECT_EQ(added, (std::vector<bool>{false}));
  EXPECT_EQ(KivDB::ValidCount(), 4u);
}

TEST_F(KivDbIndexTest, RecordsAddedTogetherAreRefusedAsLoneAddsRefuseThem) {
  ASSERT_TRUE(KivDB::Initialise(clock_));
  {
    KivDB db;
    DBEntry known = MakeEntry("/m/b.mp3");
    ASSERT_TRUE(db.AddEntry(&known));
    std::vector<DBEntry> entries;
    for (const char* path : {"/n/1.mp3", "/m/b.mp3", "/n/2.mp3", "/n/2.mp3", "/n/3.mp3", ""})
      entries.push_back(MakeEntry(path));
    entries[0].play_count = 7;
    entries[4].file_size = kDbMinFileSize - 1;
    std::vector<bool> added;
    db.AddEntries(&entries, &added);
    EXPECT_EQ(added, (std::vector<bool>{true, false, true, false, false, false}));
  }
  ASSERT_TRUE(Reinitialise());
  KivDB db;
  EXPECT_EQ(KivDB::ValidCount(), 3u);
  DBEntry entry;
  ASSERT_TRUE(db.GetEntry("/n/1.mp3", &entry));
  EXPECT_EQ(entry.play_count, 7);
  EXPECT_EQ(ReadHeader(DbPath()).valid_count, 3u);
}

}  // namespace
