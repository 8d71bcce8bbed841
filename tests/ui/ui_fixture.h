// UiTest: a sandbox for the user interface tests: its own temporary
// folder with the settings and the log there, an initialised database, the
// controller's message loop, and helpers that let Qt and that loop run
// until something is true.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>
#include <functional>
#include <string>

#include "app/message_box.h"
#include "app/message_loop.h"
#include "db/kiv_db.h"
#include "platform/clock.h"
#include "tests/support/temp_env.h"

namespace ui_test {

class UiTest : public ::testing::Test {
 protected:
  UiTest();
  ~UiTest() override;

  // Runs Qt events (and, through the bridge when one exists, the loop's
  // messages) until `done` or `ms` of real time passed.
  bool PumpUntil(const std::function<bool()>& done, int ms = 5000);
  // Takes every message waiting in the loop, without dispatching.
  std::vector<Message> TakeMessages();
  // A supported media file of at least the database's minimum size.
  std::string MakeMediaFile(const std::string& name);
  void SetCredentials();

  testing_support::TempEnv env_;
  platform::FakeClock clock_;
  MessageLoop loop_;
};

// Answers every message box with `answer` and keeps the texts.
class AnsweringBox : public MessageBoxHost {
 public:
  explicit AnsweringBox(int answer) : answer_(answer) { SetMessageBoxHost(this); }
  ~AnsweringBox() override { SetMessageBoxHost(nullptr); }
  int Show(const std::string& text, UINT) override {
    texts.push_back(text);
    return answer_;
  }
  std::vector<std::string> texts;

 private:
  int answer_;
};

// The child of `parent` with design id `id`.
template <typename T = QWidget>
T* Control(QObject* parent, const char* id) {
  return parent->findChild<T*>(QString::fromLatin1(id));
}

}  // namespace ui_test
