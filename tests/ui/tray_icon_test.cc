#include "ui/tray_icon.h"

#include "server/connectivity.h"
#include "tests/ui/ui_fixture.h"

namespace ui_test {
namespace {

class TrayIconTest : public UiTest {
 protected:
  TrayIconTest() { tray_.SetNotificationWnd(&loop_, WM_TRAY_NOTIFY); }
  ~TrayIconTest() override { AuthState = -4; }

  CTrayIcon tray_;
};

TEST_F(TrayIconTest, TheMenuHoldsTheCommandsInOrder) {
  std::vector<std::pair<QString, QString>> items;
  for (QAction* action : tray_.menu()->actions())
    items.emplace_back(action->objectName(), action->isSeparator() ? "-" : action->text());
  EXPECT_EQ(items, (std::vector<std::pair<QString, QString>>{{"32784", "Login Info"},
                                                             {"32799", "Add/Delete Music Folders"},
                                                             {"32785", "Activity Monitor"},
                                                             {"", "-"},
                                                             {"32786", "&About Vornic"},
                                                             {"32787", "S&hutdown Vornic"}}));
}

TEST_F(TrayIconTest, ADoubleClickOpensLoginInfoUntilTheFirstSuccessfulAuthentication) {
  AuthState = -4;
  EXPECT_TRUE(tray_.OnTrayNotification(CTrayIcon::kIconId, WM_LBUTTONDBLCLK));
  AuthState = 0;
  EXPECT_TRUE(tray_.OnTrayNotification(CTrayIcon::kIconId, WM_LBUTTONDBLCLK));
  EXPECT_TRUE(tray_.OnTrayNotification(CTrayIcon::kIconId, WM_RBUTTONUP));
  EXPECT_EQ(tray_.menu()->defaultAction()->objectName(), "32785");
  EXPECT_TRUE(tray_.menu()->defaultAction()->font().bold());
  EXPECT_FALSE(tray_.OnTrayNotification(CTrayIcon::kIconId + 1, WM_LBUTTONDBLCLK));
  EXPECT_FALSE(tray_.OnTrayNotification(CTrayIcon::kIconId, WM_LBUTTONDOWN));

  std::vector<Message> posted = TakeMessages();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].id, WM_COMMAND);
  EXPECT_EQ(posted[0].wParam, ID_CMD_SHOW_LOGIN);
  EXPECT_EQ(posted[1].wParam, ID_CMD_SHOW_STATUS);
}

TEST_F(TrayIconTest, WhileAnUpdateBalloonIsPendingAClickAcceptsTheUpdate) {
  tray_.ShowBalloon("A new version of Vornic is available.\r\nClick for details.", true);
  EXPECT_EQ(tray_.pending_balloons(), 1);
  // A left press on the icon counts as a click on the balloon, but only the
  // balloon's own click, time-out or hiding ends it.
  EXPECT_FALSE(tray_.OnTrayNotification(CTrayIcon::kIconId, WM_LBUTTONDOWN));
  EXPECT_EQ(tray_.pending_balloons(), 1);
  EXPECT_FALSE(tray_.OnTrayNotification(CTrayIcon::kIconId, WM_LBUTTONDBLCLK));
  EXPECT_FALSE(tray_.OnTrayNotification(CTrayIcon::kIconId, NIN_BALLOONUSERCLICK));
  EXPECT_EQ(tray_.pending_balloons(), 0);
  std::vector<Message> posted = TakeMessages();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].id, WM_UPDATE_ACCEPTED);
  EXPECT_EQ(posted[1].id, WM_UPDATE_ACCEPTED);

  // A balloon without the count flag changes nothing.
  tray_.ShowBalloon("Vornic will run in the background from here.", false);
  EXPECT_EQ(tray_.pending_balloons(), 0);
  EXPECT_TRUE(tray_.OnTrayNotification(CTrayIcon::kIconId, WM_LBUTTONDBLCLK));
}

TEST_F(TrayIconTest, AClickOpensTheWindowAndEachBalloonIsCountedOnce) {
  // A single activation (all a StatusNotifierItem host reports) opens the
  // default page as the double click does.
  AuthState = 0;
  EXPECT_TRUE(tray_.OnTrayNotification(CTrayIcon::kIconId, NIN_SELECT));
  std::vector<Message> posted = TakeMessages();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].wParam, ID_CMD_SHOW_STATUS);

  // Balloon A is clicked; its time-out later must not end balloon B.
  tray_.SetBalloonTimeout(300);
  tray_.ShowBalloon("A", true);
  tray_.OnTrayNotification(CTrayIcon::kIconId, NIN_BALLOONUSERCLICK);
  PumpUntil([] { return false; }, 150);
  tray_.ShowBalloon("B", true);
  PumpUntil([] { return false; }, 250);  // A's time-out has passed
  EXPECT_EQ(tray_.pending_balloons(), 1);
  EXPECT_FALSE(tray_.OnTrayNotification(CTrayIcon::kIconId, NIN_SELECT));
  EXPECT_TRUE(PumpUntil([&] { return tray_.pending_balloons() == 0; }));
  posted = TakeMessages();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[1].id, WM_UPDATE_ACCEPTED);
}

TEST_F(TrayIconTest, TheTooltipIsVornicPlusTheJobCutAt128Characters) {
  EXPECT_EQ(tray_.tooltip(), "Vornic");
  tray_.SetTooltipText("Indexing...");
  EXPECT_EQ(tray_.tooltip(), "Vornic\r\nIndexing...");
  EXPECT_EQ(tray_.system_icon()->toolTip(), "Vornic\nIndexing...");
  tray_.SetTooltipText(std::string(200, 'x'));
  EXPECT_EQ(tray_.tooltip().size(), 128);
  EXPECT_EQ(tray_.tooltip(), "Vornic\r\n" + QString(120, 'x'));
  tray_.SetTooltipText("");
  EXPECT_EQ(tray_.tooltip(), "Vornic");
}

}  // namespace
}  // namespace ui_test
