// A deliberate race of ours, handed to a worker thread the way the tester
// hands its work over (a queued QMetaObject::invokeMethod): under the
// thread sanitizer, with the options scripts/test-tsan.sh runs with, it
// must still be reported, whatever is left out of Qt and GLib.
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <chrono>
#include <string>
#include <thread>

namespace {

int counter = 0;
std::string text;

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QThread thread;
  QObject worker;
  worker.moveToThread(&thread);
  thread.start();
  QMetaObject::invokeMethod(
      &worker,
      [] {
        ++counter;
        text += "worker";
      },
      Qt::QueuedConnection);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ++counter;
  text += "main";
  thread.quit();
  thread.wait();
  return 0;
}
