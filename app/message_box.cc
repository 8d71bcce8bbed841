#include "app/message_box.h"

#include <atomic>
#include <cstdio>

#include "app/log.h"

namespace {

std::atomic<MessageBoxHost*> g_host{nullptr};

}  // namespace

int ConsoleMessageBox::Show(const std::string& text, UINT type) {
  AppLog().Log(text, LEVEL_ERROR, MODULE_APPLICATION);
  std::fprintf(stderr, "vornic: %s\n", text.c_str());
  std::fflush(stderr);
  return (type & 0xF) == MB_YESNO ? IDNO : IDOK;
}

void SetMessageBoxHost(MessageBoxHost* host) { g_host = host; }

int AppMessageBox(const std::string& text, UINT type) {
  static ConsoleMessageBox console;
  MessageBoxHost* host = g_host.load();
  return (host ? host : &console)->Show(text, type);
}

void AppNotice(const std::string& text, UINT type) {
  static ConsoleMessageBox console;
  MessageBoxHost* host = g_host.load();
  (host ? host : &console)->ShowNoWait(text, type);
}

bool AppMessageBoxCanAsk() { return g_host.load() != nullptr; }
