#include "tests/ui/ui_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "app/log.h"
#include "app/reg_settings.h"
#include "db/db_format.h"
#include "media/tag_reader.h"

namespace ui_test {

UiTest::UiTest() : clock_(1700000000), loop_(clock_) {
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  AppLog().SetLogFile(env_.Path("kivclient.log"));
  AppLog().SetLogLevel(LEVEL_VERBOSE);
  EXPECT_TRUE(KivDB::Initialise(clock_));
}

UiTest::~UiTest() { KivDB::Shutdown(); }

bool UiTest::PumpUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

std::vector<Message> UiTest::TakeMessages() {
  std::vector<Message> taken;
  MessageLoop::Handler none;
  loop_.SetHandler([&](Message& m) { taken.push_back(std::move(m)); });
  loop_.ProcessPending();
  loop_.SetHandler(none);
  return taken;
}

std::string UiTest::MakeMediaFile(const std::string& name) {
  const std::string path = env_.Path(name);
  testing_support::WriteFile(path, std::string(kDbMinFileSize + 100, '\0'));
  return path;
}

void UiTest::SetCredentials() {
  AppSettings().WriteStringUtf8(kSubKeySettings, "Username", "ann@example.org");
  AppSettings().WriteStringUtf8(kSubKeySettings, "Password", "secret");
}

}  // namespace ui_test
