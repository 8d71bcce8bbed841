// Message boxes: the few texts the program puts in front of the user from
// start-up and from agents. The user interface installs its own host (a
// blocking ask from an agent thread is answered on the GUI thread); until
// then, or without a display, the console host logs the text at
// LEVEL_ERROR and prints it to standard error, and a Yes/No question takes
// its safe answer, No.
//
// AppMessageBox may be called from any thread. SetMessageBoxHost is called
// on the main thread while no other thread shows a box.
#pragma once

#include <string>

#include "app/messages.h"

inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONINFORMATION = 0x40;

inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

class MessageBoxHost {
 public:
  virtual ~MessageBoxHost() = default;
  // Shows `text` with the buttons of `type` (MB_OK or MB_YESNO plus an
  // icon) and returns the button chosen (IDOK, IDYES, IDNO).
  virtual int Show(const std::string& text, UINT type) = 0;
  // Shows an MB_OK box and returns at once, without waiting for it to be
  // closed. Hosts that cannot leave a box open show it as Show does.
  virtual void ShowNoWait(const std::string& text, UINT type) { Show(text, type); }
};

// Logs at LEVEL_ERROR, MODULE_APPLICATION and prints to standard error.
class ConsoleMessageBox : public MessageBoxHost {
 public:
  int Show(const std::string& text, UINT type) override;
};

// Installs `host` (not owned; nullptr restores the console host).
void SetMessageBoxHost(MessageBoxHost* host);
int AppMessageBox(const std::string& text, UINT type = MB_OK);
// True when a host is installed that puts questions to a person; false
// while only the console host answers (no display), so a caller can leave
// out a question whose safe answer would be taken for the user's.
bool AppMessageBoxCanAsk();
// A notice that needs no answer (MB_OK): shown, and the caller goes on
// while it stays open.
void AppNotice(const std::string& text, UINT type = MB_OK);
