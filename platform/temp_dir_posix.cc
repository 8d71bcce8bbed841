#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/temp_dir.h"

namespace platform {
namespace {

constexpr const char* kPrefix = "vornic-";

std::string TempBase() {
  const char* base = std::getenv("TMPDIR");
  return (base && base[0] == '/') ? base : "/tmp";
}

// Removes the files directly inside `path`, then the folder.
void RemoveFolder(const std::string& path) {
  if (DIR* dir = ::opendir(path.c_str())) {
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) ::unlink((path + "/" + name).c_str());
  }
  ::rmdir(path.c_str());
}

// The process id in a name "vornic-<pid>-XXXXXX"; 0 when it is not one.
pid_t OwnerPid(const std::string& name) {
  const std::string prefix = kPrefix;
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  const std::size_t dash = name.find('-', prefix.size());
  if (dash == std::string::npos || dash == prefix.size() || dash - prefix.size() > 9) return 0;
  pid_t pid = 0;
  for (std::size_t i = prefix.size(); i < dash; ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    pid = pid * 10 + (name[i] - '0');
  }
  return pid;
}

}  // namespace

int PrivateTempDir::RemoveStale() {
  const std::string base = TempBase();
  DIR* dir = ::opendir(base.c_str());
  if (!dir) return 0;
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const pid_t pid = OwnerPid(name);
    if (pid <= 0 || pid == ::getpid()) continue;
    struct stat st {};
    if (::lstat((base + "/" + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::getuid())
      continue;
    if (::kill(pid, 0) != 0 && errno == ESRCH) stale.push_back(base + "/" + name);
  }
  ::closedir(dir);
  for (const std::string& path : stale) RemoveFolder(path);
  return static_cast<int>(stale.size());
}

PrivateTempDir::PrivateTempDir() {
  std::string pattern = TempBase() + "/" + kPrefix + std::to_string(::getpid()) + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  // mkdtemp makes the folder with mode 0700.
  if (::mkdtemp(buffer.data()) == nullptr) {
    error_ = errno;
    return;
  }
  path_ = buffer.data();
}

PrivateTempDir::~PrivateTempDir() {
  if (!path_.empty()) RemoveFolder(path_);
}

}  // namespace platform
