// The iTunes import on a generated library of a few hundred tracks whose
// files exist, after the indexer has filled the database from the same
// folder (and found the library file there).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "scan/agent_indexer.h"
#include "scan/agent_itunes.h"
#include "tests/scan/itunes_fixture.h"

namespace {

constexpr int kTracks = 300;
constexpr int kTracksPerArtist = 50;  // 10 tracks per album, 5 albums per artist
constexpr int kDisabledArtist = 2;

class ItunesCollectionTest : public media_cache::ItunesFixture {
 protected:
  void SetUp() override {
    ItunesFixture::SetUp();
    setenv("TZ", "UTC0", 1);
    tzset();
    // Two real media files in the temporary folder, hard-linked for every
    // track.
    std::vector<std::string> media = {PutMedia(env_.Path("seed/one.wav"))};
    test_media::MediaPlan mp3;
    mp3.format = "mp3";
    mp3.seconds = test_media::SecondsForSize(mp3, 150000);
    const std::string cached = media_cache::CachedMedia(mp3);
    ASSERT_FALSE(cached.empty());
    std::filesystem::copy_file(cached, env_.Path("seed/two.mp3"));
    media.push_back(env_.Path("seed/two.mp3"));

    test_media::ItunesCollectionPlan plan;
    plan.root = music_;
    plan.media = media;
    plan.tracks = kTracks;
    library_ = music_ + "/iTunes/iTunes Music Library.xml";
    std::filesystem::create_directories(music_ + "/iTunes");
    ASSERT_EQ(test_media::MakeItunesCollection(plan, library_, &paths_), "");
    ASSERT_EQ(paths_.size(), static_cast<std::size_t>(kTracks));

    // The whole folder is chosen, one artist's folder is excluded.
    const std::string excluded = std::filesystem::path(paths_[kDisabledArtist * kTracksPerArtist])
                                     .parent_path()
                                     .parent_path()
                                     .string();
    Choose({{SearchPathKey(music_), 1}, {SearchPathKey(excluded), 0}});
  }

  static bool Excluded(int i) { return i / kTracksPerArtist == kDisabledArtist; }
  static std::string Title(int i) { return "S\xC3\xB3ng #" + std::to_string(i); }

  std::string library_;
  std::vector<std::string> paths_;
};

TEST_F(ItunesCollectionTest, ImportsTheLibraryIntoTheIndexedDatabase) {
  AgentIndexer indexer(Context(AGENT_INDEXER));
  indexer.Run();
  const DWORD indexed = KivDB::ValidCount();
  ASSERT_EQ(indexed, static_cast<DWORD>(kTracks - kTracksPerArtist));
  std::string found;
  AppSettings().ReadString(kSubKeySettings, "ITunesHistoryFile", found);
  ASSERT_EQ(found, library_);
  // One file the indexer knew has lost its record since: the import adds
  // it back.
  {
    KivDB db;
    ASSERT_TRUE(db.DeleteEntry(paths_[7]));
  }
  Posted();

  EXPECT_EQ(RunAgent(), 1);
  EXPECT_EQ(KivDB::ValidCount(), indexed);
  KivDB db;  // one connection for all checks (each closes with a flush)
  for (int i = 0; i < kTracks; ++i) {
    SCOPED_TRACE(paths_[i]);
    DBEntry entry{};
    if (Excluded(i)) {
      EXPECT_FALSE(db.GetEntry(paths_[i], &entry));
      continue;
    }
    ASSERT_TRUE(db.GetEntry(paths_[i], &entry));
    EXPECT_TRUE(entry.flags & DBFLAG_ITUNESDATA);
    EXPECT_EQ(EntryText(entry.title), Title(i));
    EXPECT_EQ(entry.track_number, i % 10 + 1);
    const bool played = i % 3 == 0;
    EXPECT_EQ(static_cast<bool>(entry.flags & DBFLAG_HISTORY), played);
    EXPECT_EQ(entry.play_count_itunes, played ? 1 + i % 9 : 0);
    EXPECT_EQ(entry.play_count, played ? 1 + i % 9 : 0);
  }
  const std::vector<Message> posted = Posted();
  EXPECT_EQ(Texts(posted, WM_STATUS_EVENT),
            std::vector<std::string>{"Added from iTunes: " +
                                     std::filesystem::path(paths_[7]).filename().string()});
  const std::vector<std::string> progress = Texts(posted, WM_STATUS_PROGRESS_TEXT);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::to_string(kTracks));

  // Nothing changed since: a second run skips the file.
  AppSettings().WriteDword(kSubKeySettings, "iTunesComplete", 0);
  EXPECT_EQ(RunAgent(), 1);
  EXPECT_EQ(CountLines("AgentItunes: ITunes history file not updated since last read. Skipping."),
            1);
  EXPECT_TRUE(Posted().empty());

  // Parsed again (the process restarted), the same library adds no plays.
  AgentITunes::ResetProcessState();
  EXPECT_EQ(RunAgent(), 1);
  EXPECT_EQ(Record(paths_[3]).play_count, 1 + 3 % 9);
  EXPECT_EQ(Record(paths_[3]).flags & DBFLAG_HISTORY, DBFLAG_HISTORY);
}

}  // namespace
