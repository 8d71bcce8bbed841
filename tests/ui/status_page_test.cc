#include "ui/status_page.h"

#include <QLabel>
#include <QScrollBar>
#include <QTextBlock>

#include "app/search_paths.h"
#include "tests/ui/ui_fixture.h"

namespace ui_test {
namespace {

class StatusPageTest : public UiTest {
 protected:
  StatusPageTest() {
    page_.SetJobListener([this](const std::string& text) { descriptions_.push_back(text); });
    page_.resize(500, 400);
  }
  void Send(UINT id, long long job, LPARAM value = 0, std::string text = {}) {
    Message m{id, static_cast<WPARAM>(job), value, std::move(text)};
    page_.OnStatusMessage(m);
  }
  QString Text(const char* id) { return Control<QLabel>(&page_, id)->text(); }

  CStatusPage page_;
  std::vector<std::string> descriptions_;
};

TEST_F(StatusPageTest, TheAreaFollowsTheJobThatReportedLastWithItsRememberedProgress) {
  EXPECT_EQ(Text("1097"), "Idle");
  Send(WM_STATUS_PROGRESS_RANGE, 2, 100);
  Send(WM_STATUS_PROGRESS_POS, 2, 40);
  Send(WM_STATUS_PROGRESS_RANGE, 5, 10);
  Send(WM_STATUS_PROGRESS_POS, 5, 3);
  Send(WM_STATUS_PROGRESS_TEXT, 5, 0, "Sent: a.mp3");
  EXPECT_EQ(Text("1097"), "Sending song information to your KIV...");
  EXPECT_EQ(Text("1098"), "Sent: a.mp3");
  EXPECT_EQ(page_.range_high(), 10);
  EXPECT_EQ(page_.position(), 3);

  // The indexer reports again: its own range and position come back.
  Send(WM_STATUS_PROGRESS_RANGE, 2, 100);
  EXPECT_EQ(Text("1097"), "Indexing...");
  EXPECT_EQ(page_.range_low(), 1);
  EXPECT_EQ(page_.range_high(), 100);
  EXPECT_EQ(page_.position(), 40);
  Send(WM_STATUS_PROGRESS_POS, 5, 4);
  EXPECT_EQ(page_.range_high(), 10);
  EXPECT_EQ(page_.position(), 4);

  // A position for a job that never sent a range: the range 1..0.
  Send(WM_STATUS_PROGRESS_POS, 4, 7);
  EXPECT_EQ(Text("1097"), "Identifying Tracks...");
  EXPECT_EQ(page_.range_low(), 1);
  EXPECT_EQ(page_.range_high(), 0);

  // The description is rewritten (and handed to the tray) only on a change.
  EXPECT_EQ(descriptions_,
            (std::vector<std::string>{"Indexing...", "Sending song information to your KIV...",
                                      "Indexing...", "Sending song information to your KIV...",
                                      "Identifying Tracks..."}));
}

TEST_F(StatusPageTest, DoneShowsIdleAndAnEmptyBarWhateverJobFinished) {
  Send(WM_STATUS_PROGRESS_RANGE, 9, 500);
  Send(WM_STATUS_PROGRESS_POS, 9, 250);
  Send(WM_STATUS_PROGRESS_TEXT, 9, 0, "250 KB of 500 KB");
  Send(WM_STATUS_DONE, 3);
  EXPECT_EQ(Text("1097"), "Idle");
  EXPECT_EQ(Text("1098"), "");
  EXPECT_EQ(page_.range_low(), 1);
  EXPECT_EQ(page_.range_high(), 100);
  EXPECT_EQ(page_.position(), 0);
}

TEST_F(StatusPageTest, CountsShowTheTracksOfTheChosenFoldersAndThoseWithAKivId) {
  ASSERT_TRUE(SaveSearchPaths({{env_.Path("chosen"), 1}, {env_.Path("off"), 0}}));
  KivDB db;
  auto add = [&](const std::string& relative, std::uint64_t kiv_id, DWORD flags = 0) {
    DBEntry entry = MakeFreshEntry(KivDB::StoredNow());
    ASSERT_TRUE(SetEntryPath(entry, env_.Path(relative)));
    entry.file_size = kDbMinFileSize;
    entry.kiv_id = kiv_id;
    entry.flags |= flags;
    ASSERT_TRUE(db.AddEntry(&entry));
  };
  for (int i = 0; i < 3; ++i) add("chosen/song" + std::to_string(i) + ".mp3", i == 1 ? 77 : 0);
  // A removed folder's track, a disabled folder's, and one marked gone.
  add("removed/song.mp3", 78);
  add("off/song.mp3", 79);
  add("chosen/gone.mp3", 80, DBFLAG_NOTINPATH);
  Send(WM_STATUS_COUNTS, 0);
  // Counting waits until half a second after the last count.
  EXPECT_TRUE(PumpUntil([&] { return Text("1103") == "3"; }));
  EXPECT_EQ(Text("1105"), "1");
  EXPECT_TRUE(Text("StateLine").startsWith("Identification: off"));
  EXPECT_TRUE(Text("StateLine").contains("Last update check: no check yet"));
}

std::string Line(int i) { return "Added file: /music/track" + std::to_string(1000 + i) + ".mp3"; }

TEST_F(StatusPageTest, EventsAtTheLimitLoseTheOldestLinesAndTheReaderFollowsTheEnd) {
  CEventBox* box = page_.events();
  box->SetTextLimit(4096);
  page_.show();
  const int line_length = static_cast<int>(Line(0).size()) + 2;
  for (int i = 0; i < 200; ++i) Send(WM_STATUS_EVENT, -1, 0, Line(i));
  EXPECT_LE(box->TextLength(), 4096 - CEventBox::kLimitMargin + line_length);
  const QString text = box->toPlainText();
  EXPECT_FALSE(text.contains(QString::fromStdString(Line(0))));
  EXPECT_TRUE(text.startsWith(QString::fromStdString(Line(200 - box->blockCount() + 1))));
  EXPECT_TRUE(text.endsWith(QString::fromStdString(Line(199)) + "\n"));
  EXPECT_EQ(box->verticalScrollBar()->value(), box->verticalScrollBar()->maximum());
  EXPECT_TRUE(box->Following());
}

TEST_F(StatusPageTest, AReaderWhoScrolledUpKeepsTheViewAndSelectionWhileLinesArrive) {
  CEventBox* box = page_.events();
  box->SetTextLimit(4096);
  page_.show();
  for (int i = 0; i < 60; ++i) Send(WM_STATUS_EVENT, -1, 0, Line(i));
  QScrollBar* bar = box->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 40);
  bar->setValue(40);
  QTextCursor selection = box->textCursor();
  selection.setPosition(box->document()->findBlockByNumber(50).position());
  selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  box->setTextCursor(selection);
  const QString selected = box->textCursor().selectedText();
  // (The selection may have scrolled the view a little to be seen.)
  const QString first_visible = box->document()->findBlockByNumber(bar->value()).text();

  // Lines arrive, and old ones are dropped from above the view.
  for (int i = 60; i < 110; ++i) Send(WM_STATUS_EVENT, -1, 0, Line(i));
  EXPECT_EQ(box->textCursor().selectedText(), selected);
  EXPECT_LT(bar->value(), bar->maximum());
  EXPECT_EQ(box->document()->findBlockByNumber(bar->value()).text(), first_visible);
  EXPECT_FALSE(box->Following());
}

TEST_F(StatusPageTest, AnEventWithLineBreaksBecomesSeveralLines) {
  Send(WM_STATUS_EVENT, -1, 0, "\r\nYour music is now being indexed.\r\nIt takes a while.\r\n");
  EXPECT_EQ(page_.events()->toPlainText(),
            "\nYour music is now being indexed.\nIt takes a while.\n\n");
  EXPECT_EQ(page_.events()->TextLength(), 55 + 2);
}

}  // namespace
}  // namespace ui_test
