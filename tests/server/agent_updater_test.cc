// The update checker against the development server, which publishes an
// update.txt and an installer over https with a certificate of the test's
// own authority (plain http where a test says so); the desktop's handler
// is a stand-in xdg-open on PATH that notes what it was given.
#include "server/agent_updater.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/agent_kinds.h"
#include "app/reg_settings.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "server/curl_transfer.h"
#include "server/kiv_protocol.h"
#include "tests/server/server_test_util.h"

namespace server_test {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr const char* kQuestion106 =
    "Version 1.0.3.106 of Vornic is available.\r\n\r\nFaster scans.\r\n\r\nThe installer comes "
    "from 127.0.0.1.\r\n\r\nDo you want to install this update now?";
constexpr const char* kDownloadFailed =
    "Could not successfully download Vornic update!\r\nWill attempt again later.";

// Waits up to five seconds for `done`.
template <typename Fn>
bool WaitFor(Fn done) {
  for (int i = 0; i < 500 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

// Answers every question with a fixed button and remembers the texts.
class AnsweringMessageBox : public MessageBoxHost {
 public:
  explicit AnsweringMessageBox(int answer) : answer_(answer) { SetMessageBoxHost(this); }
  ~AnsweringMessageBox() override { SetMessageBoxHost(nullptr); }
  int Show(const std::string& text, UINT type) override {
    texts.push_back(text);
    return (type & MB_YESNO) ? answer_ : IDOK;
  }
  std::vector<std::string> texts;

 private:
  int answer_;
};

class AgentUpdaterTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    const std::string cert = env_.Path("cert.pem"), key = env_.Path("key.pem");
    ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                           "-nodes -days 1 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 "
                           "-keyout '" +
                           key + "' -out '" + cert + "' >/dev/null 2>&1")
                              .c_str()),
              0);
    tls_ = std::make_unique<DevServer>(
        env_.Path("tls"), std::vector<std::string>{"--tls-cert", cert, "--tls-key", key});
    ASSERT_TRUE(tls_->ok());
    kiv_http::SetTrustedAuthorities(cert);
    SetSetting("UpdateUrl", Https("/update.txt"));
    const std::string bin = env_.Path("bin");
    fs::create_directories(bin);
    Handler(0);
    const char* path = std::getenv("PATH");
    saved_path_ = path ? path : "";
    ::setenv("PATH", (bin + ":" + saved_path_).c_str(), 1);
    context_.main_window = &main_window_.loop();
    context_.clock = &clock_;
  }
  void TearDown() override {
    kiv_http::SetTrustedAuthorities("");
    ::setenv("PATH", saved_path_.c_str(), 1);
    tls_.reset();
    ServerTest::TearDown();
  }

  std::string Https(const std::string& path) {
    return "https://127.0.0.1:" + std::to_string(tls_->port()) + path;
  }
  // The stand-in handler notes the file and ends with `status`.
  void Handler(int status) {
    WriteFile(env_.Path("bin") + "/xdg-open", "#!/bin/sh\necho \"$1\" >> '" + env_.Path("opened") +
                                                  "'\nexit " + std::to_string(status) + "\n");
    fs::permissions(env_.Path("bin") + "/xdg-open", fs::perms::owner_all);
  }
  // Publishes the update on the https server (and the same on the plain
  // one); `url` is the installer address the text names.
  void Publish(const std::string& version, const std::string& more = "",
               const std::string& url = "") {
    const std::string config = ConfigWith(
        "\"update\": {\"version\": \"" + version +
        "\", \"description\": \"Faster scans.\", \"installer\": \"/dl/vornic.deb\", \"url\": \"" +
        (url.empty() ? Https("/dl/vornic.deb") : url) + "\", \"bytes\": 300000}" +
        (more.empty() ? "" : ", " + more));
    tls_->SetConfig(config);
    server_->SetConfig(config);
  }
  void SetAllow(std::int32_t allow) {
    AppSettings().WriteDword(kSubKeySettings, "UpdateAllow", static_cast<DWORD>(allow));
  }
  std::int32_t Allow() {
    DWORD value = 12345;
    AppSettings().ReadDword(kSubKeySettings, "UpdateAllow", value);
    return static_cast<std::int32_t>(value);
  }
  std::string CheckText(std::int64_t seconds_from_now) {
    return TimeText(platform::NowAsStoredTime(clock_.WallTime() + seconds_from_now));
  }
  int Gets(const std::string& path) {
    int n = 0;
    for (DevServer* server : {server_.get(), tls_.get()})
      for (const DevServer::Call& call : server->Calls()) n += call.path == path;
    return n;
  }
  std::string Installer() { return platform::DataDir() + "/update_1.0.3.106.deb"; }
  int Run() {
    AgentUpdater updater(context_);
    return updater.Run();
  }

  std::unique_ptr<DevServer> tls_;
  platform::FakeClock clock_{1800000000};
  PostedMessages main_window_;
  AgentContext context_;
  std::string saved_path_;
};

TEST_F(AgentUpdaterTest, AnnounceOnlyPostsTheEventAndTheBalloon) {
  Publish("1.0.3.106");
  AnsweringMessageBox boxes(IDYES);
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_EQ(main_window_.Events(), std::vector<std::string>{"Vornic update available"});
  bool balloon = false;
  for (const Message& m : main_window_.Take()) {
    if (m.id == WM_STATUS_EVENT) {
      EXPECT_EQ(m.wParam, 9u);
    }
    balloon |= m.id == WM_AGENT_DONE && m.wParam == ID_NOTIFY_NEW_VERSION && m.lParam == 0;
  }
  EXPECT_TRUE(balloon);
  EXPECT_EQ(Gets("/update.txt"), 1);
  EXPECT_EQ(Gets("/dl/vornic.deb"), 0);
  EXPECT_EQ(Setting("UpdateCheck"), CheckText(0));
  EXPECT_EQ(Allow(), 12345);  // still absent
}

TEST_F(AgentUpdaterTest, TheSameVersionAsksOnlyWhenForced) {
  Publish("1.0.3.105");
  AnsweringMessageBox boxes(IDNO);
  SetAllow(1);
  Run();
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_TRUE(main_window_.Events().empty());
  EXPECT_EQ(Allow(), 1);
  SetAllow(3);
  Run();
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0].rfind("Version 1.0.3.105 of Vornic is available.", 0), 0u);
  EXPECT_EQ(Allow(), -1);
}

TEST_F(AgentUpdaterTest, ANoWaitsThreeDaysAndAFutureCheckCountsAsRecent) {
  Publish("1.0.3.106");
  AnsweringMessageBox boxes(IDNO);
  SetAllow(-1);
  for (std::int64_t offset : {-2 * 86400, 5 * 86400}) {
    SetSetting("UpdateCheck", CheckText(offset));
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Setting("UpdateCheck"), CheckText(offset));
  }
  EXPECT_TRUE(server_->Calls().empty());
  EXPECT_TRUE(tls_->Calls().empty());
  EXPECT_TRUE(boxes.texts.empty());

  SetSetting("UpdateCheck", CheckText(-kUpdateDeclinedWaitSeconds - 1));
  Run();
  EXPECT_EQ(boxes.texts, std::vector<std::string>{kQuestion106});
  EXPECT_EQ(Setting("UpdateCheck"), CheckText(0));
  EXPECT_EQ(Allow(), -1);
}

TEST_F(AgentUpdaterTest, YesDownloadsUnderTheNumbersAndHandsTheFileToTheDesktop) {
  // The offered text tries to lead the file elsewhere; only its numbers
  // make the name.
  Publish("1.0.3.106/../../escaped");
  AnsweringMessageBox boxes(IDYES);
  SetAllow(1);
  Run();
  ASSERT_EQ(boxes.texts.size(), 1u);
  ASSERT_TRUE(fs::exists(Installer()));
  EXPECT_EQ(fs::file_size(Installer()), 300000u);
  EXPECT_FALSE(fs::exists(platform::DataDir() + "/../escaped"));
  EXPECT_EQ(fs::status(Installer()).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(Allow(), 0);
  bool shown = false, progress = false;
  for (const Message& m : main_window_.Take()) {
    shown |= m.id == WM_COMMAND && m.wParam == ID_CMD_SHOW_STATUS;
    progress |= m.id == WM_STATUS_PROGRESS_POS && m.wParam == 9u && m.lParam == 300000;
  }
  EXPECT_TRUE(shown);
  EXPECT_TRUE(progress);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(env_.Path("opened")); }));
  EXPECT_EQ(ReadFile(env_.Path("opened")), Installer() + "\n");
}

TEST_F(AgentUpdaterTest, AFailedOrEmptyDownloadLeavesNoFileAndSaysSoOnce) {
  for (const char* rule : {"{\"truncate\": true}", "{\"status\": 404}", "{}"}) {
    Publish("1.0.3.106", std::string("\"downloads\": {\"/dl/vornic.deb\": ") + rule + "}");
    if (std::string(rule) == "{}")  // a 200 answer without a body
      tls_->SetConfig(
          ConfigWith("\"update\": {\"version\": \"1.0.3.106\", \"description\": "
                     "\"Faster scans.\", \"installer\": \"/dl/vornic.deb\", \"url\": \"" +
                     Https("/dl/vornic.deb") + "\", \"bytes\": 0}"));
    AnsweringMessageBox boxes(IDYES);
    SetAllow(1);
    Run();
    EXPECT_EQ(boxes.texts, (std::vector<std::string>{kQuestion106, kDownloadFailed})) << rule;
    EXPECT_FALSE(fs::exists(Installer())) << rule;
    EXPECT_EQ(Allow(), 2) << rule;
  }
  EXPECT_FALSE(fs::exists(env_.Path("opened")));
}

TEST_F(AgentUpdaterTest, ACancelledDownloadLeavesNoFile) {
  Publish("1.0.3.106", "\"downloads\": {\"/dl/vornic.deb\": {\"rate\": 60000}}");
  AgentUpdater updater(context_);
  ASSERT_EQ(updater.CheckForUpdate(), 1);
  std::thread canceller([&] {
    while (!fs::exists(Installer())) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    updater.Cancel();
  });
  EXPECT_EQ(updater.DownloadUpdate(), 0);
  canceller.join();
  EXPECT_FALSE(fs::exists(Installer()));
}

TEST_F(AgentUpdaterTest, WithoutADisplayTheUpdateIsOnlyAnnounced) {
  Publish("1.0.3.106");
  SetAllow(1);
  Run();  // the console host: nobody to ask
  EXPECT_EQ(main_window_.Events(), std::vector<std::string>{"Vornic update available"});
  EXPECT_EQ(Allow(), 1);
  EXPECT_EQ(Gets("/dl/vornic.deb"), 0);
}

TEST_F(AgentUpdaterTest, OfflineOnlyLogs) {
  SetSetting("ServerUrl", "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/kiv_backend/api");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(LogCount("AgentUpdater: IsOnline returned FALSE. Can not continue update check."), 1);
  EXPECT_EQ(Setting("UpdateCheck"), "");
}

TEST_F(AgentUpdaterTest, NoUpdateTextBesideADevelopmentServerIsNoErrorButAMissingSetOneIs) {
  // The server on this machine: its host serves no update text over https.
  SetSetting("UpdateUrl", "");
  AgentUpdater updater(context_);
  EXPECT_EQ(updater.CheckForUpdate(), 0);
  EXPECT_EQ(LogCount("DownloadToString: "), 1);
  EXPECT_EQ(LogText().find("ERROR"), std::string::npos) << LogText();
  // An address the user set is expected to answer.
  SetSetting("UpdateUrl", "https://127.0.0.1:" + std::to_string(UnusedPort()) + "/update.txt");
  EXPECT_EQ(updater.CheckForUpdate(), 0);
  EXPECT_EQ(LogCount("DownloadToString: "), 2);
  EXPECT_NE(LogText().find("ERROR"), std::string::npos);
}

TEST_F(AgentUpdaterTest, AnHttpsAddressMustCarryATrustedCertificate) {
  Publish("1.0.3.106");
  kiv_http::SetTrustedAuthorities("");  // the system's authorities know nothing of it
  AgentUpdater updater(context_);
  EXPECT_EQ(updater.CheckForUpdate(), 0);
  EXPECT_TRUE(tls_->Calls().empty());
}

TEST_F(AgentUpdaterTest, AnUpdateTextOverPlainHttpOnlyTellsWhereToDownload) {
  // Without a setting the text is asked for over https, even of a server
  // spoken to over http.
  EXPECT_EQ(DefaultUpdateUrl(), "https://127.0.0.1/update.txt");
  // A network attacker answers the plain-http update text with a file of
  // their choosing; the user's Yes must not open it.
  Publish("1.0.3.106");
  SetSetting("UpdateUrl", server_->Base() + "/update.txt");
  AnsweringMessageBox boxes(IDYES);
  SetAllow(1);
  Run();
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0],
            "Version 1.0.3.106 of Vornic is available.\r\n\r\nFaster scans.\r\n\r\nVornic does "
            "not download this update itself (the update notice came over plain http): download "
            "it from https://127.0.0.1/.");
  EXPECT_EQ(Gets("/dl/vornic.deb"), 0);
  EXPECT_EQ(Allow(), -1);
  EXPECT_FALSE(fs::exists(env_.Path("opened")));
}

TEST_F(AgentUpdaterTest, OnlyADebianPackageOverHttpsIsDownloaded) {
  AnsweringMessageBox boxes(IDYES);
  for (const std::string& url : {server_->Base() + "/dl/vornic.deb", Https("/dl/vornic.jar"),
                                 Https("/dl/vornic.exe"), Https("/dl/vornic")}) {
    Publish("1.0.3.106", "", url);
    SetAllow(1);
    Run();
    ASSERT_FALSE(boxes.texts.empty());
    EXPECT_NE(boxes.texts.back().find("Vornic does not download this update itself"),
              std::string::npos)
        << url;
    EXPECT_EQ(Allow(), -1) << url;
  }
  EXPECT_EQ(Gets("/dl/vornic.deb") + Gets("/dl/vornic.jar") + Gets("/dl/vornic.exe"), 0);
  EXPECT_FALSE(fs::exists(env_.Path("opened")));
}

TEST_F(AgentUpdaterTest, AHandlerThatCannotOpenTheInstallerIsReportedAndTheOfferStays) {
  Publish("1.0.3.106");
  Handler(3);  // xdg-open: no handler for this type
  AnsweringMessageBox boxes(IDYES);
  SetAllow(1);
  Run();
  ASSERT_EQ(boxes.texts.size(), 2u);
  EXPECT_EQ(boxes.texts[1], "The Vornic update was downloaded to " + Installer() +
                                ", but it could not be opened (xdg-open ended with status "
                                "3).\r\nWill attempt again later.");
  EXPECT_EQ(Allow(), 2);
}

}  // namespace
}  // namespace server_test
