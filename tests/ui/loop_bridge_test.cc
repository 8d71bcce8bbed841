#include "ui/loop_bridge.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

#include "tests/ui/ui_fixture.h"
#include "ui/qt_message_box.h"

namespace ui_test {
namespace {

class LoopBridgeTest : public UiTest {
 protected:
  // The visible box whose text starts with `text`, or null.
  static QMessageBox* FindBox(const QString& text) {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w))
        if (box->isVisible() && box->text().startsWith(text)) return box;
    return nullptr;
  }
  static void Click(QMessageBox* box, QMessageBox::StandardButton which) {
    box->button(which)->click();
  }
};

TEST_F(LoopBridgeTest, QtRunsWhileTheControllerLoopWaitsAndTimersStillFire) {
  QtLoopBridge bridge(loop_);
  platform::FakeClock& clock = clock_;
  int qt_ticks = 0;
  std::vector<UINT> seen;
  loop_.SetHandler([&](Message& m) {
    seen.push_back(m.id == WM_TIMER ? static_cast<UINT>(m.wParam) : m.id);
    if (m.id == WM_TIMER) loop_.Quit(7);
  });
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (++qt_ticks == 3) {
      loop_.PostMessage(WM_USER + 1);
      // The controller's timer falls due on its own clock.
      loop_.SetTimer(99, 1000);
      clock.Advance(1000);
    }
  });
  tick.start(5);
  EXPECT_EQ(loop_.Run(), 7);
  EXPECT_GE(qt_ticks, 3);
  EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 1, 99}));
}

TEST_F(LoopBridgeTest, ControllerMessagesFlowWhileAModalBoxIsOpen) {
  QtLoopBridge bridge(loop_);
  QtMessageBoxHost host;
  std::atomic<int> handled{0};
  loop_.SetHandler([&](Message&) { ++handled; });
  std::thread agent([&] {
    for (int i = 0; i < 50; ++i) loop_.PostMessage(WM_USER + 2);
  });
  QTimer::singleShot(0, [&] {
    // Inside the box's own loop: the agent's messages arrive, then the user
    // answers.
    QTimer* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
      QMessageBox* box = FindBox("Disk full");
      if (box && handled == 50) {
        poll->deleteLater();
        Click(box, QMessageBox::Yes);
      }
    });
    poll->start(5);
  });
  EXPECT_EQ(host.Show("Disk full?", MB_YESNO | MB_ICONQUESTION), IDYES);
  agent.join();
  EXPECT_EQ(handled, 50);
}

TEST_F(LoopBridgeTest, AnAgentsQuestionWaitsForTheUserWithoutFreezingTheWindow) {
  QtMessageBoxHost host;
  std::atomic<int> answer{0};
  std::thread agent([&] { answer = host.Show("Welcome to the Vornic!", MB_OK); });
  QMessageBox* box = nullptr;
  int qt_ticks = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] { ++qt_ticks; });
  tick.start(1);
  ASSERT_TRUE(PumpUntil([&] { return (box = FindBox("Welcome")) != nullptr; }));
  ASSERT_TRUE(PumpUntil([&] { return qt_ticks > 5; }));
  EXPECT_EQ(answer, 0);
  Click(box, QMessageBox::Ok);
  agent.join();
  EXPECT_EQ(answer, IDOK);

  // Once the host closes, an open question takes its safe answer.
  std::thread second([&] { answer = host.Show("Install the update?", MB_YESNO); });
  ASSERT_TRUE(PumpUntil([&] { return FindBox("Install") != nullptr; }));
  host.Close();
  second.join();
  EXPECT_EQ(answer, IDNO);
  EXPECT_EQ(host.Show("After close", MB_YESNO), IDNO);
}

TEST_F(LoopBridgeTest, MarkupFromAServerIsShownAsWrittenNeverRendered) {
  // An update description that would rewrite the whole question as rich text.
  const std::string text =
      "Version 9.0.0.0 of Vornic is available.\r\n\r\n<h1>Security fix</h1><a "
      "href=\"https://evil.example/\">click</a><img src=\"x\">";
  std::unique_ptr<QMessageBox> box(QtMessageBoxHost::MakeBox(text, MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_TRUE(box->text().contains(QStringLiteral("<h1>Security fix</h1><a href=")));
}

}  // namespace
}  // namespace ui_test
