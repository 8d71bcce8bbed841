#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/folders.h"
#include "platform/last_error.h"

namespace platform {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return (v && *v == '/') ? std::string(v) : std::string();
}

bool IsUsableDir(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ::access(path.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string HomeDir() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  struct passwd pw {};
  struct passwd* result = nullptr;
  char buf[4096];
  if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &result) == 0 && result && pw.pw_dir)
    return pw.pw_dir;
  return "/";
}

std::string ConfigDir() {
  std::string base = Env("XDG_CONFIG_HOME");
  if (base.empty()) base = HomeDir() + "/.config";
  return base + "/kiv";
}

std::string DataDir() {
  std::string base = Env("XDG_DATA_HOME");
  if (base.empty()) base = HomeDir() + "/.local/share";
  return base + "/kiv";
}

std::string RuntimeDir() {
  std::string dir = Env("XDG_RUNTIME_DIR");
  if (!dir.empty() && IsUsableDir(dir) && IsPrivateDir(dir)) return dir;
  return DataDir();
}

bool IsPrivateDir(const std::string& path, std::string* why) {
  std::string reason;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    reason = std::strerror(errno);
  else if (!S_ISDIR(st.st_mode))
    reason = "it is not a folder";
  else if (st.st_uid != ::geteuid())
    reason = "it belongs to another user";
  else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    reason = "other users may write to it";
  if (why) *why = reason;
  return reason.empty();
}

bool PrepareDataDir(std::string* problem) {
  const std::string dir = DataDir();
  if (!EnsureDir(dir)) {
    *problem = "unable to create the data folder " + dir + ": " + std::strerror(errno);
    return false;
  }
  std::string why;
  if (!IsPrivateDir(dir, &why)) {
    // Not repaired: whatever someone else may have planted in it stays.
    *problem = "the data folder " + dir + " is not safe to use (" + why +
               "); it must belong to you and be writable by you alone";
    return false;
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0 && (st.st_mode & 077) != 0) ::chmod(dir.c_str(), 0700);
  return true;
}

std::string ParseUserDirsMusic(const std::string& text, const std::string& home) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, 14, "XDG_MUSIC_DIR=") != 0) continue;
    std::string value = line.substr(start + 14);
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    if (value.empty() || value[0] != '/') return {};
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    return value;
  }
  return {};
}

std::string MusicDir() {
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty()) config = HomeDir() + "/.config";
  std::ifstream in(config + "/user-dirs.dirs");
  if (in) {
    std::stringstream text;
    text << in.rdbuf();
    std::string music = ParseUserDirsMusic(text.str(), HomeDir());
    if (!music.empty()) return music;
  }
  return HomeDir() + "/Music";
}

std::string ProgramDir() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  // Without /proc the folder is unknown; "." would trust whatever the
  // current folder holds.
  if (n <= 0 || buf[0] != '/') return {};
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ModuleDir() {
  const std::string program = ProgramDir();
  if (program.empty()) return {};
  const std::size_t slash = program.rfind('/');
  if (slash != std::string::npos && program.compare(slash, std::string::npos, "/bin") == 0) {
    const std::string installed = program.substr(0, slash) + "/" + VORNIC_MODULE_SUBDIR;
    struct stat st;
    if (::stat(installed.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return installed;
  }
  return program;
}

bool EnsureDir(const std::string& path) {
  if (path.empty()) {
    SetLastErrorEx(ERROR_PATH_NOT_FOUND);
    return false;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    SetLastErrorEx(ERROR_PATH_NOT_FOUND);
    return false;
  }
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !EnsureDir(path.substr(0, slash))) return false;
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    SetLastErrorEx(ErrorFromErrno(errno));
    return false;
  }
  return true;
}

namespace {

// Whether `path` is `tree` or lies below it, comparing whole components.
bool IsUnder(std::string_view path, std::string_view tree) {
  return path.substr(0, tree.size()) == tree &&
         (path.size() == tree.size() || path[tree.size()] == '/');
}

}  // namespace

bool IsInSystemTree(std::string_view path) {
  static constexpr std::string_view kSystemTrees[] = {"/proc", "/sys", "/dev", "/run",
                                                      "/usr",  "/etc", "/boot"};
  if (IsUnder(path, "/run/media")) return false;
  for (std::string_view tree : kSystemTrees)
    if (IsUnder(path, tree)) return true;
  return false;
}

bool ChildrenShareSystemTree(std::string_view folder) {
  // A trailing separator is no component: the entries of "/run/" are those
  // of "/run", and "/run/media" answers otherwise than "/run".
  while (!folder.empty() && folder.back() == '/') folder.remove_suffix(1);
  const std::size_t first = folder.find('/');
  return first != std::string_view::npos && folder.find('/', first + 1) != std::string_view::npos;
}

}  // namespace platform
