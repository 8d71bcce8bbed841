#include "ui/db_tester.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeView>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/agent_kinds.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "tests/ui/ui_fixture.h"
#include "ui/record_text.h"

namespace ui_test {
namespace {

class TesterTest : public UiTest {
 protected:
  TesterTest() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }

  // A record as the database writes it, with every displayed field set.
  std::string AddRecord(const std::string& name, std::uint64_t kiv_id) {
    const std::string path = MakeMediaFile(name);
    KivDB db;
    EXPECT_TRUE(db.AddEntry(path));
    EXPECT_TRUE(db.ModifyEntry(path, [&](DBEntry& e) {
      e.kiv_id = kiv_id;
      e.modified = 1700000000;
      e.identified = 0;
      e.reported = 1700000100;
      e.play_count = 3;
      e.play_count_itunes = 5;
      SetEntryText(e.title, "Caf\xc3\xa9 Song");
      SetEntryText(e.album, "Blue Train");
      SetEntryText(e.artist, "Coltrane");
      SetEntryText(e.genre, "Jazz");
      SetEntryText(e.year, "1957");
      e.track_number = 7;
      e.flags |= DBFLAG_REPORTED | DBFLAG_PLAYED | DBFLAG_NOTINPATH;
      return true;
    }));
    return path;
  }
  DBEntry Record(const std::string& path) {
    KivDB db;
    DBEntry entry{};
    EXPECT_TRUE(db.GetEntry(path, &entry));
    return entry;
  }
  void Open() {
    tester_ = std::make_unique<CKivClientTester>(&loop_, clock_);
    shown_ = std::make_unique<QSignalSpy>(tester_.get(), &CKivClientTester::recordShown);
  }
  // Waits for the record display to change `times` more times.
  bool Shown(int times = 1) {
    const int want = static_cast<int>(shown_->count()) + times;
    return PumpUntil([&] { return shown_->count() >= want; });
  }
  QString Display() { return Control<QPlainTextEdit>(tester_.get(), "1130")->toPlainText(); }
  void Click(const char* id) { Control<QPushButton>(tester_.get(), id)->click(); }
  int TransmitRequests() {
    int n = 0;
    for (const Message& m : TakeMessages())
      if (m.id == WM_AGENT_REQUEST && m.wParam == ID_AGENT_SERVER && m.lParam == 0) ++n;
    return n;
  }

  std::unique_ptr<CKivClientTester> tester_;
  std::unique_ptr<QSignalSpy> shown_;
};

TEST_F(TesterTest, TheRecordDisplayShowsWhatTheDatabaseHolds) {
  const std::string path = AddRecord("blue train.mp3", 1234567890123ull);
  Open();
  tester_->SelectPath(QString::fromStdString(path));
  ASSERT_TRUE(Shown());
  EXPECT_EQ(Control<QLineEdit>(tester_.get(), "1133")->text().toStdString(), path);
  EXPECT_EQ(Display().toStdString(),
            "Filename: blue train.mp3\nFormat: MP3\nKIV ID: 1234567890123\nGN ID: no ID\n\n"
            "Modified: 2023-11-14T22:13:20Z\nIdentified: 0\nReported: 2023-11-14T22:15:00Z\n"
            "Played: 0\nPlayed (iTunes): 0\n\nPlay Count: 3\nPlay Count (iTunes): 5\n\n"
            "Track: Caf\xc3\xa9 Song\nAlbum: Blue Train\nArtist: Coltrane\nGenre: Jazz\n"
            "Year: 1957\nTrack #: 7\n\nFlags:\nDBFLAG_VALID\nDBFLAG_REPORTED\nDBFLAG_NOTINPATH\n"
            "DBFLAG_PLAYED\n");

  const std::string other = MakeMediaFile("not added.mp3");
  tester_->SelectPath(QString::fromStdString(other));
  ASSERT_TRUE(Shown());
  EXPECT_EQ(Display(), "Filename: not added.mp3\nNot In Database");
}

TEST_F(TesterTest, ButtonsChangeTheRecordAndRequestTheTransmitAgent) {
  const std::string path = AddRecord("a.mp3", 42);
  Open();
  tester_->SelectPath(QString::fromStdString(path));
  ASSERT_TRUE(Shown());
  const std::int64_t now = platform::NowAsStoredTime(clock_.WallTime());

  Click("1134");  // Play
  ASSERT_TRUE(Shown());
  DBEntry e = Record(path);
  EXPECT_EQ(e.play_count, 4);
  EXPECT_EQ(e.played, now);
  EXPECT_EQ(e.date_added, now);
  EXPECT_TRUE(Display().contains("Play Count: 4"));

  Click("1136");  // History
  ASSERT_TRUE(Shown());
  e = Record(path);
  EXPECT_TRUE(e.flags & DBFLAG_HISTORY);
  EXPECT_EQ(e.play_count, 5);
  EXPECT_EQ(e.played, now - 300);
  EXPECT_EQ(e.date_added, now);  // set once

  Click("1135");  // Send
  ASSERT_TRUE(Shown());
  e = Record(path);
  EXPECT_EQ(e.kiv_id, 0u);
  EXPECT_EQ(e.reported, 0);
  EXPECT_FALSE(e.flags & DBFLAG_REPORTED);

  Click("1137");  // Delete
  ASSERT_TRUE(Shown());
  EXPECT_TRUE(Record(path).flags & DBFLAG_DELETED);
  EXPECT_EQ(TransmitRequests(), 4);
}

TEST_F(TesterTest, SendAllAsksFirstAndResendsEveryRecord) {
  const std::string a = AddRecord("a.mp3", 1);
  const std::string b = AddRecord("b.mp3", 2);
  Open();
  {
    AnsweringBox no(IDNO);
    Click("1138");
    ASSERT_EQ(no.texts,
              std::vector<std::string>{"Are you sure you want to make all entries to be resent?"});
  }
  tester_->SelectPath(QString::fromStdString(a));
  ASSERT_TRUE(Shown());
  EXPECT_EQ(Record(b).kiv_id, 2u);
  AnsweringBox yes(IDYES);
  Click("1138");
  ASSERT_TRUE(Shown());
  EXPECT_EQ(Record(a).kiv_id, 0u);
  EXPECT_EQ(Record(b).kiv_id, 0u);
  EXPECT_EQ(TransmitRequests(), 1);
}

TEST_F(TesterTest, SendAllOnAnEmptyDatabaseStillRequestsTheTransmitAgent) {
  Open();
  AnsweringBox yes(IDYES);
  Click("1138");
  int requests = 0;
  ASSERT_TRUE(PumpUntil([&] { return (requests += TransmitRequests()) > 0; }));
}

TEST_F(TesterTest, VersionCheckAllowsTheUpdateAndRequestsTheChecker) {
  Open();
  Click("1142");
  bool requested = false;
  ASSERT_TRUE(PumpUntil([&] {
    for (const Message& m : TakeMessages())
      requested |= m.id == WM_AGENT_REQUEST && m.wParam == ID_AGENT_UPDATER;
    return requested;
  }));
  DWORD allow = 0;
  EXPECT_TRUE(AppSettings().ReadDword(kSubKeySettings, "UpdateAllow", allow));
  EXPECT_EQ(allow, 3u);
}

TEST_F(TesterTest, TheTreeOpensAtTheFirstChosenFolderAndTheSummaryCounts) {
  const std::string folder = env_.Path("music");
  std::filesystem::create_directories(folder);
  AddRecord("a.mp3", 0);
  ASSERT_TRUE(SaveSearchPaths({{folder, 1}, {env_.Path("zzz"), 1}}));
  Open();
  QSignalSpy summary(tester_.get(), &CKivClientTester::summaryShown);
  ASSERT_TRUE(PumpUntil([&] { return summary.count() > 0; }));
  EXPECT_TRUE(Control<QPlainTextEdit>(tester_.get(), "1128")
                  ->toPlainText()
                  .startsWith("Entries: 1   Free: 0\nSupported Extensions:\n"));
  EXPECT_EQ(Control<QLineEdit>(tester_.get(), "1133")->text().toStdString(), folder);
}

TEST(RecordTextTest, TimesShowZeroOrLocalTimeOrNothing) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_EQ(StoredTimeText(0), "0");
  EXPECT_EQ(StoredTimeText(1700000000), "2023-11-14T22:13:20Z");
  EXPECT_EQ(StoredTimeText(INT64_MAX), "");
}

}  // namespace
}  // namespace ui_test
