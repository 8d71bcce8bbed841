#include "ui/loop_bridge.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

QtLoopBridge::QtLoopBridge(MessageLoop& loop, QObject* parent)
    : QObject(parent), loop_(loop), notifier_(loop.WakeFd(), QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, &QtLoopBridge::OnWake);
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &QtLoopBridge::OnWake);
  loop_.SetInputWait([this](int timeout_ms) { Wait(timeout_ms); });
  loop_.SetPassLimit(kPassLimitMs);
  ArmTimer();
}

QtLoopBridge::~QtLoopBridge() {
  loop_.SetInputWait(nullptr);
  loop_.SetPassLimit(0);
}

void QtLoopBridge::Wait(int timeout_ms) {
  // Qt gets a turn between two passes even while messages keep coming, so
  // a burst from an agent cannot starve the window (passes are bounded by
  // the loop's pass limit). The frame without a loop tells OnWake to leave
  // the wake to this wait.
  waits_.push_back({nullptr, QThread::currentThread()->loopLevel()});
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  waits_.pop_back();
  if (timeout_ms == 0 || loop_.WakeSignalled()) return;
  QEventLoop nested;
  QTimer limit;
  if (timeout_ms >= 0) {
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &nested, &QEventLoop::quit);
    limit.start(timeout_ms);
  }
  // exec() raises the thread's loop level by one; a wake seen at that level
  // belongs to this wait, a wake seen deeper to a loop Qt started inside it.
  waits_.push_back({&nested, QThread::currentThread()->loopLevel() + 1});
  nested.exec();
  waits_.pop_back();
}

void QtLoopBridge::OnWake() {
  if (!waits_.empty() && QThread::currentThread()->loopLevel() == waits_.back().level) {
    // The controller's own wait returns and dispatches.
    if (waits_.back().loop) waits_.back().loop->quit();
    return;
  }
  loop_.ProcessPending();
  ArmTimer();
}

void QtLoopBridge::ArmTimer() {
  const std::int64_t ms = loop_.MsUntilNextTimer();
  if (ms < 0)
    timer_.stop();
  else
    timer_.start(static_cast<int>(std::min<std::int64_t>(ms, 1 << 30)));
}
