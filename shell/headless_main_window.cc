#include "shell/headless_main_window.h"

#include "app/format.h"
#include "app/log.h"

namespace {

// Balloon texts break lines with CR LF; a log line or output line must not.
std::string OneLine(const std::string& text) {
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      line += ' ';
      ++i;
    } else {
      line += text[i];
    }
  }
  return line;
}

}  // namespace

void HeadlessMainWindow::ShowWindow(bool show) {
  if (show)
    LogApp("/show: no display, the main window stays hidden (running headless)", LEVEL_WARNING);
}

void HeadlessMainWindow::ShowPage(MainWindowPage page, WPARAM command) {
  LogApp(StrFormat("Received command %u: no main window to show the \"%s\" page",
                   static_cast<unsigned>(command), MainWindowPageName(page)),
         LEVEL_INFO);
}

void HeadlessMainWindow::ShowAbout() {
  LogApp("No main window: the About box is not shown", LEVEL_INFO);
}

void HeadlessMainWindow::LaunchMyKiv() {
  LogApp("No main window: \"Launch My KIV\" does nothing", LEVEL_INFO);
}

void HeadlessMainWindow::OpenDatabaseTester() {
  LogApp("No main window: the database tester is not opened", LEVEL_INFO);
}

void HeadlessMainWindow::SetAgentsButtonText(const std::string& text) { button_text_ = text; }

void HeadlessMainWindow::SetTrayTooltip(const std::string& text) { tray_tooltip_ = text; }

void HeadlessMainWindow::ShowBalloon(const std::string& text) {
  const std::string line = OneLine(text);
  LogApp(line, LEVEL_INFO);
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void HeadlessMainWindow::OnTrayNotification(WPARAM, LPARAM) {}

void HeadlessMainWindow::ForwardToPages(Message& message) {
  // Only the event lines matter without a window; progress and counts would
  // fill the log with numbers nobody sees.
  if (message.id != WM_STATUS_EVENT) return;
  LogApp(message.payload, LEVEL_INFO);
  std::fprintf(out_, "%s\n", message.payload.c_str());
  std::fflush(out_);
}
