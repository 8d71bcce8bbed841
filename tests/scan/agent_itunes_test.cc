#include "scan/agent_itunes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "app/controller_state.h"
#include "tests/scan/itunes_fixture.h"

namespace {

using media_cache::ItunesFixture;

class AgentITunesTest : public ItunesFixture {
 protected:
  void SetUp() override {
    ItunesFixture::SetUp();
    // Times in the library are taken as local calendar times.
    setenv("TZ", "UTC0", 1);
    tzset();
    new_song_ = PutMedia(music_ + "/new/A Song.wav");
    three_slashes_ = PutMedia(music_ + "/new/e.wav");
    disabled_ = PutMedia(music_ + "/old/b.wav");
    known_ = PutMedia(music_ + "/known/k.wav");
    PutMedia(outside_ + "/d.wav");
    std::filesystem::create_directories(music_ + "/folder.wav");
    ChooseMusic();
  }

  std::string new_song_, three_slashes_, disabled_, known_;
};

TEST_F(AgentITunesTest, ImportsTheTracksWhoseFilesLieInEnabledFolders) {
  Index(known_);
  UseLibrary(WriteLibrary("library.xml"));
  EXPECT_EQ(RunAgent(), 1);

  // Added: both location forms of files in the enabled folder.
  const DBEntry added = Record(new_song_);
  EXPECT_EQ(added.flags, DBFLAG_VALID | DBFLAG_ITUNESDATA | DBFLAG_HISTORY);
  EXPECT_EQ(EntryText(added.title), "New & Played");
  EXPECT_EQ(EntryText(added.artist), "The Ärtist");
  EXPECT_EQ(EntryText(added.genre), "Jazz");
  EXPECT_EQ(EntryText(added.year), "2004");
  EXPECT_EQ(EntryText(added.file_type), "wav");
  EXPECT_EQ(added.file_size, 176444u);
  EXPECT_EQ(added.track_number, 1);
  EXPECT_EQ(added.track_count, 9);
  EXPECT_EQ(added.play_count_itunes, 3);
  EXPECT_EQ(added.play_count, 3);
  EXPECT_EQ(added.played_itunes, 1232217600);  // 2009-01-17T18:40:00Z
  EXPECT_EQ(added.played, 1232217600);
  EXPECT_EQ(added.date_added, 1232217600);
  EXPECT_EQ(added.file_modified, 1199243045);
  EXPECT_EQ(Record(three_slashes_).flags, DBFLAG_VALID | DBFLAG_ITUNESDATA);
  EXPECT_EQ(EntryText(Record(three_slashes_).title), "Three slashes");

  // Not added: a disabled folder, outside the chosen folders, a folder, a
  // path of another system.
  EXPECT_FALSE(Has(disabled_));
  EXPECT_FALSE(Has(outside_ + "/d.wav"));
  EXPECT_FALSE(Has(music_ + "/folder.wav/"));
  EXPECT_FALSE(Has(music_ + "/folder.wav"));
  EXPECT_EQ(KivDB::ValidCount(), 3u);

  // The known record took the library's plays and tags.
  const DBEntry known = Record(known_);
  EXPECT_EQ(known.flags, DBFLAG_VALID | DBFLAG_ITUNESDATA | DBFLAG_HISTORY);
  EXPECT_EQ(known.play_count, 2);
  EXPECT_EQ(EntryText(known.artist), "Library Artist");

  const std::vector<Message> posted = Posted();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.front().id, WM_STATUS_PROGRESS_TEXT);
  EXPECT_EQ(posted.front().payload, "Parsing...");
  EXPECT_EQ(posted.back().id, WM_STATUS_DONE);
  for (const Message& message : posted) EXPECT_EQ(message.wParam, kJobITunes);
  const std::vector<std::string> progress = Texts(posted, WM_STATUS_PROGRESS_TEXT);
  // "Parsing..." and the running count of the tracks (an id with its dict).
  ASSERT_EQ(progress.size(), 10u);
  EXPECT_EQ(progress.back(), "9");
  EXPECT_EQ(
      Texts(posted, WM_STATUS_EVENT),
      (std::vector<std::string>{"Added from iTunes: A Song.wav", "Added from iTunes: e.wav"}));
  EXPECT_EQ(ReadDword("iTunesComplete"), 1u);
  EXPECT_EQ(CountLines("AgentITunes: added new file to db: " + new_song_), 1);
}

TEST_F(AgentITunesTest, AFlatOutImportAddsTogetherAndMergesAFileNamedTwice) {
  const auto track = [&](const std::string& file, int plays, const std::string& played) {
    return "<key>1</key><dict><key>Name</key><string>" + file +
           "</string><key>Size</key><integer>176444</integer><key>Play Count</key><integer>" +
           std::to_string(plays) + "</integer><key>Play Date UTC</key><date>" + played +
           "</date><key>Location</key><string>" + test_media::ItunesFileUrl(music_) + "/new/" +
           file + "</string></dict>";
  };
  const std::string path = env_.Path("twice.xml");
  testing_support::WriteFile(path, "<plist><dict><key>Tracks</key><dict>" +
                                       track("A%20Song.wav", 3, "2009-01-17T18:40:00Z") +
                                       track("e.wav", 1, "2009-01-17T18:40:00Z") +
                                       track("A%20Song.wav", 5, "2009-02-17T18:40:00Z") +
                                       "</dict></dict></plist>");
  AgentITunesOptions options;
  options.track_sleep_ms = 0;
  AgentITunes agent(Context(AGENT_ITUNES), options);
  EXPECT_EQ(agent.ParseItunesHistoryFile(path, FALSE), 1);

  EXPECT_EQ(KivDB::ValidCount(), 2u);
  const DBEntry twice = Record(new_song_);
  EXPECT_EQ(twice.play_count_itunes, 5);
  EXPECT_EQ(twice.play_count, 5);
  EXPECT_EQ(Record(three_slashes_).play_count, 1);
  EXPECT_EQ(CountLines("AgentITunes: added new file to db: " + new_song_), 1);
  EXPECT_EQ(
      Texts(Posted(), WM_STATUS_EVENT),
      (std::vector<std::string>{"Added from iTunes: A Song.wav", "Added from iTunes: e.wav"}));
}

TEST_F(AgentITunesTest, PlaysOnlyBecomeHistoryWhenLaterThanTheLastLocalPlay) {
  // Two records with 5 iTunes plays; the library says 7, dated 2 hours and
  // 10 minutes after each record's last local play.
  const std::string late = PutMedia(music_ + "/late.wav");
  const std::string soon = PutMedia(music_ + "/soon.wav");
  const std::time_t last_play = 1300000000;
  for (const std::string& path : {late, soon}) {
    Index(path);
    DBEntry entry = Record(path);
    entry.flags |= DBFLAG_IDENTIFIED;
    entry.play_count = 11;
    entry.play_count_itunes = 5;
    entry.played = last_play;
    Store(entry);
  }
  std::ostringstream xml;
  test_media::ItunesLibraryWriter writer(xml);
  for (const auto& [path, delay] : {std::pair{late, 7200}, std::pair{soon, 600}}) {
    test_media::ItunesTrack track;
    track.id = static_cast<std::uint32_t>(delay);
    track.location = test_media::ItunesFileUrl(path);
    track.play_count = 7;
    track.play_date_utc = test_media::ItunesDate(last_play + delay);
    writer.AddTrack(track);
  }
  writer.Finish();
  testing_support::WriteFile(env_.Path("plays.xml"), xml.str());
  EXPECT_EQ(Parse(env_.Path("plays.xml")), 1);

  const DBEntry a = Record(late);
  EXPECT_EQ(a.play_count, 13);
  EXPECT_EQ(a.played, last_play + 7200);
  EXPECT_EQ(a.date_added, last_play + 7200);
  EXPECT_TRUE(a.flags & DBFLAG_HISTORY);
  EXPECT_EQ(a.play_count_itunes, 7);

  const DBEntry b = Record(soon);
  EXPECT_EQ(b.play_count, 11);
  EXPECT_EQ(b.played, last_play);
  EXPECT_FALSE(b.flags & DBFLAG_HISTORY);
  EXPECT_EQ(b.play_count_itunes, 7);
  EXPECT_EQ(b.played_itunes, last_play + 600);
}

TEST_F(AgentITunesTest, IdentifiedRecordsKeepTheirTags) {
  Index(known_);
  DBEntry entry = Record(known_);
  entry.flags |= DBFLAG_IDENTIFIED;
  SetEntryText(entry.title, "Identified Title");
  SetEntryText(entry.artist, "Identified Artist");
  const std::int64_t modified = entry.modified;
  Store(entry);
  clock_.Advance(60000);
  EXPECT_EQ(Parse(WriteLibrary("library.xml")), 1);
  const DBEntry after = Record(known_);
  EXPECT_EQ(EntryText(after.title), "Identified Title");
  EXPECT_EQ(EntryText(after.artist), "Identified Artist");
  EXPECT_EQ(after.flags, DBFLAG_VALID | DBFLAG_IDENTIFIED | DBFLAG_HISTORY);
  EXPECT_EQ(after.play_count_itunes, 2);
  EXPECT_EQ(after.modified, modified);  // written without the touch
}

TEST_F(AgentITunesTest, UnchangedLibraryIsSkippedUntilTheDatabaseGainsARecord) {
  // The indexer ran first, so the import only merges.
  for (const std::string& path : {new_song_, three_slashes_, known_}) Index(path);
  const std::string library = WriteLibrary("library.xml");
  UseLibrary(library);
  RunAgent();
  ASSERT_TRUE(Record(new_song_).flags & DBFLAG_ITUNESDATA);
  Posted();

  // Marked complete: nothing to do.
  RunAgent();
  EXPECT_EQ(CountLines("INDEXER       \tAgentITunes: No need to scan, marked as complete."), 1);

  // Cleared, but neither the file nor the database changed.
  AppSettings().WriteDword(kSubKeySettings, "iTunesComplete", 0);
  RunAgent();
  EXPECT_EQ(CountLines("AgentItunes: ITunes history file not updated since last read. Skipping."),
            1);
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(ReadDword("iTunesComplete"), 0u);

  // iTunes runs (the controller heard it from the play monitor): held
  // back, as the library was parsed before.
  SetITunesRunning(true);
  RunAgent();
  SetITunesRunning(false);
  EXPECT_EQ(CountLines("AgentItunes: Not running agent while iTunes is running."), 1);

  // A new record makes the same file be parsed again.
  clock_.Advance(5000);
  Index(PutMedia(music_ + "/other.wav"));
  RunAgent();
  EXPECT_EQ(Texts(Posted(), WM_STATUS_PROGRESS_TEXT).front(), "Parsing...");
  EXPECT_EQ(ReadDword("iTunesComplete"), 1u);

  // So does a newer library file.
  AppSettings().WriteDword(kSubKeySettings, "iTunesComplete", 0);
  std::filesystem::last_write_time(
      library, std::filesystem::last_write_time(library) + std::chrono::seconds(10));
  RunAgent();
  EXPECT_EQ(Texts(Posted(), WM_STATUS_PROGRESS_TEXT).front(), "Parsing...");
}

// Stops when asked whether to stop for the `after`-th time.
class StoppingITunes : public AgentITunes {
 public:
  StoppingITunes(const AgentContext& context, int after) : AgentITunes(context), after_(after) {}
  BOOL CheckQuit() override { return ++calls_ >= after_; }

 private:
  int after_;
  int calls_ = 0;
};

TEST_F(AgentITunesTest, AStoppedImportIsNotCompleteAndTheNextRunReadsTheRest) {
  const std::string library = WriteLibrary("library.xml");
  UseLibrary(library);
  StoppingITunes stopped(Context(AGENT_ITUNES), 3);
  EXPECT_EQ(stopped.Run(), 1);
  EXPECT_EQ(ReadDword("iTunesComplete", 0), 0u);
  EXPECT_FALSE(Has(new_song_));

  Posted();
  RunAgent();
  EXPECT_EQ(Texts(Posted(), WM_STATUS_PROGRESS_TEXT).front(), "Parsing...");
  EXPECT_TRUE(Has(new_song_));
  EXPECT_EQ(ReadDword("iTunesComplete"), 1u);
}

TEST_F(AgentITunesTest, FindsTheLibraryInTheMusicFolderOfTheUser) {
  // No library anywhere: the run ends quietly and stays incomplete.
  RunAgent();
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(ReadDword("iTunesComplete", 0), 0u);

  const std::string path =
      WriteLibrary("library.xml", platform::MusicDir() + "/iTunes/iTunes Music Library.xml");
  UseLibrary(env_.Path("gone.xml"));
  RunAgent();
  std::string stored;
  AppSettings().ReadString(kSubKeySettings, "ITunesHistoryFile", stored);
  EXPECT_EQ(stored, path);
  EXPECT_EQ(CountLines("AgentItunes: iTunes History File found at: " + path), 1);
  EXPECT_TRUE(Has(new_song_));
}

TEST_F(AgentITunesTest, DamagedLibrariesChangeNoRecord) {
  Index(known_);
  const DBEntry before = Record(known_);
  int runs = 0;
  for (const char* name : {"truncated.xml", "billion_laughs.xml"}) {
    AppSettings().WriteDword(kSubKeySettings, "iTunesComplete", 0);
    AgentITunes::ResetProcessState();
    const std::string library = WriteLibrary(name);
    UseLibrary(library);
    EXPECT_EQ(RunAgent(), 1);
    EXPECT_EQ(CountLines("Failed to load xml from itunes history file: " + library), ++runs)
        << name;
    // A failed parse leaves the import incomplete: the next run reads the
    // file again instead of skipping it as already read.
    EXPECT_EQ(ReadDword("iTunesComplete", 0), 0u);
    EXPECT_EQ(RunAgent(), 1);
    EXPECT_EQ(CountLines("Failed to load xml from itunes history file: " + library), ++runs);
    std::filesystem::remove(library);
  }
  // Expat's verdict on the document the quick check could not prove.
  EXPECT_EQ(CountLines("ParseItunesHistoryFile: no element found at line 22"), 2);
  EXPECT_EQ(CountLines("ParseItunesHistoryFile: entity declarations are not allowed"), 2);
  const DBEntry after = Record(known_);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  EXPECT_FALSE(Has(new_song_));
  EXPECT_EQ(KivDB::ValidCount(), 1u);
}

TEST_F(AgentITunesTest, OddStructuresAreLoggedAndAKeyWithoutValueEndsThePass) {
  const std::string one = PutMedia(music_ + "/odd/one.wav");
  const std::string two = PutMedia(music_ + "/odd/two.wav");
  const std::string three = PutMedia(music_ + "/odd/three.wav");
  const std::string four = PutMedia(music_ + "/odd/four.wav");
  EXPECT_EQ(Parse(WriteLibrary("odd_structure.xml")), 0);
  EXPECT_TRUE(Has(one));  // an id that is no number is still a track
  EXPECT_TRUE(Has(two));
  EXPECT_EQ(Record(two).played_itunes, 0);  // its date was unreadable
  EXPECT_FALSE(Has(three));
  EXPECT_FALSE(Has(four));
  EXPECT_EQ(CountLines("INFO     \tITUNES        \tEmpty content between <key> tags found while "
                       "parsing iTunes history file"),
            1);
  EXPECT_EQ(CountLines("Empty key element found while iterating through tracks in history, "
                       "(continuing to next track)"),
            1);
  EXPECT_EQ(CountLines("instead got element name/value pair string=a value where an id belongs"),
            1);
  EXPECT_EQ(CountLines("Expected 'dict' element under Track ID as next sub track element "
                       "(skipping), instead got element name=string"),
            1);
  EXPECT_EQ(CountLines("instead got element name/value pair string=not a dict"), 1);
  EXPECT_EQ(CountLines("Expected 'key' with Track ID as next track dict sub element (skipping), "
                       "instead got element name/value pair string=stray value"),
            1);
  EXPECT_EQ(CountLines("key found without matching value (skipping), key/value pair was "
                       "key=Size"),
            1);
}

TEST_F(AgentITunesTest, PassEndsEarlyWithoutDatabaseOrFolders) {
  const std::string library = WriteLibrary("library.xml");
  Choose({});
  EXPECT_EQ(Parse(library), 0);
  EXPECT_EQ(CountLines("ERROR    \tITUNES        \tAgentITunes: No search paths set. Cancelling "
                       "iTunes parsing."),
            1);
  ChooseMusic();
  KivDB::Shutdown();
  EXPECT_EQ(Parse(library), 0);
  EXPECT_EQ(CountLines("AgentITunes: KivDB not ready. Cancelling iTunes parsing."), 1);
  EXPECT_EQ(Parse(""), 0);
  EXPECT_EQ(CountLines("ParseItunesHistoryFile was passed an empty file name to parse"), 1);
}

TEST_F(AgentITunesTest, PlaylistLookUpReportsOneTrack) {
  const std::string library = WriteLibrary("library.xml");
  ItunesTrackLookup lookup;
  lookup.wanted_id = 101;
  EXPECT_EQ(Parse(library, &lookup), 1);
  EXPECT_EQ(lookup.title, "New & Played");
  EXPECT_EQ(lookup.artist, "The Ärtist");
  EXPECT_EQ(lookup.album, "First Album");
  EXPECT_EQ(CountLines("UNKNOWN       \tFound Track ID 101, setting title=New & Played"), 1);
  EXPECT_EQ(KivDB::ValidCount(), 0u);  // a look-up changes nothing

  EXPECT_EQ(Parse(library, nullptr, TRUE), 0);
  EXPECT_EQ(CountLines("Play list only flag set, not parsing iTunes library as history records"),
            1);
  EXPECT_EQ(KivDB::ValidCount(), 0u);
}

}  // namespace
