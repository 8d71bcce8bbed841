#include "scan/agent_indexer.h"

#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "app/string_table.h"
#include "db/kiv_db.h"
#include "scan/absent_volume.h"
#include "tests/scan/collection_fixture.h"

namespace {

namespace fs = std::filesystem;
using media_cache::CollectionFixture;

class AgentIndexerTest : public CollectionFixture {
 protected:
  // Runs again as if something had cleared the complete mark.
  int RunAgain() {
    AppSettings().WriteDword(kSubKeySettings, kIndexCompleteValue, 0);
    return RunIndexer();
  }
  bool InDb(const std::string& path) { return KivDB().LookupEntry(path) != 0; }
  DBEntry Entry(const std::string& path) {
    DBEntry entry{};
    EXPECT_TRUE(KivDB().GetEntry(path, &entry)) << path;
    return entry;
  }
  void SetFlags(const std::string& path, DWORD flags) {
    DBEntry entry = Entry(path);
    entry.flags = DBFLAG_VALID | flags;
    KivDB db;
    ASSERT_TRUE(db.UpdateEntry(&entry, FALSE));
  }
  static std::vector<std::string> Texts(const std::vector<Message>& posted, UINT id, WPARAM job) {
    std::vector<std::string> texts;
    for (const Message& m : posted)
      if (m.id == id && m.wParam == job) texts.push_back(m.payload);
    return texts;
  }
};

TEST_F(AgentIndexerTest, FirstRunCollectsTheChosenTreeAndReportsProgress) {
  const std::string a = PutMedia(music_ + "/a.wav");
  const std::string b = PutMedia(music_ + "/Artist/Album/b.wav");
  const std::string exact = PutSized(music_ + "/exact.mp3", 131072);
  PutSized(music_ + "/small.mp3", 131071);
  PutMedia(music_ + "/.hidden.wav");
  PutMedia(music_ + "/.cache/c.wav");
  PutSized(music_ + "/notes.txt", 200000);
  PutMedia(music_ + "/etc/d.wav");  // a folder named like a system tree
  // The trailing separator gives the same paths as without it.
  Choose({{music_ + "/", 1}});

  EXPECT_EQ(RunIndexer(), 1);

  EXPECT_TRUE(InDb(a));
  EXPECT_TRUE(InDb(b));
  EXPECT_TRUE(InDb(exact));
  EXPECT_TRUE(InDb(music_ + "/etc/d.wav"));
  EXPECT_EQ(KivDB::ValidCount(), 4u);
  EXPECT_EQ(ReadDword(kIndexCompleteValue), 1u);
  EXPECT_EQ(ReadDword(kNotifiedValue) & kNotifiedIndexingBit, kNotifiedIndexingBit);

  std::vector<Message> posted = Posted();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.front().id, WM_STATUS_EVENT);  // the indexing notice
  EXPECT_EQ(posted.front().wParam, kJobIndex);
  EXPECT_EQ(posted.front().payload, LoadStringResource(IDS_INDEX_NOTICE));
  EXPECT_EQ(posted[1].id, WM_STATUS_PROGRESS_RANGE);
  EXPECT_EQ(posted[1].wParam, kJobScan);
  EXPECT_EQ(posted[1].lParam, 0);
  EXPECT_EQ(posted.back().id, WM_STATUS_DONE);
  EXPECT_EQ(posted.back().wParam, kJobScan);
  EXPECT_EQ(Texts(posted, WM_STATUS_PROGRESS_RANGE, kJobIndex).size(), 1u);
  std::vector<std::string> progress = Texts(posted, WM_STATUS_PROGRESS_TEXT, kJobIndex);
  ASSERT_EQ(progress.size(), 4u);
  EXPECT_EQ(progress.front(), "1 of 4");
  EXPECT_EQ(progress.back(), "4 of 4");
  std::vector<std::string> events = Texts(posted, WM_STATUS_EVENT, kJobIndex);
  EXPECT_NE(std::find(events.begin(), events.end(), "Added file: b.wav"), events.end());
  EXPECT_EQ(Texts(posted, WM_STATUS_DONE, kJobIndex).size(), 1u);

  const std::string log = LogText();
  EXPECT_NE(log.find("less than minimum file size of 131072, skipping"), std::string::npos);
  EXPECT_NE(log.find("Skipping hidden"), std::string::npos);
  EXPECT_NE(log.find("AgentIndexer: added new file to db"), std::string::npos);
}

TEST_F(AgentIndexerTest, SecondRunAfterACompleteOnePostsNothing) {
  PutMedia(music_ + "/a.wav");
  Choose({{music_, 1}});
  RunIndexer();
  Posted();
  PutMedia(music_ + "/b.wav");
  EXPECT_EQ(RunIndexer(), 1);
  EXPECT_TRUE(Posted().empty());
  EXPECT_FALSE(InDb(music_ + "/b.wav"));
  EXPECT_NE(LogText().find("AgentIndexer: No need to index, marked as complete."),
            std::string::npos);
}

TEST_F(AgentIndexerTest, NoticeIsShownOnceAndNotAfterAnEarlierVersionRan) {
  Choose({{music_, 1}});
  AppSettings().WriteDword(kSubKeySettings, kNotifiedValue, 0x3);
  RunIndexer();
  EXPECT_EQ(ReadDword(kNotifiedValue), 0x103u);
  EXPECT_EQ(Texts(Posted(), WM_STATUS_EVENT, kJobIndex).size(), 1u);
  RunAgain();
  EXPECT_TRUE(Texts(Posted(), WM_STATUS_EVENT, kJobIndex).empty());

  AppSettings().WriteDword(kSubKeySettings, kNotifiedValue, 0);
  AppSettings().WriteDword(kSubKeySettings, kPreviouslyRunValue, 0);
  RunAgain();
  EXPECT_TRUE(Texts(Posted(), WM_STATUS_EVENT, kJobIndex).empty());
  EXPECT_EQ(ReadDword(kNotifiedValue), 0u);
}

TEST_F(AgentIndexerTest, DisabledSubfolderIsNotEnteredButStaysInPath) {
  const std::string keep = PutMedia(music_ + "/rock/a.wav");
  const std::string pod = PutMedia(music_ + "/podcasts/p.wav");
  Choose({{music_, 1}});
  RunIndexer();
  ASSERT_TRUE(InDb(pod));
  Choose({{music_, 1}, {music_ + "/podcasts", 0}});
  const std::string pod2 = PutMedia(music_ + "/podcasts/p2.wav");
  RunAgain();
  EXPECT_TRUE(InDb(keep));
  EXPECT_FALSE(InDb(pod2));
  EXPECT_EQ(Entry(pod).flags & (DBFLAG_NOTINPATH | DBFLAG_DELETED), 0u);
}

TEST_F(AgentIndexerTest, KnownFileIsRefreshedOnlyWhenWrittenMoreThan100sLater) {
  const std::string path = PutMedia(music_ + "/a.wav");
  Choose({{music_, 1}});
  RunIndexer();
  const std::int64_t recorded = Entry(path).file_modified;
  auto set_mtime = [&](std::int64_t seconds) {
    fs::last_write_time(path, std::chrono::file_clock::from_sys(
                                  std::chrono::sys_seconds(std::chrono::seconds(seconds))));
  };
  Posted();
  set_mtime(recorded + 100);
  RunAgain();
  EXPECT_EQ(Entry(path).file_modified, recorded);
  EXPECT_TRUE(Texts(Posted(), WM_STATUS_EVENT, kJobIndex).empty());

  set_mtime(recorded + 101);
  RunAgain();
  EXPECT_EQ(Entry(path).file_modified, recorded + 101);
  std::vector<std::string> events = Texts(Posted(), WM_STATUS_EVENT, kJobIndex);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], "Updating file: a.wav");
}

TEST_F(AgentIndexerTest, VanishedFilesAreMarkedOnlyWhereTheirVolumeIsPresent) {
  const std::string usb = env_.Path("media/usb");
  const std::string gone = PutMedia(music_ + "/gone.wav");
  PutMedia(music_ + "/stays.wav");
  const std::string on_usb = PutMedia(usb + "/song.wav");
  const std::string outside = PutMedia(env_.Path("elsewhere/x.wav"));
  Choose({{music_, 1}, {usb, 1}, {env_.Path("elsewhere"), 1}});
  RunIndexer();
  ASSERT_TRUE(InDb(on_usb) && InDb(outside));

  // The drive is unplugged (its mount point left empty), a file is deleted
  // and a folder is taken off the list.
  fs::remove(gone);
  fs::remove(on_usb);
  SetFlags(on_usb, DBFLAG_REPORTED);
  Choose({{music_, 1}, {usb, 1}});
  RunAgain();
  EXPECT_EQ(Entry(gone).flags & DBFLAG_DELETED, DBFLAG_DELETED);
  EXPECT_EQ(Entry(on_usb).flags, DBFLAG_VALID | DBFLAG_REPORTED);
  EXPECT_EQ(Entry(outside).flags & DBFLAG_NOTINPATH, DBFLAG_NOTINPATH);

  // The mount point itself missing changes nothing either.
  fs::remove(usb);
  RunAgain();
  EXPECT_EQ(Entry(on_usb).flags, DBFLAG_VALID | DBFLAG_REPORTED);

  // The drive and the file come back, and the folder is chosen again.
  SetFlags(on_usb, DBFLAG_DELETED);
  PutMedia(on_usb);
  Choose({{music_, 1}, {usb, 1}, {env_.Path("elsewhere"), 1}});
  RunAgain();
  EXPECT_EQ(Entry(on_usb).flags, DBFLAG_VALID);
  EXPECT_EQ(Entry(outside).flags, DBFLAG_VALID);
  EXPECT_EQ(Entry(gone).flags & DBFLAG_DELETED, DBFLAG_DELETED);
}

// The indexer's pauses, and the measurement setting that turns them off
// from the next run on.
TEST_F(AgentIndexerTest, TheMeasurementSettingTurnsThePausesOff) {
  for (int i = 0; i < 3; ++i) PutMedia(music_ + "/" + std::to_string(i) + ".wav");
  Choose({{music_, 1}});
  auto paused_ms = [this] {
    AppSettings().WriteDword(kSubKeySettings, kIndexCompleteValue, 0);
    const std::uint64_t before = clock_.TickMs();
    AgentIndexer(Context(AGENT_INDEXER)).Run();
    return clock_.TickMs() - before;
  };
  EXPECT_GE(paused_ms(), 3 * kIndexerFileSleepMs);
  EXPECT_GE(paused_ms(), 3 * (kIndexerRecordSleepMs + kIndexerFileSleepMs));
  AppSettings().WriteDword(kSubKeySettings, kIndexerPausesOffValue, 1);
  EXPECT_EQ(paused_ms(), 0u);
  EXPECT_EQ(KivDB::ValidCount(), 3u);
}

// The walk's listing answers for the files it saw; a record of a file it
// passes over (here in a hidden folder) is looked for on its own.
TEST_F(AgentIndexerTest, RecordOfAFileTheWalkPassesOverIsLookedForItself) {
  const std::string hidden = PutMedia(music_ + "/.hidden/h.wav");
  PutMedia(music_ + "/.hidden/stays.wav");
  PutMedia(music_ + "/a.wav");
  Choose({{music_, 1}});
  ASSERT_TRUE(KivDB().AddEntry(hidden));
  RunIndexer();
  EXPECT_EQ(Entry(hidden).flags, DBFLAG_VALID);
  fs::remove(hidden);
  RunAgain();
  EXPECT_EQ(Entry(hidden).flags & DBFLAG_DELETED, DBFLAG_DELETED);
}

// A real volume mounted below a chosen folder (needs root to mount).
class MountedVolume {
 public:
  explicit MountedVolume(const std::string& at) : at_(at) {
    fs::create_directories(at);
    mounted_ = ::geteuid() == 0 && ::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=32m") == 0;
  }
  ~MountedVolume() { Unmount(); }
  bool mounted() const { return mounted_; }
  void Unmount() {
    if (mounted_) mounted_ = ::umount2(at_.c_str(), MNT_DETACH) != 0;
  }

 private:
  std::string at_;
  bool mounted_ = false;
};

TEST_F(AgentIndexerTest, UnmountingAVolumeBelowAChosenFolderDeletesNoRecord) {
  ForgetMountPoints();
  const std::string usb = music_ + "/usb";
  MountedVolume volume(usb);
  if (!volume.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
  const std::string song = PutMedia(usb + "/song.wav");
  const std::string deep = PutMedia(usb + "/Album/deep.wav");
  const std::string deleted = PutMedia(usb + "/deleted.wav");
  const std::string local = PutMedia(music_ + "/local.wav");
  Choose({{music_, 1}});
  RunIndexer();
  ASSERT_TRUE(InDb(song) && InDb(deep) && InDb(deleted) && InDb(local));

  // A file deleted from the mounted volume is deleted.
  fs::remove(deleted);
  RunAgain();
  EXPECT_EQ(Entry(deleted).flags & DBFLAG_DELETED, DBFLAG_DELETED);

  // Unplugged: the mount point is left empty, and even with something put
  // into it later, the volume's files are not taken for deleted.
  volume.Unmount();
  ASSERT_FALSE(fs::exists(song));
  for (bool filled : {false, true}) {
    if (filled) PutSized(usb + "/left-behind.txt", 10);
    RunAgain();
    EXPECT_EQ(Entry(song).flags & DBFLAG_DELETED, 0u) << filled;
    EXPECT_EQ(Entry(deep).flags & DBFLAG_DELETED, 0u) << filled;
  }
  // A file deleted beside the mount point still is.
  fs::remove(local);
  RunAgain();
  EXPECT_EQ(Entry(local).flags & DBFLAG_DELETED, DBFLAG_DELETED);
}

TEST_F(AgentIndexerTest, FindsAndRecordsTheITunesLibraryWithoutCollectingIt) {
  const std::string library = music_ + "/iTunes/iTunes Music Library.xml";
  testing_support::WriteFile(PutSized(library, 0), "<plist></plist>");
  PutMedia(music_ + "/a.wav");
  Choose({{music_, 1}});
  RunIndexer();
  std::string recorded;
  ASSERT_TRUE(AppSettings().ReadStringUtf8(kSubKeySettings, kITunesHistoryFileValue, recorded));
  EXPECT_EQ(recorded, library);
  EXPECT_FALSE(InDb(library));
  EXPECT_NE(LogText().find("Found iTunes history file"), std::string::npos);

  // A recorded library that still exists is not replaced by another one.
  const std::string other = music_ + "/zz/ITUNES MUSIC LIBRARY.XML";
  PutSized(other, 10);
  RunAgain();
  AppSettings().ReadStringUtf8(kSubKeySettings, kITunesHistoryFileValue, recorded);
  EXPECT_EQ(recorded, library);
  // Once it is gone, the next one found is recorded.
  fs::remove(library);
  RunAgain();
  AppSettings().ReadStringUtf8(kSubKeySettings, kITunesHistoryFileValue, recorded);
  EXPECT_EQ(recorded, other);
}

TEST_F(AgentIndexerTest, BadFoldersAndNamesAreSkippedAndThePassGoesOn) {
  const std::string good = PutMedia(music_ + "/good.wav");
  fs::create_directory_symlink(music_, music_ + "/loop");        // back to the root
  fs::create_directory_symlink(music_ + "/sub", music_ + "/x");  // a second way in
  const std::string in_sub = PutMedia(music_ + "/sub/s.wav");
  fs::create_symlink(music_ + "/nowhere.wav", music_ + "/dangling.wav");
  const std::string bad_name = PutMedia(music_ + "/bad\xff\xfe.wav");
  std::string deep = music_;
  while (deep.size() < 300) deep += "/deep-folder";
  const std::string too_long = PutMedia(deep + "/long-name.wav");
  const std::string a_file = PutSized(env_.Path("not-a-folder"), 200000);
  Choose({{music_, 1}, {a_file, 1}, {env_.Path("missing"), 1}});

  RunIndexer();
  EXPECT_TRUE(InDb(good));
  // Each file once, under whichever path the listing reached it first.
  EXPECT_NE(InDb(in_sub), InDb(music_ + "/x/s.wav"));
  EXPECT_EQ(KivDB::ValidCount(), 2u);
  EXPECT_EQ(ReadDword(kIndexCompleteValue), 1u);
  const std::string log = LogText();
  EXPECT_NE(log.find("Skipping folder already searched"), std::string::npos);
  EXPECT_NE(log.find("too long for a db record or not valid text"), std::string::npos);
  EXPECT_NE(log.find("unable to read the properties of a file"), std::string::npos);
  (void)bad_name;
  (void)too_long;
}

// Stops at the n-th stop test, as a stop request would.
class StoppingIndexer : public AgentIndexer {
 public:
  StoppingIndexer(const AgentContext& context, AgentIndexerOptions options, int stop_at)
      : AgentIndexer(context, options), stop_at_(stop_at) {}
  BOOL CheckQuit() override { return ++calls_ >= stop_at_ ? TRUE : FALSE; }

 private:
  int stop_at_;
  int calls_ = 0;
};

TEST_F(AgentIndexerTest, StoppedRunIsNotMarkedCompleteAndTheNextStartsOver) {
  for (int i = 0; i < 6; ++i) PutMedia(music_ + "/f" + std::to_string(i) + ".wav");
  Choose({{music_, 1}});
  AgentIndexerOptions options;
  options.record_sleep_ms = 0;
  options.file_sleep_ms = 0;
  StoppingIndexer indexer(Context(AGENT_INDEXER), options, 12);
  EXPECT_EQ(indexer.Run(), 1);
  EXPECT_EQ(ReadDword(kIndexCompleteValue), 0xFFFFFFFFu);  // never written
  EXPECT_LT(KivDB::ValidCount(), 6u);
  EXPECT_EQ(Posted().back().id, WM_STATUS_DONE);
  RunIndexer();
  EXPECT_EQ(KivDB::ValidCount(), 6u);
}

// Deletes a file once the indexing pass has begun, after the listing saw it.
class VanishingIndexer : public AgentIndexer {
 public:
  VanishingIndexer(const AgentContext& context, AgentIndexerOptions options, std::string log,
                   std::string victim)
      : AgentIndexer(context, options), log_(std::move(log)), victim_(std::move(victim)) {}
  BOOL CheckQuit() override {
    if (!victim_.empty() &&
        testing_support::ReadFile(log_).find("AgentIndexer: indexing added") != std::string::npos) {
      fs::remove(victim_);
      victim_.clear();
    }
    return FALSE;
  }

 private:
  std::string log_;
  std::string victim_;
};

TEST_F(AgentIndexerTest, FileVanishingBeforeItIsAddedIsMarkedDeletedByTheNextRun) {
  const std::string a = PutMedia(music_ + "/a.wav");
  const std::string b = PutMedia(music_ + "/b.wav");
  const std::string c = PutMedia(music_ + "/c.wav");
  Choose({{music_, 1}});
  AgentIndexerOptions options;
  options.record_sleep_ms = 0;
  options.file_sleep_ms = 0;
  VanishingIndexer indexer(Context(AGENT_INDEXER), options, env_.Path("kivclient.log"), b);
  indexer.Run();
  // The record is made from what the listing saw (no second look at each
  // file); the next run finds the file gone.
  EXPECT_TRUE(InDb(a));
  EXPECT_TRUE(InDb(c));
  EXPECT_EQ(ReadDword(kIndexCompleteValue), 1u);
  std::vector<std::string> progress = Texts(Posted(), WM_STATUS_PROGRESS_TEXT, kJobIndex);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), "3 of 3");
  RunAgain();
  EXPECT_TRUE(Entry(b).flags & DBFLAG_DELETED);
}

TEST_F(AgentIndexerTest, DatabaseNotReadyEndsTheRunAtOnce) {
  Choose({{music_, 1}});
  KivDB::Shutdown();
  EXPECT_EQ(RunIndexer(), 1);
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(ReadDword(kIndexCompleteValue), 0xFFFFFFFFu);
  EXPECT_NE(LogText().find("AgentIndexer: failed creating kivDB. Can not continue indexing."),
            std::string::npos);
}

}  // namespace
