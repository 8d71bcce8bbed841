#include "ui/main_window.h"

#include <QPushButton>
#include <QTest>

#include <QLabel>
#include <QListWidget>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/agent.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "shell/kiv_client_dlg.h"
#include "tests/ui/ui_fixture.h"

namespace ui_test {
namespace {

// The real controller with no agent jobs, driving the real window through
// its loop, as the program does.
class MainWindowTest : public UiTest {
 protected:
  MainWindowTest() : window_(loop_, nullptr, clock_) {
    CKivClientDlg::Options options;
    options.jobs = &jobs_;
    options.clock = &clock_;
    dlg_ = std::make_unique<CKivClientDlg>(loop_, window_, options);
    loop_.SetHandler([this](Message& m) { dlg_->OnMessage(m); });
  }
  ~MainWindowTest() override {
    dlg_->DestroyWindow();
    loop_.SetHandler(nullptr);
    dlg_.reset();
  }
  void Click(const char* id) { Control<QPushButton>(&window_, id)->click(); }
  bool Drain() {
    return PumpUntil([&] { return loop_.PendingCount() == 0; });
  }
  bool Shown() { return window_.isVisible() && !window_.isMinimized(); }
  DWORD Notified() {
    DWORD value = 0;
    AppSettings().ReadDword(kSubKeySettings, "Notified", value);
    return value;
  }

  AgentJobRegistry jobs_;
  CKivClientWindow window_;
  std::unique_ptr<CKivClientDlg> dlg_;
};

TEST_F(MainWindowTest, TheFaceHasItsTitleControlsAndPagesInOrder) {
  EXPECT_EQ(window_.windowTitle(), "Vornic");
  EXPECT_EQ(Control<QPushButton>(&window_, "1")->text(), "Hide");
  EXPECT_TRUE(Control<QPushButton>(&window_, "1")->isDefault());
  EXPECT_EQ(Control<QPushButton>(&window_, "1144")->text(), "Launch My KIV");
  EXPECT_EQ(Control<QPushButton>(&window_, "1137")->text(), "Disable");
  EXPECT_EQ(Control<QLabel>(&window_, "1143")->text(), "Version 1.0.3.105");
  QTabWidget* tab = window_.tab();
  ASSERT_EQ(tab->count(), 3);
  EXPECT_EQ(tab->tabText(0), "Login Info");
  EXPECT_EQ(tab->tabText(1), "Music Folders");
  EXPECT_EQ(tab->tabText(2), "Activity Monitor");
  EXPECT_EQ(window_.tab()->FindPage(170), 2);
}

TEST_F(MainWindowTest, CommandsShowTheWindowOnTheirPage) {
  const std::pair<WPARAM, int> cases[] = {{ID_CMD_SHOW_LOGIN, 0},
                                          {ID_CMD_SHOW_FOLDERS, 1},
                                          {ID_CMD_SHOW_STATUS, 2},
                                          {ID_CMD_SHOW_LOGIN, 0},
                                          {ID_CMD_SHOW_ACTIVITY, 2}};  // a second start
  for (const auto& [command, page] : cases) {
    window_.hide();
    loop_.PostMessage(WM_COMMAND, command, 0);
    ASSERT_TRUE(Drain());
    EXPECT_TRUE(Shown()) << command;
    EXPECT_EQ(window_.tab()->currentIndex(), page) << command;
  }
}

TEST_F(MainWindowTest, HideWithoutCredentialsAsksAndYesKeepsTheWindowOpen) {
  window_.ShowWindow(true);
  AnsweringBox yes(IDYES);
  Click("1");
  ASSERT_TRUE(Drain());
  ASSERT_EQ(yes.texts.size(), 1u);
  EXPECT_EQ(yes.texts[0].rfind("Until you enter a valid KIV username and password", 0), 0u);
  EXPECT_TRUE(Shown());
  EXPECT_EQ(Notified() & 2, 0u);
}

TEST_F(MainWindowTest, HideWithCredentialsLeavesTheNoticeOnceAndSetsItsBit) {
  SetCredentials();
  window_.ShowWindow(true);
  AnsweringBox no(IDNO);
  Click("1");
  ASSERT_TRUE(Drain());
  EXPECT_TRUE(no.texts.empty());
  // Without a notification area (as here) the window stays reachable:
  // minimised, not hidden.
  if (CKivClientWindow::TrayAvailable())
    EXPECT_FALSE(window_.isVisible());
  else
    EXPECT_TRUE(window_.isMinimized());
  EXPECT_EQ(Notified() & 2, 2u);
}

TEST_F(MainWindowTest, WithoutATrayAnOfferedUpdateIsTakenOnTheStatusPage) {
  if (CKivClientWindow::TrayAvailable()) GTEST_SKIP() << "a notification area is there";
  window_.ShowBalloon("A new version of Vornic is available.\r\nClick for details.", true);
  CUpdateOffer* offer = window_.tab()->status_page()->update_offer();
  ASSERT_TRUE(offer->isVisibleTo(window_.tab()->status_page()));
  EXPECT_EQ(window_.tray()->pending_balloons(), 0);
  EXPECT_EQ(offer->findChild<QLabel*>()->text(), "A new version of Vornic is available.");
  Click("updateYes");
  ASSERT_TRUE(Drain());
  EXPECT_FALSE(offer->isVisibleTo(window_.tab()->status_page()));
  DWORD allow = 0;
  AppSettings().ReadDword(kSubKeySettings, "UpdateAllow", allow);
  EXPECT_EQ(allow, 1u);
}

TEST_F(MainWindowTest, TheAgentsButtonTogglesItsCaptionAndTheTooltip) {
  Click("1137");
  ASSERT_TRUE(Drain());
  EXPECT_TRUE(dlg_->disabled());
  EXPECT_EQ(Control<QPushButton>(&window_, "1137")->text(), "Enable");
  EXPECT_EQ(window_.tray()->tooltip(), "Vornic\r\nCurrently Disabled");
  Click("1137");
  ASSERT_TRUE(Drain());
  EXPECT_FALSE(dlg_->disabled());
  EXPECT_EQ(Control<QPushButton>(&window_, "1137")->text(), "Disable");
}

TEST_F(MainWindowTest, StatusMessagesReachTheStatusPageThroughTheController) {
  dlg_->OnInitDialog();
  loop_.PostMessage(WM_STATUS_PROGRESS_TEXT, 2, 0, "Updating file: a.mp3");
  ASSERT_TRUE(Drain());
  CStatusPage* page = window_.tab()->status_page();
  EXPECT_EQ(page->current_job(), 2);
  EXPECT_TRUE(page->events()->toPlainText().startsWith("Vornic ready\n"));
  EXPECT_EQ(window_.tray()->tooltip(), "Vornic\r\nIndexing...");
}

TEST_F(MainWindowTest, ControlShiftDOpensTheTesterFromAnyPage) {
  window_.ShowPage(MainWindowPage::kMusicFolders, ID_CMD_SHOW_FOLDERS);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  QTest::keyClick(window_.tab()->currentWidget(), Qt::Key_D,
                  Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(PumpUntil([&] { return window_.tester() && window_.tester()->isVisible(); }));
  EXPECT_EQ(window_.tester()->windowTitle(), "Vornic Tester");
  window_.tester()->close();
}

TEST_F(MainWindowTest, TheAboutBoxShowsVersionTextAndLink) {
  Click("16");
  ASSERT_TRUE(PumpUntil([&] { return window_.about() && window_.about()->isVisible(); }));
  CAboutDlg* about = window_.about();
  EXPECT_EQ(about->windowTitle(), "About Vornic");
  EXPECT_EQ(Control<QLabel>(about, "1057")->text(), "Version 1.0.3.105");
  EXPECT_TRUE(Control<QLabel>(about, "1123")->text().startsWith("http"));
  about->close();
}

// Runs until it is told to stop, counting its stops.
class WaitingJob : public CAgent {
 public:
  explicit WaitingJob(std::atomic<int>* stopped) : stopped_(stopped) {}
  int Run() override {
    while (!CheckQuit()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ++*stopped_;
    return 1;
  }

 private:
  std::atomic<int>* stopped_;
};

TEST_F(MainWindowTest, UncheckingAFolderSavesAndRestartsTheAgentsOverTheNewList) {
  SetCredentials();
  const std::string music = env_.Path("music");
  std::filesystem::create_directories(music);
  ASSERT_TRUE(SaveSearchPaths({{music, 1}}));
  std::atomic<int> stopped{0};
  jobs_.Register(AGENT_PLAYMON,
                 [&](const AgentContext&) { return std::make_unique<WaitingJob>(&stopped); });
  CFoldersPage* page = window_.tab()->folders_page();
  page->Refill();
  ASSERT_TRUE(dlg_->LaunchAgent(AGENT_PLAYMON));

  page->list()->item(0)->setCheckState(Qt::Unchecked);
  ASSERT_TRUE(PumpUntil([&] { return stopped == 1 && loop_.HasTimer(ID_AGENT_CONNECTIONMON); }));
  SearchPathMap stored;
  LoadSearchPaths(stored);
  EXPECT_EQ(stored, (SearchPathMap{{music, 0}}));
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_PLAYMON));
  for (WPARAM id : {ID_AGENT_INDEXER, ID_AGENT_SERVER, ID_AGENT_PLAYMON, ID_AGENT_FOLDERMON,
                    ID_AGENT_CONNECTIONMON, ID_AGENT_UPDATER})
    EXPECT_TRUE(loop_.HasTimer(id)) << id;

  // Search All Now: the indexer at once.
  QTest::mouseClick(Control<QPushButton>(page, "1102"), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return dlg_->IsAgentRunning(AGENT_INDEXER); }));
}

TEST_F(MainWindowTest, EnterAndEscapeOnAPageNeitherPressAButtonNorHideTheWindow) {
  window_.ShowWindow(true);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  for (int page = 0; page < 3; ++page) {
    window_.tab()->setCurrentIndex(page);
    QWidget* focus = window_.tab()->currentWidget();
    if (page == 0) focus = Control<QWidget>(focus, "1003");
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(focus, key);
  }
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_TRUE(Shown());
}

}  // namespace
}  // namespace ui_test
