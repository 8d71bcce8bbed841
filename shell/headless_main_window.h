// HeadlessMainWindow: the main window when there is no display. The
// controller and the agents run as usual; status events go to the log and
// to standard output, and whatever would need a window is logged instead.
//
// Main-loop thread only (see MainWindowView).
#pragma once

#include <cstdio>
#include <string>

#include "app/main_window_view.h"

class HeadlessMainWindow : public MainWindowView {
 public:
  // `out` receives one line per status event (standard output by default).
  explicit HeadlessMainWindow(std::FILE* out = stdout) : out_(out) {}

  void ShowWindow(bool show) override;
  void ShowPage(MainWindowPage page, WPARAM command) override;
  void ShowAbout() override;
  void LaunchMyKiv() override;
  void OpenDatabaseTester() override;
  void SetAgentsButtonText(const std::string& text) override;
  void SetTrayTooltip(const std::string& text) override;
  void ShowBalloon(const std::string& text) override;
  void OnTrayNotification(WPARAM icon, LPARAM mouse) override;
  void RemoveTrayIcon() override {}
  void ForwardToPages(Message& message) override;

  const std::string& button_text() const { return button_text_; }
  const std::string& tray_tooltip() const { return tray_tooltip_; }

 private:
  std::FILE* out_;
  std::string button_text_;
  std::string tray_tooltip_;
};
