// QtMessageBoxHost: message boxes from start-up and the agents, shown by
// the user interface.
//
// On the GUI thread a box is modal and Show returns the answer (Qt's loop
// keeps running meanwhile, and QtLoopBridge keeps the controller's messages
// flowing). From another thread (an agent's question) the box is opened on
// the GUI thread and the calling thread waits for the answer; the window
// stays responsive. After Close, or once the host is destroyed, every box
// still open and every later one takes its safe answer (OK, No), so no
// agent waits on a window that is going away.
//
// Create on the GUI thread; Show from any thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <future>
#include <list>
#include <memory>
#include <mutex>

#include "app/message_box.h"

class QMessageBox;

class QtMessageBoxHost : public QObject, public MessageBoxHost {
  Q_OBJECT
 public:
  explicit QtMessageBoxHost(QObject* parent = nullptr);
  ~QtMessageBoxHost() override;

  int Show(const std::string& text, UINT type) override;
  // The box is opened on the GUI thread, non-modal, and nobody waits for it.
  void ShowNoWait(const std::string& text, UINT type) override;
  // Answers every open box safely and refuses new ones (GUI thread).
  void Close();

  // Builds the box for `text` and `type` (title "Vornic").
  static QMessageBox* MakeBox(const std::string& text, UINT type);
  static int SafeAnswer(UINT type);

 private:
  struct Pending {
    UINT type = MB_OK;
    std::promise<int> answer;
    std::once_flag once;
    QPointer<QMessageBox> box;
    void Answer(int value) {
      std::call_once(once, [&] { answer.set_value(value); });
    }
  };
  // GUI thread: shows the box; with `wait`, runs it modally until answered.
  void Open(const std::shared_ptr<Pending>& pending, const std::string& text, bool wait);

  std::mutex mutex_;
  bool closed_ = false;
  std::list<std::shared_ptr<Pending>> pending_;
};
