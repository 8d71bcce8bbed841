#include "tools/kiv_devserver_process.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kiv_devserver {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string IdentifyDevServiceScript() { return IDENTIFY_DEVSERVICE; }

DevServer::DevServer(const std::string& dir, std::vector<std::string> args,
                     const std::string& script)
    : dir_(dir) {
  std::filesystem::create_directories(dir_);
  const std::string port_file = dir_ + "/port";
  std::filesystem::remove(port_file);
  if (!std::filesystem::exists(dir_ + "/config.json")) SetConfig("{}");
  std::vector<std::string> argv_text = {PYTHON3,       script.empty() ? KIV_DEVSERVER : script,
                                        "--port",      "0",
                                        "--port-file", port_file,
                                        "--config",    dir_ + "/config.json",
                                        "--record",    dir_ + "/record"};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string log = dir_ + "/server.log";
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (::posix_spawn(&pid_, PYTHON3, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (pid_ <= 0) return;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < end) {
    std::string text = ReadFile(port_file);
    if (!text.empty()) {
      port_ = std::atoi(text.c_str());
      return;
    }
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

DevServer::~DevServer() { Stop(); }

void DevServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < end) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string DevServer::Url() const { return Base() + "/kiv_backend/api"; }

std::string DevServer::Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

void DevServer::SetConfig(const std::string& json) {
  const std::string tmp = dir_ + "/config.json.tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << json;
  }
  std::filesystem::rename(tmp, dir_ + "/config.json");
}

std::vector<DevServer::Call> DevServer::Calls() const {
  std::vector<Call> calls;
  for (int i = 1;; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d", i);
    const std::string base = dir_ + "/record/" + name;
    if (!std::filesystem::exists(base + ".txt")) break;
    const std::string meta = ReadFile(base + ".txt");
    Call call;
    std::size_t a = meta.find('\n');
    std::size_t b = meta.find('\n', a + 1);
    std::size_t c = meta.find('\n', b + 1);
    call.method = meta.substr(0, a);
    call.user_agent = meta.substr(a + 1, b - a - 1);
    call.path = meta.substr(b + 1, c - b - 1);
    if (c != std::string::npos && c + 1 < meta.size())
      call.arrived = std::strtod(meta.c_str() + c + 1, nullptr);
    call.body = ReadFile(base + ".xml");
    const std::string done = ReadFile(base + ".done");
    if (!done.empty()) {
      call.seconds = std::strtod(done.c_str(), nullptr);
      call.answer = ReadFile(base + ".out.xml");
    }
    for (char ch : call.body)
      if (ch != '\r' && ch != '\n') call.flat += ch;
    calls.push_back(std::move(call));
  }
  return calls;
}

DevServer::Call DevServer::LastCall() const {
  std::vector<Call> calls = Calls();
  return calls.empty() ? Call() : calls.back();
}

int UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

}  // namespace kiv_devserver
