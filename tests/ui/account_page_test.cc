#include "ui/account_page.h"

#include <unistd.h>

#include <QDesktopServices>
#include <QTest>

#include "app/agent_kinds.h"
#include "app/reg_settings.h"
#include "server/connection_monitor.h"
#include "server/connectivity.h"
#include "server/server_session.h"
#include "tests/support/own_memory.h"
#include "tests/ui/ui_fixture.h"
#include "ui/secure_text.h"

namespace ui_test {
namespace {

// Takes the http addresses the desktop would open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "Open"); }
  ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
  QStringList opened;
 public slots:
  void Open(const QUrl& url) { opened.append(url.toString()); }
};

class AccountPageTest : public UiTest {
 protected:
  AccountPageTest() { ResetServerState(); }
  ~AccountPageTest() override { ResetServerState(); }

  // The page as start-up makes it, over the settings as they are now.
  CAccountPage& Page() {
    if (!page_) {
      page_ = std::make_unique<CAccountPage>(&loop_);
      page_->show();
    }
    return *page_;
  }
  QLineEdit* Edit(const char* id) { return Control<QLineEdit>(&Page(), id); }
  QString Text(const char* id) { return Control<QLabel>(&Page(), id)->text(); }
  bool Visible(const char* id) { return Control<QWidget>(&Page(), id)->isVisible(); }
  bool SubmitEnabled() { return Control<QPushButton>(&Page(), "1107")->isEnabled(); }
  void Type(const char* id, const QString& text) {
    Edit(id)->clear();
    QTest::keyClicks(Edit(id), text);
  }
  void Status(int online, int auth) {
    OnlineState = online;
    AuthState = auth;
    Page().OnConnectionMessage(Message{WM_CONNECTION_STATUS, 0, 0, {}});
  }
  std::string Setting(const char* name) {
    std::string value;
    AppSettings().ReadStringUtf8(kSubKeySettings, name, value);
    return value;
  }
  // Whether the connection monitor was asked for, now.
  bool MonitorRequested() {
    for (const Message& m : TakeMessages())
      if (m.id == WM_AGENT_REQUEST && m.wParam == ID_AGENT_CONNECTIONMON && m.lParam == 0)
        return true;
    return false;
  }

  std::unique_ptr<CAccountPage> page_;
};

TEST_F(AccountPageTest, StoredCredentialsShowTheNameAndAHiddenPasswordOnly) {
  SetCredentials();
  EXPECT_EQ(Edit("1003")->text(), "ann@example.org");
  EXPECT_EQ(Edit("1005")->text(), "********");
  EXPECT_EQ(Edit("1005")->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(SubmitEnabled());
  EXPECT_TRUE(Visible("1135"));
  EXPECT_FALSE(Visible("1116"));
  EXPECT_EQ(Text("1124"), "connection settings");
}

TEST_F(AccountPageTest, SubmittingTheUntouchedOrALiteralHiddenPasswordKeepsTheStoredOne) {
  SetCredentials();
  // A new name with the password box untouched: only the name changes.
  Type("1003", "bob@example.org");
  EXPECT_TRUE(SubmitEnabled());
  AuthState = 0;
  Page().Submit();
  EXPECT_EQ(Setting("Username"), "bob@example.org");
  EXPECT_EQ(Setting("Password"), "secret");
  EXPECT_FALSE(HasPendingCredentials());
  EXPECT_EQ(AuthState, -4);  // the changed pair is checked again
  EXPECT_FALSE(SubmitEnabled());
  EXPECT_TRUE(Visible("1135"));
  EXPECT_TRUE(MonitorRequested());

  // Eight asterisks typed by hand are the hidden password, not a new one.
  Type("1005", "********");
  Page().Submit();
  EXPECT_FALSE(HasPendingCredentials());
  EXPECT_EQ(Setting("Password"), "secret");
}

TEST_F(AccountPageTest, ATypedPasswordGoesToTheSessionAndNeverToTheLogOrTheBox) {
  Type("1003", "ann@example.org");
  Type("1005", "pa55-w0rd");
  Page().Submit();
  std::string user, password;
  ASSERT_TRUE(GetPendingCredentials(&user, &password));
  EXPECT_EQ(user, "ann@example.org");
  EXPECT_EQ(password, "pa55-w0rd");
  EXPECT_EQ(Edit("1005")->text(), "********");
  EXPECT_FALSE(Edit("1005")->isUndoAvailable());
  EXPECT_TRUE(MonitorRequested());

  // Submitting again untouched keeps the pair still waiting for its
  // exchange, under the new name.
  Type("1003", "ann2@example.org");
  Page().Submit();
  ASSERT_TRUE(GetPendingCredentials(&user, &password));
  EXPECT_EQ(user, "ann2@example.org");
  EXPECT_EQ(password, "pa55-w0rd");
  EXPECT_EQ(testing_support::ReadFile(env_.Path("kivclient.log")).find("pa55-w0rd"),
            std::string::npos);
}

TEST_F(AccountPageTest, ATypedPasswordLeavesNoCopyOnceTheSessionHasIt) {
  // Made here from pieces, so no whole copy of it is among the program's texts.
  std::string utf8 = "typed-" + std::to_string(::getpid()) + "-in-the-account-window";
  QString typed = QString::fromStdString(utf8);
  Type("1003", "ann@example.org");
  Type("1005", typed);
  Page().Submit();
  std::string user, password;
  ASSERT_TRUE(GetPendingCredentials(&user, &password));
  EXPECT_EQ(password, utf8);
  WipeText(password);
  ClearPendingCredentials();  // the session's exchange is over
  const int utf8_copies = testing_support::CopiesInOwnMemory(utf8.data(), utf8.size());
  const int utf16_copies = testing_support::CopiesInOwnMemory(
      reinterpret_cast<const char*>(typed.constData()), static_cast<std::size_t>(typed.size()) * 2);
  if (utf8_copies < 0) GTEST_SKIP() << "this process's memory cannot be read";
  EXPECT_EQ(utf8_copies, 0);
  EXPECT_EQ(utf16_copies, 0);
  WipeText(utf8);
  WipeText(typed);
}

TEST_F(AccountPageTest, OnlineResultsSetTheLinesIconsAndSubmit) {
  SetCredentials();
  struct Case {
    int auth;
    const char* login;
    bool connected;
  } cases[] = {
      {0, "Login accepted", true},
      {-1, "Login credentials available", true},
      {-3, "Could not contact KIV server. Please check connection settings.", false},
      {-4, "Unknown connection failure!", false},
      {-2, "Please enter your login (email) and password, then press submit.", false},
  };
  for (const Case& c : cases) {
    Status(1, c.auth);
    EXPECT_EQ(Text("1115"), "Internet connection available.");
    EXPECT_TRUE(Page().LineWorking(0));
    EXPECT_EQ(Text("1116"), c.login);
    EXPECT_EQ(Page().LineWorking(1), c.connected) << c.auth;
    EXPECT_EQ(Text("1117"), c.connected ? "You are currently connected to KIV."
                                        : "You are not connected to KIV.");
    EXPECT_EQ(Page().LineWorking(2), c.connected);
    EXPECT_EQ(SubmitEnabled(), !c.connected) << c.auth;
    EXPECT_TRUE(Visible("1116"));
    EXPECT_TRUE(Visible("1112"));
    EXPECT_FALSE(Visible("1135"));
    EXPECT_FALSE(Visible("1139"));
  }
  // Refused credentials: the password box is emptied.
  EXPECT_EQ(Edit("1005")->text(), "");
}

TEST_F(AccountPageTest, OfflineWithStoredCredentialsEnablesSubmit) {
  SetCredentials();
  Status(0, 0);
  EXPECT_EQ(Text("1115"), "Internet connection not available");
  EXPECT_FALSE(Page().LineWorking(0));
  EXPECT_EQ(Text("1116"), "Login credentials available");
  EXPECT_TRUE(Page().LineWorking(1));
  EXPECT_EQ(Text("1117"), "You are not connected to KIV.");
  EXPECT_FALSE(Page().LineWorking(2));
  EXPECT_TRUE(SubmitEnabled());
  EXPECT_TRUE(Visible("1115"));
}

TEST_F(AccountPageTest, WithoutStoredCredentialsTheHelpAndRegisterShowInsteadOfTheLines) {
  Status(0, -4);
  EXPECT_FALSE(SubmitEnabled());
  EXPECT_FALSE(Visible("1116"));
  EXPECT_TRUE(Visible("1139"));
  EXPECT_EQ(Text("1140"),
            "If you have not yet registered for KIV, please click the Register button below:");

  // A pair was typed but did not make it into the settings.
  Type("1003", "ann@example.org");
  Type("1005", "wrong");
  Page().Submit();
  EXPECT_FALSE(Visible("1140"));
  Status(1, -2);
  EXPECT_TRUE(Text("1140").startsWith("Your login credentials were unable to be validated."));

  UrlCatcher catcher;
  QTest::mouseClick(Control<QPushButton>(&Page(), "1139"), Qt::LeftButton);
  EXPECT_TRUE(Text("1140").startsWith("Please continue the KIV registration process"));
  ASSERT_EQ(catcher.opened.size(), 1);
  EXPECT_TRUE(catcher.opened[0].endsWith("/register"));
}

}  // namespace
}  // namespace ui_test

#include "account_page_test.moc"
