// The whole road from the two pages, in one process: the real window and
// controller with the program's agents, against the development server. A
// user signs in on the account page, picks a music folder on the folders
// page with the folder picker and presses Search All Now; the tracks reach
// the server.
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/agent_registry.h"
#include "app/log.h"
#include "app/reg_settings.h"
#include "media/tag_reader.h"
#include "musicid/agent_musicid.h"
#include "scan/agent_indexer.h"
#include "scan/agent_itunes.h"
#include "server/connection_monitor.h"
#include "server/connectivity.h"
#include "server/server_agents.h"
#include "shell/kiv_client_dlg.h"
#include "tests/support/media_cache.h"
#include "tests/ui/ui_fixture.h"
#include "tools/kiv_devserver_process.h"
#include "ui/main_window.h"

namespace ui_test {
namespace {

using kiv_devserver::DevServer;
using testing_support::ReadFile;

constexpr const char* kUser = "demo@example.org";
constexpr const char* kPassword = "demo-typed-secret";
constexpr int kTracks = 3;

std::string Title(int i) { return "Page Road Song " + std::to_string(i); }

class PagesRoadTest : public ::testing::Test {
 protected:
  PagesRoadTest() {
    AppSettings().SetCompanyName("KIV");
    AppSettings().SetApplicationName("Windows Client");
    AppLog().SetLogFile(env_.Path("kivclient.log"));
    AppLog().SetLogLevel(LEVEL_VERBOSE);
    ResetServerState();
    EXPECT_TRUE(KivDB::Initialise(platform::SystemClock()));
  }
  ~PagesRoadTest() override {
    if (dlg_) dlg_->DestroyWindow();
    loop_.SetHandler(nullptr);
    dlg_.reset();
    window_.reset();
    KivDB::Shutdown();
    ResetServerState();
  }

  bool PumpUntil(const std::function<bool()>& done, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(2);
    }
    return true;
  }
  bool Reached() {
    bool stopped = false;
    std::set<int> described;
    for (const DevServer::Call& call : server_->Calls()) {
      if (call.method == "IndexBatch" && !call.answer.empty())
        for (int i = 0; i < kTracks; ++i)
          if (call.flat.find(Title(i)) != std::string::npos) described.insert(i);
      if (call.method == "IndexStop" && !call.answer.empty())
        stopped = static_cast<int>(described.size()) == kTracks;
    }
    return stopped;
  }

  testing_support::TempEnv env_;
  MessageLoop loop_;
  AgentJobRegistry jobs_;
  std::unique_ptr<DevServer> server_;
  std::unique_ptr<CKivClientWindow> window_;
  std::unique_ptr<CKivClientDlg> dlg_;
};

TEST_F(PagesRoadTest, SignInAddAFolderAndSearchSendsTheTracks) {
  server_ = std::make_unique<DevServer>(env_.Path("server"));
  ASSERT_TRUE(server_->ok());
  server_->SetConfig(std::string("{\"accounts\": [{\"username\": \"") + kUser +
                     "\", \"password\": \"" + kPassword +
                     "\", \"client_password\": \"demo-client-password\", \"user_id\": \"5150\", "
                     "\"token\": \"Web-Session-7f3a\"}]}");
  ASSERT_TRUE(AppSettings().WriteStringUtf8(kSubKeySettings, "ServerUrl", server_->Url()));
  const std::string music = env_.Path("music");
  std::filesystem::create_directories(music);
  for (int i = 0; i < kTracks; ++i) {
    test_media::MediaPlan plan = media_cache::TaggedPlan("mp3");
    plan.seconds = test_media::SecondsForSize(plan, 150000);
    plan.tags.title = Title(i);
    const std::string source = media_cache::CachedMedia(plan);
    ASSERT_FALSE(source.empty());
    std::filesystem::copy_file(source, music + "/" + std::to_string(i) + ".mp3");
  }

  CTagReaderRef tag_reader;
  RegisterServerAgents(jobs_);
  RegisterIndexerAgent(jobs_);
  RegisterITunesAgent(jobs_);
  AgentMusicIDOptions music_id;
  music_id.is_online = [] { return IsOnline(0) > 0; };
  RegisterMusicIdAgent(jobs_, music_id);
  AnsweringBox box(IDOK);
  window_ = std::make_unique<CKivClientWindow>(loop_);
  CKivClientDlg::Options options;
  options.jobs = &jobs_;
  options.idle_priority = false;
  dlg_ = std::make_unique<CKivClientDlg>(loop_, *window_, options);
  loop_.SetHandler([this](Message& m) { dlg_->OnMessage(m); });
  dlg_->OnInitDialog();
  window_->ShowPage(MainWindowPage::kLoginInfo, ID_CMD_SHOW_LOGIN);

  // The first check finds no credentials: the page offers registration.
  CAccountPage* account = window_->tab()->account_page();
  ASSERT_TRUE(PumpUntil([&] { return Control<QWidget>(account, "1139")->isVisible(); }, 30));
  QTest::keyClicks(Control<QLineEdit>(account, "1003"), QString::fromLatin1(kUser));
  QTest::keyClicks(Control<QLineEdit>(account, "1005"), QString::fromLatin1(kPassword));
  QTest::mouseClick(Control<QPushButton>(account, "1107"), Qt::LeftButton);
  QLabel* login = Control<QLabel>(account, "1116");
  ASSERT_TRUE(
      PumpUntil([&] { return login->isVisible() && login->text() == "Login accepted"; }, 60))
      << ReadFile(env_.Path("kivclient.log"));
  EXPECT_EQ(Control<QLabel>(account, "1117")->text(), "You are currently connected to KIV.");

  // The folders page: the real folder picker, answered as a user would.
  window_->ShowPage(MainWindowPage::kMusicFolders, ID_CMD_SHOW_FOLDERS);
  CFoldersPage* folders = window_->tab()->folders_page();
  QString picker_title;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    answer.stop();
    picker_title = dialog->windowTitle();
    dialog->setDirectory(QString::fromStdString(music));
    static_cast<QDialog*>(dialog)->accept();
  });
  answer.start(50);
  QTest::mouseClick(Control<QPushButton>(folders, "1093"), Qt::LeftButton);
  EXPECT_EQ(picker_title, "Select a search directory");
  ASSERT_EQ(folders->list()->count(), 1);
  EXPECT_EQ(folders->list()->item(0)->text().toStdString(), music);

  QTest::mouseClick(Control<QPushButton>(folders, "1102"), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return Reached(); }, 120)) << ReadFile(env_.Path("kivclient.log"));
  EXPECT_EQ(ReadFile(env_.Path("kivclient.log")).find(kPassword), std::string::npos);
}

}  // namespace
}  // namespace ui_test
