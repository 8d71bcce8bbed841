#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "db/kiv_db.h"
#include "tests/db/db_test_util.h"
#include "tools/test_media.h"

namespace {

class KivDbTagsTest : public db_test::DbTestBase {
 protected:
  void SetUp() override {
    DbTestBase::SetUp();
    if (!test_media::FfmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
    ASSERT_TRUE(KivDB::Initialise(clock_));
  }

  std::string MakeMp3(const test_media::MediaTags& tags) {
    std::filesystem::create_directories(env_.Path("music"));
    std::string path = env_.Path("music/song.mp3");
    test_media::MediaPlan plan;
    plan.format = "mp3";
    plan.seconds = 0.5;
    plan.tags = tags;
    std::string error = test_media::MakeTestMedia(path, plan);
    EXPECT_EQ(error, "");
    return path;
  }
};

TEST_F(KivDbTagsTest, FillsEmptyFieldsAndOverwritesOnlyWhenAsked) {
  test_media::MediaTags tags;
  tags.title = "Über Song";
  tags.artist = "The Artist";
  tags.album = "An Album";
  tags.genre = "Jazz";
  tags.date = "1999";
  tags.track = "3/12";
  std::string path = MakeMp3(tags);
  KivDB db;
  DBEntry entry = db_test::MakeEntry(path);
  SetEntryText(entry.title, "");
  SetEntryText(entry.artist, "Kept Artist");
  entry.track_number = 0;
  ASSERT_EQ(db.GetTagEntry(&entry, FALSE), S_OK);
  EXPECT_EQ(EntryText(entry.title), "Über Song");
  EXPECT_EQ(EntryText(entry.artist), "Kept Artist");
  EXPECT_EQ(EntryText(entry.album), "An Album");
  EXPECT_EQ(EntryText(entry.genre), "Jazz");
  EXPECT_EQ(EntryText(entry.year), "1999");
  EXPECT_EQ(entry.track_number, 3);

  entry.track_number = 7;
  ASSERT_EQ(db.GetTagEntry(&entry, FALSE), S_OK);
  EXPECT_EQ(entry.track_number, 7);
  ASSERT_EQ(db.GetTagEntry(&entry, TRUE), S_OK);
  EXPECT_EQ(EntryText(entry.artist), "The Artist");
  EXPECT_EQ(entry.track_number, 3);
  EXPECT_NE(LogText().find("GetTagEntry: " + path), std::string::npos);
}

TEST_F(KivDbTagsTest, LongTagsAreCutToTheFieldAtACharacterBoundary) {
  test_media::MediaTags tags;
  tags.title = std::string(127, 'a') + "é and more";
  tags.genre = std::string(40, 'g');
  std::string path = MakeMp3(tags);
  KivDB db;
  DBEntry entry = db_test::MakeEntry(path);
  SetEntryText(entry.title, "");
  ASSERT_EQ(db.GetTagEntry(&entry, FALSE), S_OK);
  EXPECT_EQ(EntryText(entry.title), std::string(127, 'a'));
  EXPECT_EQ(EntryText(entry.genre), std::string(32, 'g'));
}

TEST_F(KivDbTagsTest, AFileWithoutTagsFailsAndChangesNothing) {
  std::string path = env_.Path("music/not-audio.mp3");
  db_test::WriteBytes(path, std::string(4096, 'x'));
  KivDB db;
  DBEntry entry = db_test::MakeEntry(path, kDbMinFileSize, 4);
  DBEntry before = entry;
  EXPECT_EQ(db.GetTagEntry(&entry, TRUE), E_FAIL);
  EXPECT_EQ(EntryText(entry.title), EntryText(before.title));
  EXPECT_EQ(entry.track_number, before.track_number);
  EXPECT_EQ(db.GetTagEntry(nullptr, TRUE), E_FAIL);
}

}  // namespace
