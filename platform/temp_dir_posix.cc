#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/temp_dir.h"

namespace platform {

PrivateTempDir::PrivateTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base && base[0] == '/') ? base : "/tmp";
  pattern += "/vornic-XXXXXX";
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
  if (path_.empty()) return;
  if (DIR* dir = ::opendir(path_.c_str())) {
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) ::unlink((path_ + "/" + name).c_str());
  }
  ::rmdir(path_.c_str());
}

}  // namespace platform
