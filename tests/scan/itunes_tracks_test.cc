#include "scan/itunes_tracks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "media/tag_reader.h"

namespace {

constexpr std::int64_t kHour = 3600;

class ItunesTracksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC0", 1);
    tzset();
    record_ = MakeFreshEntry(1000);
  }

  TrackProperty Apply(const std::string& key, const std::string& value) {
    return ApplyTrackProperty(key, value, &record_, &path_);
  }

  CTagReaderRef tag_reader_;  // fills the extension list used for file types
  DBEntry record_;
  std::string path_;  // the path a usable Location set
};

TEST_F(ItunesTracksTest, PropertyTableFillsTheRecordIgnoringKeyCase) {
  EXPECT_EQ(Apply("Name", "Song"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("ARTIST", "Band"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("album", "Record"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("Genre", "Jazz"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("Year", "1999"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("Size", "4294967297"), TrackProperty::kApplied);  // low 32 bits
  EXPECT_EQ(Apply("Total Time", "215000"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("track number", "3"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("Track Count", "12"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("Bit Rate", "320"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("Sample Rate", "44100"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("Play Count", "7"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("Play Date UTC", "2009-03-04T05:06:07Z"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("Date Added", "2008-01-01T00:00:00Z"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("Date Modified", "2008-01-02T00:00:00Z"), TrackProperty::kApplied);
  EXPECT_EQ(Apply("Location", "file://localhost/music/A%20b/Song.MP3"), TrackProperty::kApplied);

  EXPECT_EQ(EntryText(record_.title), "Song");
  EXPECT_EQ(EntryText(record_.artist), "Band");
  EXPECT_EQ(EntryText(record_.album), "Record");
  EXPECT_EQ(EntryText(record_.genre), "Jazz");
  EXPECT_EQ(EntryText(record_.year), "1999");
  EXPECT_EQ(record_.file_size, 1u);
  EXPECT_EQ(record_.duration, 215000);
  EXPECT_EQ(record_.track_number, 3);
  EXPECT_EQ(record_.track_count, 12);
  EXPECT_EQ(record_.bit_rate, 320);
  EXPECT_EQ(record_.sample_rate, 44100);
  EXPECT_EQ(record_.play_count_itunes, 7);
  EXPECT_EQ(record_.play_count, 0);
  EXPECT_EQ(record_.played_itunes, 1236143167);
  EXPECT_EQ(record_.played, 0);
  EXPECT_EQ(record_.date_added, 1199145600);
  EXPECT_EQ(record_.file_modified, 1199232000);
  EXPECT_EQ(EntryPath(record_), "/music/A b/Song.MP3");
  EXPECT_EQ(path_, "/music/A b/Song.MP3");
  EXPECT_EQ(EntryText(record_.file_type), "mp3");
  EXPECT_EQ(record_.flags, 0u);
}

TEST_F(ItunesTracksTest, IgnoredKeysEmptyValuesAndBadValuesLeaveTheRecordAlone) {
  const DBEntry before = record_;
  EXPECT_EQ(Apply("Kind", "MPEG audio file"), TrackProperty::kIgnored);
  EXPECT_EQ(Apply("Play Date", "3318064789"), TrackProperty::kIgnored);
  EXPECT_EQ(Apply("Persistent ID", "ABC"), TrackProperty::kIgnored);
  EXPECT_EQ(Apply("Composer", "Someone"), TrackProperty::kIgnored);
  EXPECT_EQ(Apply("Name", ""), TrackProperty::kIgnored);
  EXPECT_EQ(Apply("", "value"), TrackProperty::kIgnored);
  EXPECT_EQ(Apply("Play Date UTC", "yesterday"), TrackProperty::kBadValue);
  EXPECT_EQ(Apply("Location", "http://radio.example/stream"), TrackProperty::kBadValue);
  EXPECT_EQ(Apply("Location", "file:///" + std::string(300, 'a') + ".mp3"),
            TrackProperty::kBadValue);  // does not fit the record's path
  EXPECT_EQ(Apply("Location", "file:///music/%FF%FE.mp3"), TrackProperty::kBadValue);
  EXPECT_EQ(std::memcmp(&before, &record_, sizeof record_), 0);
  EXPECT_EQ(path_, "");
  // A number that is no number reads as 0, as the C runtime would.
  EXPECT_EQ(Apply("Play Count", "many"), TrackProperty::kApplied);
  EXPECT_EQ(record_.play_count_itunes, 0);
}

TEST_F(ItunesTracksTest, TextIsCutAtCharacterBoundaries) {
  // 126 ASCII bytes and a 2-byte character: 128 bytes do not fit in 127.
  const std::string title = std::string(126, 'a') + "\xC3\xA9";
  Apply("Name", title);
  EXPECT_EQ(EntryText(record_.title), std::string(126, 'a'));
  EXPECT_EQ(record_.title[126], '\0');
  EXPECT_EQ(record_.title[127], '\0');
  // Genre: 31 bytes; "€" is 3 bytes, so ten of them (30 bytes) fit and the
  // eleventh does not.
  std::string genre;
  for (int i = 0; i < 11; ++i) genre += "\xE2\x82\xAC";
  Apply("Genre", genre);
  EXPECT_EQ(EntryText(record_.genre).size(), 30u);
  // Year: 5 bytes of at most 6.
  Apply("Year", "2004-05-01");
  EXPECT_EQ(EntryText(record_.year), "2004-");
  Apply("Year", "199\xC3\xA9");
  EXPECT_EQ(EntryText(record_.year), "199\xC3\xA9");
  Apply("Year", "1999\xC3\xA9");
  EXPECT_EQ(EntryText(record_.year), "1999");
}

TEST_F(ItunesTracksTest, NewRecordsTurnItunesPlaysIntoHistory) {
  record_.play_count_itunes = 4;
  record_.played_itunes = 5000;
  record_.date_added = 100;
  PrepareNewItunesRecord(&record_);
  EXPECT_EQ(record_.flags, DBFLAG_ITUNESDATA | DBFLAG_HISTORY);
  EXPECT_EQ(record_.play_count, 4);
  EXPECT_EQ(record_.played, 5000);
  EXPECT_EQ(record_.date_added, 5000);

  DBEntry unplayed = MakeFreshEntry(1);
  unplayed.date_added = 100;
  PrepareNewItunesRecord(&unplayed);
  EXPECT_EQ(unplayed.flags, DBFLAG_ITUNESDATA);
  EXPECT_EQ(unplayed.play_count, 0);
  EXPECT_EQ(unplayed.date_added, 100);
}

class ItunesMergeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = MakeFreshEntry(1);
    record_.flags = DBFLAG_VALID | DBFLAG_IDENTIFIED;
    record_.play_count = 10;
    record_.play_count_itunes = 5;
    record_.played = 1000000;
    record_.played_itunes = 900000;
    library_ = MakeFreshEntry(2);
    library_.play_count_itunes = 7;
  }
  DBEntry record_;
  DBEntry library_;
};

TEST_F(ItunesMergeTest, LibraryPlayTwoHoursAfterTheLastLocalPlayBecomesHistory) {
  library_.played_itunes = record_.played + 2 * kHour;
  const ItunesMerge merge = MergeItunesRecord(library_, &record_);
  EXPECT_TRUE(merge.write);
  EXPECT_FALSE(merge.touch);
  EXPECT_TRUE(merge.history);
  EXPECT_EQ(record_.play_count, 12);
  EXPECT_EQ(record_.played, 1000000 + 2 * kHour);
  EXPECT_EQ(record_.date_added, 1000000 + 2 * kHour);
  EXPECT_EQ(record_.play_count_itunes, 7);
  EXPECT_EQ(record_.played_itunes, 1000000 + 2 * kHour);
  EXPECT_TRUE(record_.flags & DBFLAG_HISTORY);
}

TEST_F(ItunesMergeTest, LibraryPlayTenMinutesAfterOnlyUpdatesTheItunesFields) {
  library_.played_itunes = record_.played + 600;
  record_.date_added = 42;
  const ItunesMerge merge = MergeItunesRecord(library_, &record_);
  EXPECT_TRUE(merge.write);
  EXPECT_FALSE(merge.history);
  EXPECT_EQ(record_.play_count, 10);
  EXPECT_EQ(record_.played, 1000000);
  EXPECT_EQ(record_.date_added, 42);
  EXPECT_EQ(record_.play_count_itunes, 7);
  EXPECT_EQ(record_.played_itunes, 1000600);
  EXPECT_FALSE(record_.flags & DBFLAG_HISTORY);
}

TEST_F(ItunesMergeTest, BoundariesOfTheHistoryRule) {
  DBEntry at_gap = record_;
  library_.played_itunes = record_.played + kItunesPlayGapSeconds;  // not strictly after
  EXPECT_FALSE(MergeItunesRecord(library_, &at_gap).history);
  DBEntry past_gap = record_;
  library_.played_itunes = record_.played + kItunesPlayGapSeconds + 1;
  EXPECT_TRUE(MergeItunesRecord(library_, &past_gap).history);
  // A later date with a count that did not grow is no new play.
  DBEntry same_count = record_;
  library_.play_count_itunes = 5;
  const ItunesMerge merge = MergeItunesRecord(library_, &same_count);
  EXPECT_FALSE(merge.history);
  EXPECT_TRUE(merge.write);
  // Nothing differs: nothing to write for an identified record.
  DBEntry unchanged = record_;
  library_.play_count_itunes = record_.play_count_itunes;
  library_.played_itunes = record_.played_itunes;
  EXPECT_FALSE(MergeItunesRecord(library_, &unchanged).write);
  // Extreme times do not wrap round into a "later" play.
  DBEntry extreme = record_;
  extreme.played = std::numeric_limits<std::int64_t>::min();
  library_.played_itunes = std::numeric_limits<std::int64_t>::max();
  library_.play_count_itunes = std::numeric_limits<std::int32_t>::max();
  extreme.play_count = std::numeric_limits<std::int32_t>::max() - 1;
  EXPECT_TRUE(MergeItunesRecord(library_, &extreme).history);
  EXPECT_EQ(extreme.play_count, std::numeric_limits<std::int32_t>::max());
}

TEST_F(ItunesMergeTest, IdentifiedRecordsKeepTheirTagsOthersTakeTheLibrarys) {
  SetEntryText(record_.title, "Identified title");
  SetEntryText(library_.title, "Library title");
  SetEntryText(library_.artist, "Library artist");
  library_.track_number = 4;
  library_.play_count_itunes = record_.play_count_itunes;
  library_.played_itunes = record_.played_itunes;
  DBEntry identified = record_;
  EXPECT_FALSE(MergeItunesRecord(library_, &identified).write);
  EXPECT_EQ(EntryText(identified.title), "Identified title");

  DBEntry plain = record_;
  plain.flags = DBFLAG_VALID;
  SetEntryText(plain.album, "Kept album");
  plain.track_number = 9;
  const ItunesMerge merge = MergeItunesRecord(library_, &plain);
  EXPECT_TRUE(merge.write);
  EXPECT_TRUE(merge.touch);
  EXPECT_EQ(EntryText(plain.title), "Library title");
  EXPECT_EQ(EntryText(plain.artist), "Library artist");
  EXPECT_EQ(EntryText(plain.album), "Kept album");  // the library has none
  EXPECT_EQ(plain.track_number, 4);
  EXPECT_EQ(plain.flags, DBFLAG_VALID | DBFLAG_ITUNESDATA);
  // Once filled from the library, the tags are not taken again.
  SetEntryText(library_.title, "Renamed in iTunes");
  EXPECT_FALSE(MergeItunesRecord(library_, &plain).write);
  EXPECT_EQ(EntryText(plain.title), "Library title");
}

}  // namespace
