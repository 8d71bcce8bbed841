#include "shell/kiv_client_app.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/log.h"
#include "app/reg_settings.h"
#include "platform/folders.h"
#include "tests/app/agent_test_support.h"
#include "tests/support/temp_env.h"

namespace {

using agent_test::RecordingView;
using testing_support::ReadFile;
using testing_support::TempEnv;

TEST(CommandLineTest, SlashShowIsTheShowOptionWhereverItStands) {
  EXPECT_TRUE(ParseCommandLine({"/show"}).show);
  EXPECT_TRUE(ParseCommandLine({"/SHOW"}).show);
  EXPECT_EQ(ParseCommandLine({"/show", "now"}).error, "unknown option now");
  EXPECT_FALSE(ParseCommandLine({"/show "}).error.empty());
  EXPECT_FALSE(ParseCommandLine({}).show);
  // Only combinations that mean something start.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--show", "--headless"}, {"--headless", "/show"}, {"/Show", "--autostart"}})
    EXPECT_FALSE(ParseCommandLine(args).error.empty()) << args[0] << " " << args[1];
  const CommandLineOptions quiet = ParseCommandLine({"--autostart", "--headless"});
  EXPECT_TRUE(quiet.error.empty());
  EXPECT_TRUE(quiet.autostart && quiet.headless);
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
  EXPECT_TRUE(ParseCommandLine({"--version"}).version);
  EXPECT_EQ(ParseCommandLine({"--frobnicate"}).unknown, std::vector<std::string>{"--frobnicate"});
}

TEST(LogPathTest, FolderFileNameAndDefaultRules) {
  TempEnv env;
  const std::string data = env.DataHome() + "/kiv";
  std::filesystem::create_directories(data + "/logs");
  const std::string dir = env.Path("home");
  EXPECT_EQ(ResolveLogPath("", data), data + "/kivclient.log");
  EXPECT_EQ(ResolveLogPath(dir, data), dir + "/kivclient.log");
  EXPECT_EQ(ResolveLogPath(dir + "/", data), dir + "/kivclient.log");
  EXPECT_EQ(ResolveLogPath(dir + "/my.log", data), dir + "/my.log");
  EXPECT_EQ(ResolveLogPath(env.Path("missing/my.log"), data), env.Path("missing/my.log"));
  EXPECT_EQ(ResolveLogPath("client.log", data), data + "/client.log");
  EXPECT_EQ(ResolveLogPath("logs", data), data + "/logs/kivclient.log");
}

TEST(KivClientAppTest, StartAndShutdownWriteBannersAndDefaultsInOrder) {
  TempEnv env;
  CKivClientApp app({"--headless"});
  app.loop().PostMessage(WM_COMMAND, ID_CMD_SHOW_ACTIVITY);
  app.loop().PostMessage(WM_COMMAND, ID_CMD_SHUTDOWN);
  app.loop().PostMessage(WM_APP, 0, 0, "left in the queue after the shutdown command");
  EXPECT_EQ(app.Main(), 0);

  const std::string data = platform::DataDir();
  struct stat st {};
  ASSERT_EQ(::stat(data.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  const std::string log = ReadFile(data + "/kivclient.log");
  const char* expected[] = {
      "CRITICAL \tAPPLICATION   \t********************************************\r\n",
      "CRITICAL \tAPPLICATION   \t******** KIVClient 1.0.3.105 Started ********\r\n",
      "INFO     \tAPPLICATION   \tApplication Startup Completed, entering background mode\r\n",
      "Received command 1624",
      "INFO     \tAPPLICATION   \tApplication Shutdown Completed, cleaning up\r\n",
      "CRITICAL \tAPPLICATION   \t******** KIVClient 1.0.3.105 Stopped ********\r\n",
      "CRITICAL \tAPPLICATION   \t********************************************\r\n"};
  std::size_t at = 0;
  for (const char* text : expected) {
    std::size_t found = log.find(text, at);
    ASSERT_NE(found, std::string::npos) << text << "\nin:\n" << log;
    at = found + 1;
  }
  const std::string last = "\t********************************************\r\n";
  EXPECT_EQ(log.substr(log.size() - last.size()), last);

  DWORD level = 0, mask = 0;
  EXPECT_TRUE(AppSettings().ReadDword(kSubKeySettings, "LogLevel", level));
  EXPECT_TRUE(AppSettings().ReadDword(kSubKeySettings, "LogModule", mask));
  EXPECT_EQ(level, 5u);
  EXPECT_EQ(mask, 0xFFFFFFFFu);
}

TEST(KivClientAppTest, StoredLevelAndMaskAreUsedAndKept) {
  TempEnv env;
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  ASSERT_TRUE(AppSettings().WriteDword(kSubKeySettings, "LogLevel", LEVEL_CRITICAL));
  ASSERT_TRUE(AppSettings().WriteDword(kSubKeySettings, "LogModule", MODULE_REGISTRY));
  CKivClientApp app({});
  app.loop().PostMessage(WM_CLOSE);
  EXPECT_EQ(app.Main(), 0);
  const std::string log = ReadFile(platform::DataDir() + "/kivclient.log");
  // Level 1 and mask 512: the CRITICAL banners pass (APPLICATION is 0x600),
  // the INFO lines do not.
  EXPECT_EQ(log.find("INFO"), std::string::npos);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4);
  DWORD level = 0, mask = 0;
  AppSettings().ReadDword(kSubKeySettings, "LogLevel", level);
  AppSettings().ReadDword(kSubKeySettings, "LogModule", mask);
  EXPECT_EQ(level, LEVEL_CRITICAL);
  EXPECT_EQ(mask, MODULE_REGISTRY);
}

// The view main hands in; the application owns it, so it reports to a
// recorder the test keeps.
class ProxyView : public MainWindowView {
 public:
  explicit ProxyView(RecordingView& to) : to_(to) {}
  void ShowWindow(bool show) override { to_.ShowWindow(show); }
  void ShowPage(MainWindowPage page, WPARAM command) override { to_.ShowPage(page, command); }
  void ShowAbout() override { to_.ShowAbout(); }
  void LaunchMyKiv() override { to_.LaunchMyKiv(); }
  void OpenDatabaseTester() override { to_.OpenDatabaseTester(); }
  void SetAgentsButtonText(const std::string& text) override { to_.SetAgentsButtonText(text); }
  void SetTrayTooltip(const std::string& text) override { to_.SetTrayTooltip(text); }
  void ShowBalloon(const std::string& text, bool count) override { to_.ShowBalloon(text, count); }
  void OnTrayNotification(WPARAM icon, LPARAM mouse) override {
    to_.OnTrayNotification(icon, mouse);
  }
  void RemoveTrayIcon() override { to_.RemoveTrayIcon(); }
  void ForwardToPages(Message& message) override { to_.ForwardToPages(message); }

 private:
  RecordingView& to_;
};

TEST(KivClientAppTest, TheMainWindowIsTheViewMainHandsIn) {
  TempEnv env;
  RecordingView view;
  int made = 0;
  CKivClientApp app({"/show"}, [&](MessageLoop&, const CommandLineOptions& options) {
    ++made;
    EXPECT_TRUE(options.show);
    return std::make_unique<ProxyView>(view);
  });
  app.loop().PostMessage(WM_COMMAND, ID_CMD_SHOW_ACTIVITY);
  app.loop().PostMessage(WM_COMMAND, ID_CMD_SHUTDOWN);
  EXPECT_EQ(app.Main(), 0);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(view.shown, std::vector<bool>{true});
  EXPECT_EQ(view.pages, std::vector<MainWindowPage>{MainWindowPage::kActivityMonitor});
  EXPECT_TRUE(view.tray_removed);
}

}  // namespace
