// The main window's side of the controller: initialisation, commands,
// sleep and resume, and the headless view.
#include "shell/kiv_client_dlg.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "app/message_box.h"
#include "shell/headless_main_window.h"
#include "tests/shell/agent_controller_fixture.h"

namespace {

using agent_test::PumpUntil;
using agent_test::RegisterGatedJob;

class KivClientDlgTest : public agent_test::ControllerTest {};

TEST_F(KivClientDlgTest, InitialisationRequestsDependOnCredentials) {
  dlg_->OnInitDialog();
  Drain();
  EXPECT_EQ(view_.events, std::vector<std::string>{"Vornic ready"});
  EXPECT_TRUE(dlg_->IsAgentRunning(AGENT_CONNECTIONMON));  // no job: idles
  EXPECT_TRUE(loop_.HasTimer(ID_AGENT_UPDATER));
  EXPECT_FALSE(loop_.HasTimer(ID_AGENT_PLAYMON));
  EXPECT_FALSE(loop_.HasTimer(ID_AGENT_INDEXER));
  EXPECT_FALSE(loop_.HasTimer(ID_AGENT_FOLDERMON));
  EXPECT_EQ(loop_.MsUntilNextTimer(), 10000);
  dlg_->DestroyWindow();

  SetCredentials();
  CKivClientDlg::Options options;
  options.jobs = &jobs_;
  options.clock = &clock_;
  dlg_ = std::make_unique<CKivClientDlg>(loop_, view_, options);
  dlg_->OnInitDialog();
  Drain();
  EXPECT_TRUE(loop_.HasTimer(ID_AGENT_PLAYMON));
  EXPECT_TRUE(loop_.HasTimer(ID_AGENT_INDEXER));
  EXPECT_TRUE(loop_.HasTimer(ID_AGENT_FOLDERMON));
  Advance(10000);
  EXPECT_TRUE(dlg_->IsAgentRunning(AGENT_PLAYMON));
  EXPECT_TRUE(dlg_->IsAgentRunning(AGENT_INDEXER));
  EXPECT_TRUE(dlg_->IsAgentRunning(AGENT_UPDATER));
}

TEST_F(KivClientDlgTest, SleepDisablesAndResumeEnablesWhoeverDisabled) {
  RegisterGatedJob(jobs_, board_, AGENT_PLAYMON);
  Request(AGENT_PLAYMON);
  ASSERT_TRUE(UntilStarted(AGENT_PLAYMON, 1));
  Post(WM_POWERBROADCAST, PBT_APMSUSPEND);
  Drain();
  EXPECT_TRUE(dlg_->disabled());
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_PLAYMON));
  Post(WM_POWERBROADCAST, PBT_APMQUERYSUSPEND);  // already disabled: nothing new
  Post(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
  Drain();
  EXPECT_FALSE(dlg_->disabled());
  EXPECT_EQ(view_.events, (std::vector<std::string>{"Vornic Disabled for system sleep",
                                                    "Vornic Enabled after system resume"}));

  // Disabled by the user: sleep leaves it be, resume enables anyway.
  Post(WM_COMMAND, ID_CMD_AGENTS_TOGGLE);
  Post(WM_POWERBROADCAST, PBT_APMSUSPEND);
  Post(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND);
  Post(WM_POWERBROADCAST, 99);  // unknown events are ignored
  Drain();
  EXPECT_FALSE(dlg_->disabled());
  EXPECT_EQ(view_.events,
            (std::vector<std::string>{
                "Vornic Disabled for system sleep", "Vornic Enabled after system resume",
                "Vornic Disabled by user", "Vornic Enabled after system resume"}));
}

TEST_F(KivClientDlgTest, CommandsReachTheWindow) {
  Post(WM_COMMAND, ID_CMD_SHOW_ACTIVITY);
  Post(WM_COMMAND, ID_CMD_SHOW_STATUS);
  Post(WM_COMMAND, ID_CMD_SHOW_LOGIN);
  Post(WM_COMMAND, ID_CMD_SHOW_FOLDERS);
  Post(WM_COMMAND, ID_CMD_ABOUT);
  Post(WM_SYSCOMMAND, 16);
  Post(WM_SYSCOMMAND, SC_MINIMIZE + 2);
  Post(WM_OPEN_DB_TESTER);
  Post(WM_TRAY_NOTIFY, 1690, 0x203);  // a double-click is the tray's business
  Drain();
  using P = MainWindowPage;
  EXPECT_EQ(view_.pages, (std::vector<P>{P::kActivityMonitor, P::kActivityMonitor, P::kLoginInfo,
                                         P::kMusicFolders}));
  EXPECT_EQ(view_.about, 2);
  EXPECT_EQ(view_.shown, std::vector<bool>{false});
  EXPECT_EQ(view_.tester, 1);
  EXPECT_FALSE(loop_.QuitRequested());

  // Accepting an update writes UpdateAllow and runs the updater now.
  Post(WM_UPDATE_ACCEPTED);
  Drain();
  DWORD allow = 0;
  EXPECT_TRUE(AppSettings().ReadDword(kSubKeySettings, "UpdateAllow", allow));
  EXPECT_EQ(allow, 1u);
  EXPECT_TRUE(dlg_->IsAgentRunning(AGENT_UPDATER));

  // The tray's close request shuts down like WM_CLOSE.
  Post(WM_TRAY_NOTIFY, 1690, 0);
  Drain();
  EXPECT_TRUE(loop_.QuitRequested());
  EXPECT_TRUE(dlg_->shutting_down());
  EXPECT_FALSE(dlg_->IsAgentRunning(AGENT_UPDATER));
}

class AnsweringBox : public MessageBoxHost {
 public:
  explicit AnsweringBox(int answer) : answer_(answer) {}
  int Show(const std::string& text, UINT) override {
    asked.push_back(text);
    return answer_;
  }
  std::vector<std::string> asked;

 private:
  int answer_;
};

TEST_F(KivClientDlgTest, HideAsksForCredentialsAndShowsTheBackgroundNoticeOnce) {
  AnsweringBox yes(IDYES);
  SetMessageBoxHost(&yes);
  Post(WM_COMMAND, ID_CMD_HIDE);
  Drain();
  ASSERT_EQ(yes.asked.size(), 1u);
  EXPECT_EQ(yes.asked[0].rfind("Until you enter a valid KIV username and password", 0), 0u);
  EXPECT_TRUE(view_.shown.empty());  // Yes keeps the window open

  AnsweringBox no(IDNO);
  SetMessageBoxHost(&no);
  AppSettings().WriteDword(kSubKeySettings, "Notified", 1);
  Post(WM_COMMAND, ID_CMD_HIDE);
  Drain();
  EXPECT_EQ(view_.shown, std::vector<bool>{false});
  ASSERT_EQ(view_.balloons.size(), 1u);
  EXPECT_EQ(view_.balloons[0].rfind("Vornic will run in the background from here.", 0), 0u);
  DWORD notified = 0;
  AppSettings().ReadDword(kSubKeySettings, "Notified", notified);
  EXPECT_EQ(notified, 3u);

  // With credentials nobody is asked, and the notice is not shown again.
  SetCredentials();
  Post(WM_COMMAND, ID_CMD_HIDE);
  Drain();
  SetMessageBoxHost(nullptr);
  EXPECT_EQ(no.asked.size(), 1u);
  EXPECT_EQ(view_.shown.size(), 2u);
  EXPECT_EQ(view_.balloons.size(), 1u);
}

TEST(HeadlessMainWindowTest, StatusEventsGoToTheLogAndTheOutput) {
  testing_support::TempEnv env;
  AppLog().SetLogFile(env.Path("kivclient.log"));
  AppLog().SetLogLevel(LEVEL_VERBOSE);
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  HeadlessMainWindow view(out);
  Message event{WM_STATUS_EVENT, static_cast<WPARAM>(-1), 0, "Vornic ready"};
  Message progress{WM_STATUS_PROGRESS_POS, 2, 17, {}};
  view.ForwardToPages(event);
  view.ForwardToPages(progress);
  view.ShowBalloon("A new version of Vornic is available.\r\nClick for details.");
  view.ShowPage(MainWindowPage::kActivityMonitor, ID_CMD_SHOW_ACTIVITY);
  view.ShowWindow(true);
  std::rewind(out);
  char buf[512] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, out);
  std::fclose(out);
  EXPECT_EQ(std::string(buf, n),
            "Vornic ready\nA new version of Vornic is available. Click for details.\n");
  const std::string log = testing_support::ReadFile(env.Path("kivclient.log"));
  EXPECT_NE(log.find("\tVornic ready\r\n"), std::string::npos);
  EXPECT_NE(log.find("Received command 1624: no main window to show the \"Activity Monitor\" page"),
            std::string::npos);
  EXPECT_NE(log.find("/show: no display"), std::string::npos);
}

}  // namespace
