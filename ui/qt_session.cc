#include "ui/qt_session.h"

#include <QApplication>
#include <cstdlib>

#include "app/message_box.h"
#include "ui/app_icon.h"
#include "ui/main_window.h"
#include "ui/qt_message_box.h"

namespace {

bool Named(const char* variable) {
  const char* value = std::getenv(variable);
  return value && *value;
}

}  // namespace

bool QtSession::DisplayAvailable() {
  return Named("DISPLAY") || Named("WAYLAND_DISPLAY") || Named("QT_QPA_PLATFORM");
}

QtSession::QtSession(int& argc, char** argv) {
  app_ = std::make_unique<QApplication>(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vornic"));
  QApplication::setDesktopFileName(QStringLiteral("vornic"));
  QApplication::setWindowIcon(AppIcon());
  // Hidden windows and dialogs closing must not end anything: the program
  // ends by its shutdown command.
  QApplication::setQuitOnLastWindowClosed(false);
  host_ = std::make_unique<QtMessageBoxHost>();
  SetMessageBoxHost(host_.get());
}

QtSession::~QtSession() {
  SetMessageBoxHost(nullptr);
  host_.reset();
  app_.reset();
}

std::unique_ptr<MainWindowView> QtSession::MakeMainWindow(MessageLoop& loop) {
  return std::make_unique<CKivClientWindow>(loop, host_.get());
}
