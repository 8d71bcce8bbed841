// QtLoopBridge: lets the controller's MessageLoop and Qt's event loop share
// the GUI thread.
//
// The controller's loop stays the program's main loop (MessageLoop::Run,
// called by start-up). Whenever it would block, it runs Qt's event loop
// instead, until its wake descriptor becomes readable or its next timer is
// due (MessageLoop::SetInputWait); so windows, the tray and dialogs live
// while the controller idles or waits for an agent thread to stop. When Qt
// runs a loop of its own inside that wait (a modal message box or dialog),
// a QSocketNotifier on the wake descriptor and a timer for the controller's
// next timer dispatch the controller's messages from there, so agents never
// wait on a dialog. Without MessageLoop::Run (tests driving Qt directly) the
// notifier alone dispatches.
//
// GUI thread only; the loop must outlive the bridge.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <vector>

#include "app/message_loop.h"

class QEventLoop;

class QtLoopBridge : public QObject {
  Q_OBJECT
 public:
  // The longest the controller's messages hold the GUI thread at a time.
  static constexpr std::uint32_t kPassLimitMs = 8;

  explicit QtLoopBridge(MessageLoop& loop, QObject* parent = nullptr);
  ~QtLoopBridge() override;

 private:
  // The loop's blocking wait: Qt's event loop until the wake descriptor is
  // readable or `timeout_ms` passed.
  void Wait(int timeout_ms);
  // The wake descriptor became readable or a controller timer is due.
  void OnWake();
  void ArmTimer();

  struct WaitFrame {
    QEventLoop* loop;
    int level;
  };

  MessageLoop& loop_;
  QSocketNotifier notifier_;
  QTimer timer_;
  std::vector<WaitFrame> waits_;
};
