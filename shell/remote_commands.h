// RemoteCommands: the running copy's side of the set-up options (`vornic
// --login`, `--folders`, `--status`, ...). The instance socket's listener
// hands each request line to AnswerFromListener, which passes it to the main
// loop and waits for the answer there, so every request is carried out on
// the main thread, as the window's pages would carry it out: credentials
// go to the server session and the connection monitor checks them; a
// changed folder list is saved and the agents restarted; Search All Now
// starts the indexer.
//
// Threads: AnswerFromListener on the listener thread; everything else on the
// main loop's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/message_loop.h"

class CKivClientDlg;

// Posted to the main loop with a request: wParam is its number, the payload
// the request line.
inline constexpr UINT WM_REMOTE_REQUEST = WM_APP + 700;

class RemoteCommands {
 public:
  // How long a request waits for the main loop before it is answered
  // "error busy".
  static constexpr int kAnswerWaitMs = 1500;

  explicit RemoteCommands(MessageLoop& loop) : loop_(loop) {}

  // The controller once the main window exists (null again before it goes).
  void SetController(CKivClientDlg* controller) { controller_ = controller; }
  // Whether this copy has a window a second start can bring up (the "pid"
  // answer tells it: "window" or "headless").
  void SetHasWindow(bool has_window) { has_window_ = has_window; }
  // Listener thread: the answer line for one request line. Once Stop was
  // called it answers "error stopping" at once, also to a request already
  // waiting for the main loop.
  std::string AnswerFromListener(const std::string& request);
  // Any thread: the main loop has ended and answers nothing more.
  void Stop();
  // Main thread: answers WM_REMOTE_REQUEST and notes the status events
  // the pages receive. True when the message was a request.
  bool OnMessage(Message& message);
  // Main thread: the answer to one request line.
  std::string Answer(const std::string& request);

 private:
  std::vector<std::string> Status() const;
  std::vector<std::string> Login(const std::string& email, const std::string& password);
  std::vector<std::string> LoginResult(const std::string& count) const;
  std::vector<std::string> Logout();
  std::vector<std::string> Folders() const;
  std::vector<std::string> ChangeFolders(bool add, const std::string& path);
  std::vector<std::string> Rescan();

  MessageLoop& loop_;
  CKivClientDlg* controller_ = nullptr;
  bool has_window_ = false;
  std::string last_event_;

  std::mutex mutex_;
  std::condition_variable answered_;
  std::uint64_t next_request_ = 0;
  bool stopped_ = false;
  // Requests still waited for, those the main loop is carrying out, and
  // their answers once given.
  std::map<std::uint64_t, std::string> waiting_;
  std::set<std::uint64_t> taken_;
  std::map<std::uint64_t, std::string> answers_;
};
