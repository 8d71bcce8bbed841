// SingleInstance: makes sure one copy of the program runs per user session
// and lets a later copy hand a command to the running one.
//
// The first copy holds an exclusive flock on "<lock dir>/kiv.lock" for its
// whole life and listens on the Unix socket "<socket dir>/kiv.sock". The
// lock lives in the data folder beside the database, so every copy of one
// user meets it whatever its environment (a copy started without
// XDG_RUNTIME_DIR by cron, su or ssh has another runtime folder). A later
// copy fails to take the lock, connects to the socket and sends one request
// line; the first copy answers with one line and closes the connection. A
// command number in decimal text is answered "ok" when the command handler
// accepts it, else "error unknown request"; other requests go to the
// request handler given to Listen ("error unknown request" without one).
// Each client has 200 ms from its connection to its request line, several
// are served at once (a newcomer displaces the oldest), and stopping closes
// them all at once, so no client can hold up the running copy or its
// shutdown. Because the lock is released by the kernel when a process dies,
// a crashed first copy never blocks a new start; a stale socket file is
// replaced by the next first copy.
//
// The first copy writes its process id and its socket's path into the lock
// file ("PID\nSOCKET\n"), so a later copy or the command line finds the
// socket whatever runtime folder their own environment names
// (FindRunningCopy).
//
// Acquire, Listen, SendCommand and Release belong to one thread (start-up).
// The command callback runs on the listener's own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "platform/wake_event.h"

namespace platform {

class SingleInstance {
 public:
  enum class State { kNotTried, kFirst, kAnotherRunning, kFailed };

  // No system calls here; `lock_dir` is usually DataDir() and `socket_dir`
  // RuntimeDir().
  SingleInstance(std::string lock_dir, std::string socket_dir);
  // Lock and socket in one folder.
  explicit SingleInstance(std::string dir) : SingleInstance(dir, dir) {}
  ~SingleInstance();  // Release()
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Takes the lock. kFailed when the lock file cannot be opened (a symbolic
  // link is refused) or locked for another reason than a running copy;
  // error() has the errno.
  State Acquire();
  State state() const { return state_; }
  int error() const { return error_; }
  std::string LockPath() const { return lock_dir_ + "/kiv.lock"; }
  // This copy's own socket (first copy), from its socket folder.
  std::string SocketPath() const { return socket_dir_ + "/kiv.sock"; }
  // The socket requests go to: the one the running copy published in the
  // lock file once Acquire found it running (or SetPeerSocket named),
  // else SocketPath().
  std::string PeerSocketPath() const { return peer_socket_.empty() ? SocketPath() : peer_socket_; }
  void SetPeerSocket(std::string path) { peer_socket_ = std::move(path); }

  // First copy only: listens on the socket; every command received calls
  // `on_command` on the listener thread, which answers whether it is one
  // the program takes. False (error() set) when the socket cannot be
  // created; the lock is still held.
  // Any other request line goes to `on_request` (when given), also on the
  // listener thread, and its result is the answer line (without line end).
  bool Listen(std::function<bool(std::uint32_t command)> on_command,
              std::function<std::string(const std::string& request)> on_request = {});

  // Stops listening and removes the socket file, keeping the lock: no
  // client is served after it returns, and clients still queued are
  // dropped unanswered. Returns once the listener has ended, which takes
  // no longer than the request being answered at that moment.
  void StopListening();

  // Later copy: sends `command` to the running copy. False (error() set)
  // when it did not answer "ok" within `timeout_ms`.
  bool SendCommand(std::uint32_t command, int timeout_ms = 2000);
  // Later copy: sends one request line (without its line end) and reads
  // the answer line into `answer`. Connecting is retried while the first
  // copy is still setting up its socket; connecting, sending and reading
  // all end within `timeout_ms`. False (error() set) without an answer.
  bool SendRequest(const std::string& request, std::string* answer, int timeout_ms = 2000);

  // Stops listening, removes the socket file (first copy only) and releases
  // the lock.
  void Release();

 private:
  void Serve();
  // Reads what a client sent and answers a whole line; false once the
  // client is done with (answered, gone, too long or past its deadline).
  bool ServeClient(int fd, bool readable, std::int64_t deadline_ms, std::string& text);
  std::string Answer(const std::string& request);

  // Writes "PID\nSOCKET\n" into the lock file (first copy).
  void Publish(const std::string& socket_path);

  std::string lock_dir_;
  std::string socket_dir_;
  std::string peer_socket_;
  State state_ = State::kNotTried;
  int error_ = 0;
  int lock_fd_ = -1;
  int listen_fd_ = -1;
  std::function<bool(std::uint32_t)> on_command_;
  std::function<std::string(const std::string&)> on_request_;
  WakeEvent stop_;
  std::atomic<bool> stopping_{false};
  std::thread listener_;
};

// What the lock file in `lock_dir` says about the copy that holds it.
struct RunningCopyInfo {
  bool running = false;     // a process holds the lock
  long pid = 0;             // the pid it published (0: not yet, or unknown)
  std::string socket_path;  // its socket (empty: not listening yet, or none)
};
// Looks without taking the lock for good: a shared lock is tried and at
// once released, and a copy starting at that moment tries its lock again
// (Acquire). Not running when the lock file is missing or cannot be read.
RunningCopyInfo FindRunningCopy(const std::string& lock_dir);

// Parses one command line ("1624\n"); false when it is not a decimal
// number that fits in 32 bits.
bool ParseInstanceCommand(const std::string& text, std::uint32_t* command);

}  // namespace platform
