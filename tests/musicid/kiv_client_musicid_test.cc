// The wrapper and its event sink against the development lookup service:
// the component's real modules fingerprint real files and the records take
// the results.
#include "musicid/kiv_client_musicid.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/messages.h"
#include "db/component_tags.h"
#include "musicid/cddb_startup.h"
#include "musicid/component/results.h"
#include "musicid/musicid_event_sink.h"
#include "platform/inotify_watcher.h"
#include "tests/musicid/musicid_fixture.h"

namespace musicid_test {
namespace {

class KivClientMusicIdTest : public MusicIdFixture {};

test_media::MediaTags Tags(const std::string& title, const std::string& track) {
  test_media::MediaTags tags;
  tags.title = title;
  tags.track = track;
  return tags;
}

CddbListCounts Counts(long complete, long total) {
  CddbListCounts counts;
  counts.complete = complete;
  counts.total = total;
  return counts;
}

const Rec kSong{"rec-song", "The Song", "Band feat. Guest", "rg-1", "The Album", "Band"};

TEST_F(KivClientMusicIdTest, TheSameFileGivesTheSameFingerprintTwice) {
  const std::string path = PutTrack("a/one.mp3", 10);
  const std::string first = Fingerprint(path);
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(Fingerprint(path), first);
  EXPECT_NE(Fingerprint(PutTrack("a/two.mp3", 14)), first);
}

TEST_F(KivClientMusicIdTest, AMatchIsReadIntoTheRecord) {
  const std::string path = PutTrack("a/one.mp3", 10, Tags("t", "3"));
  KivDB().ModifyEntry(path, [](DBEntry& e) {
    e.flags |= DBFLAG_ITUNESDATA;
    return true;
  });
  Answers(R"("keys":["testkey"],"answers":{")" + Fingerprint(path) + R"(":{"results":)" +
          Results(0.97, {kSong}) + "}}");
  ASSERT_EQ(Identify({path}), S_OK);
  const DBEntry e = Record(path);
  EXPECT_TRUE(e.flags & DBFLAG_IDENTIFIED);
  EXPECT_FALSE(e.flags & (DBFLAG_ITUNESDATA | DBFLAG_MUSICID_INUSE));
  EXPECT_EQ(e.match_quality, 1);
  EXPECT_NE(e.identified, 0);
  EXPECT_EQ(e.modified, e.identified);
  EXPECT_EQ(EntryText(e.gn_id), "rec-song");
  EXPECT_EQ(EntryText(e.title), "The Song");
  EXPECT_EQ(EntryText(e.artist), "Band");  // the album's artist, extended on the track
  EXPECT_EQ(EntryText(e.album), "The Album");
  EXPECT_EQ(EntryText(e.extra1), "Album");
  EXPECT_EQ(EntryText(e.extra2), "97");
  EXPECT_EQ(e.track_number, 3);
  EXPECT_EQ(PostedTexts(WM_STATUS_EVENT), std::vector<std::string>{"Identified: one.mp3"});
  // The call carried what the service needs.
  const std::string body = service_->LastCall().body;
  EXPECT_NE(body.find("client=testkey"), std::string::npos);
  EXPECT_NE(body.find("duration=10"), std::string::npos);
  EXPECT_NE(body.find("meta=recordings+releasegroups+compress"), std::string::npos);
}

TEST_F(KivClientMusicIdTest, NoMatchAndAFileErrorEndTheAttemptUnidentified) {
  const std::string none = PutTrack("a/none.mp3", 10);
  const std::string bad = PutTrack("a/bad.mp3", 14);
  Answers(R"("answers":{")" + Fingerprint(bad) +
          R"(":{"http_status":400,"error":[3,"invalid fingerprint"]}}, "default":{"results":[]})");
  ASSERT_EQ(Identify({none, bad}), S_OK);
  for (const std::string& path : {none, bad}) {
    const DBEntry e = Record(path);
    EXPECT_FALSE(e.flags & (DBFLAG_IDENTIFIED | DBFLAG_MUSICID_INUSE)) << path;
    EXPECT_NE(e.identified, 0) << path;
  }
  EXPECT_EQ(Record(none).match_quality, 2);
  EXPECT_EQ(Record(bad).match_quality, 5);
  EXPECT_EQ(
      PostedTexts(WM_STATUS_EVENT),
      (std::vector<std::string>{"Could not identify: none.mp3", "Could not identify: bad.mp3"}));
}

TEST_F(KivClientMusicIdTest, AMatchThatCannotBeReadLeavesTheRecordForAnotherTry) {
  const std::string path = PutTrack("a/one.mp3", 10);
  KivDB().ModifyEntry(path, [](DBEntry& e) {
    e.flags |= DBFLAG_MUSICID_INUSE;
    return true;
  });
  const DBEntry before = Record(path);
  // An exact match whose item carries no album result.
  auto list = CddbPtr<cddb_component::ResultList>::Adopt(new cddb_component::ResultList());
  list->items.push_back(
      CddbPtr<cddb_component::ListItem>::Adopt(new cddb_component::ListItem(path)));
  list->items.back()->set_code(kCddbMatchExact);
  KivDB db;
  MusicIDEventSink* sink = new MusicIDEventSink(&agent_, &db, Environment());
  long cancel = 0;
  sink->OnLibraryIDListComplete(list.get(), Counts(1, 1), &cancel);
  sink->Release();
  const DBEntry after = Record(path);
  EXPECT_EQ(after.identified, 0);
  EXPECT_EQ(after.match_quality, before.match_quality);
  EXPECT_EQ(after.flags, before.flags);
  EXPECT_TRUE(PostedTexts(WM_STATUS_EVENT).empty());
}

// TagLib knows no length for an AC-3 stream; the fingerprinter hears only
// two minutes of it.
TEST_F(KivClientMusicIdTest, AFileWithoutTaggedLengthIsLookedUpWithItsWholeLength) {
  test_media::MediaPlan plan;
  plan.format = "ac3";
  plan.seconds = 130;
  const std::string path = music_ + "/long.ac3";
  std::filesystem::copy_file(media_cache::CachedMedia(plan), path);
  ASSERT_TRUE(KivDB().AddEntry(path));
  Answers(R"("default":{"results":[]})");
  ASSERT_EQ(Identify({path}), S_OK);
  EXPECT_NE(service_->LastCall().body.find("duration=130"), std::string::npos)
      << service_->LastCall().body;
}

TEST_F(KivClientMusicIdTest, SeveralMatchesAgreeOnTheFoldersRelease) {
  // Each file alone could be on either release; both together pick the one
  // they share, and the ambiguous item's track is built by the builder.
  const std::string one = PutTrack("album/one.mp3", 10, Tags("", "1"));
  const std::string two = PutTrack("album/two.mp3", 14, Tags("", "2"));
  const Rec one_single{"rec-1", "One", "Band", "rg-single", "One (Single)", "Band"};
  const Rec one_album{"rec-1b", "One", "Band", "rg-album", "The Album", "Band"};
  const Rec two_album{"rec-2", "Two", "Band", "rg-album", "The Album", "Band"};
  Answers(R"("answers":{")" + Fingerprint(one) + R"(":{"results":)" +
          Results(0.8, {one_single, one_album}) + R"(},")" + Fingerprint(two) + R"(":{"results":)" +
          Results(0.95, {two_album}) + "}}");
  ASSERT_EQ(Identify({one, two}), S_OK);
  EXPECT_EQ(EntryText(Record(one).album), "The Album");
  EXPECT_EQ(EntryText(Record(one).gn_id), "rec-1b");
  EXPECT_EQ(Record(one).match_quality, 4);
  EXPECT_EQ(Record(two).match_quality, 1);
  EXPECT_EQ(Record(two).track_number, 2);
}

TEST_F(KivClientMusicIdTest, ASlowAnswerIsWaitedFor) {
  const std::string path = PutTrack("a/one.mp3", 10);
  Answers(R"("default":{"delay":1.5,"results":)" + Results(0.95, {kSong}) + "}");
  ASSERT_EQ(Identify({path}), S_OK);
  EXPECT_TRUE(Record(path).flags & DBFLAG_IDENTIFIED);
}

// An agent told to stop from another thread.
class StoppableAgent : public CAgent {
 public:
  int Run() override { return 1; }
  BOOL CheckQuit() override { return quit.load() ? TRUE : FALSE; }
  std::atomic<bool> quit{false};
};

TEST_F(KivClientMusicIdTest, AStopDuringASlowLookupEndsItWithinTwoSeconds) {
  const std::string path = PutTrack("a/one.mp3", 10);
  Answers(R"("default":{"delay":20,"results":)" + Results(0.95, {kSong}) + "}");
  KivClientMusicID wrapper(Environment());
  SetMusicIdWrapper(&wrapper);
  ASSERT_EQ(wrapper.Initialise(), S_OK);
  ASSERT_EQ(wrapper.AddFile(path), S_OK);
  KivDB db;
  StoppableAgent agent;
  std::chrono::steady_clock::time_point stopped;
  std::thread stopper([&] {
    // Once the question is on its way (the service holds it 20 s).
    for (int i = 0; i < 1000 && LogText().find("STATUS_ALBUMID_Querying") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stopped = std::chrono::steady_clock::now();
    agent.quit = true;
  });
  wrapper.IdentifyAll(&agent, &db);
  const auto returned = std::chrono::steady_clock::now();
  stopper.join();
  wrapper.Shutdown();
  SetMusicIdWrapper(nullptr);
  EXPECT_LT(std::chrono::duration<double>(returned - stopped).count(), 2.0);
  EXPECT_EQ(Record(path).identified, 0);
}

TEST_F(KivClientMusicIdTest, AFailingServiceEndsTheRunAndLeavesTheFilesDue) {
  const std::string one = PutTrack("a/one.mp3", 10);
  const std::string two = PutTrack("a/two.mp3", 14);
  Answers(R"("default":{"http_status":503,"body":"down"})");
  KivClientMusicID wrapper(Environment());
  const HRESULT hr = Identify({one, two});
  EXPECT_EQ(hr, CDDBSTATUS_SERVICE_UNAVAILABLE);
  EXPECT_EQ(wrapper.FailureReason(hr), "The identification service cannot be reached.");
  EXPECT_EQ(service_->Calls().size(), 1u);  // the second file is not asked about
  for (const std::string& path : {one, two}) {
    const DBEntry e = Record(path);
    EXPECT_EQ(e.identified, 0) << path;
    EXPECT_FALSE(e.flags & DBFLAG_MUSICID_INUSE) << path;
  }
}

TEST_F(KivClientMusicIdTest, ARefusedOrMissingClientKeyIsSaidSo) {
  const std::string path = PutTrack("a/one.mp3", 10);
  Answers(R"("keys":["other"])");
  EXPECT_EQ(Identify({path}), CDDBSTATUS_CLIENT_KEY_REFUSED);
  AppSettings().WriteString(kSubKeySettings, kIdentifyClientKeyValue, "");
  KivClientMusicID wrapper(Environment());
  EXPECT_EQ(wrapper.Initialise(), CDDBSTATUS_NO_CLIENT_KEY);
  EXPECT_NE(wrapper.FailureReason(CDDBSTATUS_NO_CLIENT_KEY).find("IdentifyClientKey"),
            std::string::npos);
}

TEST_F(KivClientMusicIdTest, WithoutTheComponentInitialiseFailsAndSaysWhy) {
  CddbModuleLoader empty;
  ASSERT_EQ(empty.Init(env_.Path("music"), false), S_OK);
  MusicIdEnvironment env = Environment();
  env.loader = &empty;
  KivClientMusicID wrapper(env);
  const HRESULT hr = wrapper.Initialise();
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(wrapper.FailureReason(hr), "The identification component is not installed.");
  EXPECT_EQ(wrapper.AddFile(""), E_INVALIDARG);
}

TEST_F(KivClientMusicIdTest, ProcessingIsAnnouncedOncePerProcessingSpell) {
  KivDB db;
  MusicIDEventSink* sink = new MusicIDEventSink(&agent_, &db, Environment());
  long cancel = 0;
  for (long status : {8L, 9L, 7L, 9L}) sink->OnTrackIDStatusUpdate(status, "x", 1, 2, &cancel);
  sink->OnTrackIDStatusUpdate(3, "x", 1, 2, &cancel);
  EXPECT_EQ(PostedTexts(WM_STATUS_PROGRESS_TEXT),
            (std::vector<std::string>{"Processing...", "Processing...", "1/2 Querying..."}));
  EXPECT_EQ(cancel, 0);
  sink->Release();
}

TEST_F(KivClientMusicIdTest, LargeRunsStopNearTheirEndOnly) {
  KivDB db;
  MusicIDEventSink* sink = new MusicIDEventSink(&agent_, &db, Environment());
  long cancel = 0;
  sink->OnLibraryIDListComplete(nullptr, Counts(1099, 1200), &cancel);
  EXPECT_EQ(cancel, 0);
  sink->OnLibraryIDListComplete(nullptr, Counts(1100, 1200), &cancel);
  EXPECT_EQ(cancel, 1);
  cancel = 0;
  sink->OnLibraryIDListComplete(nullptr, Counts(998, 999), &cancel);
  EXPECT_EQ(cancel, 0);
  EXPECT_NE(LogText().find("Stopping LibraryID early to help avoid breaking last album."),
            std::string::npos);
  sink->Release();
}

TEST_F(KivClientMusicIdTest, GetTagEntryReadsTheRecordingIdentifierThroughTheTagObject) {
  const std::string path = PutTrack("a/one.mp3", 10, Tags("Own", ""));
  // A tagger's recording identifier in the file (ID3v2 user text frame).
  ASSERT_EQ(test_media::SetTagProperty(path, "MUSICBRAINZ_TRACKID", "rec-from-file"), "");
  DBEntry entry = Record(path);
  KivDB db;
  EXPECT_EQ(db.GetTagEntry(&entry, TRUE), S_OK);
  EXPECT_EQ(EntryText(entry.gn_id), "");  // no reader installed
  // Reading must not look like a write to the folder monitor: a file opened
  // for writing reports a change when it closes, and the monitor would
  // start the indexer again after every transmit.
  platform::InotifyWatcher watcher;
  ASSERT_GE(watcher.AddWatch(path.substr(0, path.rfind('/'))), 0);
  SetComponentTagReader(&ReadTagsWithComponent);
  EXPECT_EQ(db.GetTagEntry(&entry, TRUE), S_OK);
  SetComponentTagReader({});
  EXPECT_EQ(EntryText(entry.gn_id), "rec-from-file");
  EXPECT_EQ(EntryText(entry.title), "Own");
  std::vector<platform::WatchEvent> events;
  EXPECT_FALSE(watcher.Wait(0, &events)) << events.size() << " change events";
}

}  // namespace
}  // namespace musicid_test
