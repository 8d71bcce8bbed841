#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/file_lock.h"

namespace platform {
namespace {

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t start = line.find_first_not_of(' ', at);
    if (start == std::string_view::npos) break;
    std::size_t end = line.find(' ', start);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(start, end - start));
    at = end;
  }
  return fields;
}

template <typename T>
bool Number(std::string_view text, T* value, int base = 10) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
  return ec == std::errc() && end == text.data() + text.size();
}

// "MAJOR:MINOR:INODE", the first two in hex.
bool ParseFileId(std::string_view text, std::uint64_t* device, std::uint64_t* inode) {
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  if (second == std::string_view::npos) return false;
  unsigned major_id = 0, minor_id = 0;
  if (!Number(text.substr(0, first), &major_id, 16) ||
      !Number(text.substr(first + 1, second - first - 1), &minor_id, 16) ||
      !Number(text.substr(second + 1), inode))
    return false;
  *device = makedev(major_id, minor_id);
  return true;
}

std::string ReadProcLocks() {
  std::ifstream in("/proc/locks");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int FlockHolderPid(std::string_view proc_locks, std::uint64_t device, std::uint64_t inode) {
  int same_inode_pid = 0;
  int same_inode_lines = 0;
  while (!proc_locks.empty()) {
    const std::size_t end = proc_locks.find('\n');
    const std::string_view line = proc_locks.substr(0, end);
    proc_locks = end == std::string_view::npos ? std::string_view() : proc_locks.substr(end + 1);
    // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:5310746 0 EOF"; a waiting lock
    // has "->" after the number.
    const std::vector<std::string_view> f = Fields(line);
    if (f.size() < 6 || f[1] != "FLOCK" || f[3] != "WRITE") continue;
    int pid = 0;
    std::uint64_t dev = 0, ino = 0;
    if (!Number(f[4], &pid) || !ParseFileId(f[5], &dev, &ino) || ino != inode) continue;
    if (dev == device) return pid;
    same_inode_pid = pid;
    ++same_inode_lines;
  }
  return same_inode_lines == 1 ? same_inode_pid : 0;
}

FileLock::~FileLock() { Release(); }

FileLock::State FileLock::Take(const std::string& path) {
  Release();
  path_ = path;
  error_ = 0;
  holder_pid_ = 0;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    error_ = errno;
    return state_ = State::kFailed;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return state_ = State::kHeld;
  error_ = errno;
  if (error_ == EWOULDBLOCK) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0) holder_pid_ = FlockHolderPid(ReadProcLocks(), st.st_dev, st.st_ino);
  }
  ::close(fd_);
  fd_ = -1;
  return state_ = (error_ == EWOULDBLOCK) ? State::kHeldElsewhere : State::kFailed;
}

void FileLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);  // releases the flock
    fd_ = -1;
  }
  state_ = State::kNotHeld;
}

}  // namespace platform
