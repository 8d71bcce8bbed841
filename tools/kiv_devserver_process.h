// DevServer: the development KIV server (tools/kiv-devserver) as a real
// child process on a free loopback port, with its config file and record
// folder in a folder of the caller's. Tests and benchmarks talk to it.
//
// One object belongs to one thread; the server process answers any number
// of clients.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kiv_devserver {

class DevServer {
 public:
  // Starts the server with `args` added to its command line and waits
  // until it listens (ok() tells whether it came up). `script` is another
  // development service taking the same options (--port, --port-file,
  // --config, --record), such as IdentifyDevServiceScript().
  DevServer(const std::string& dir, std::vector<std::string> args = {},
            const std::string& script = {});
  // Stops it (SIGTERM, then SIGKILL) and reaps it.
  ~DevServer();
  DevServer(const DevServer&) = delete;
  DevServer& operator=(const DevServer&) = delete;

  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  // "http://127.0.0.1:<port>/kiv_backend/api".
  std::string Url() const;
  // "http://127.0.0.1:<port>" for GET downloads.
  std::string Base() const;
  // Replaces the config file (JSON) at once; the server reads it on its
  // next request.
  void SetConfig(const std::string& json);
  void Stop();

  struct Call {
    std::string method;
    std::string user_agent;
    std::string path;
    std::string body;
    // The body without its line breaks, for matching across them.
    std::string flat;
    // Arrival on the server's monotonic clock, in seconds (-1: not known).
    double arrived = -1;
    // The answer and the server's own time for it in seconds, once the
    // server has answered (empty and -1 before, and for failure modes).
    std::string answer;
    double seconds = -1;
  };
  // Every request received so far, in order.
  std::vector<Call> Calls() const;
  // The last request (empty method when none).
  Call LastCall() const;

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// The development lookup service of identification (tools/identify-devservice).
std::string IdentifyDevServiceScript();

// A free loopback TCP port that nothing listens on (bound and released).
int UnusedPort();

}  // namespace kiv_devserver
