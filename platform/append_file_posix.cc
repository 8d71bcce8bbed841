#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/append_file.h"
#include "platform/posix_write.h"

namespace platform {

namespace posix {

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

}  // namespace posix

AppendFile::~AppendFile() { Close(); }

int AppendFile::Open(const std::string& path) {
  Close();
  if (path.empty()) return ENOENT;
  // O_NONBLOCK: the open never waits for a FIFO's reader. Only a regular
  // file or a character device is kept: a FIFO may block its writer, a block
  // device must never receive text.
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW,
                  0600);
  if (fd < 0) return errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
    ::close(fd);
    return EINVAL;
  }
  fd_ = fd;
  return 0;
}

int AppendFile::Close() {
  if (fd_ < 0) return 0;
  const int result = ::close(fd_);
  fd_ = -1;
  return result != 0 && errno != EINTR ? errno : 0;
}

int AppendFile::Write(std::string_view data) {
  if (fd_ < 0) return EBADF;
  std::size_t left = data.size();
  int err = 0;
  while (left > 0) {
    ssize_t n = ::write(fd_, data.data() + (data.size() - left), left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = errno;
      break;
    }
    left -= static_cast<std::size_t>(n);
  }
  // A record cut short (the disk filled up in the middle of it) is taken
  // back off the end, so the file never holds half a record and the next
  // record starts on a fresh line.
  const std::size_t written = data.size() - left;
  struct stat st {};
  if (err != 0 && written > 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) &&
      st.st_size >= static_cast<off_t>(written) &&
      ::ftruncate(fd_, st.st_size - static_cast<off_t>(written)) != 0) {
    // The cut could not be taken back; the next line still starts after it.
  }
  return err;
}

int AppendFile::Identity(FileIdentity* id, std::int64_t* size) const {
  struct stat st {};
  if (fd_ < 0) return EBADF;
  if (::fstat(fd_, &st) != 0) return errno;
  *id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  *size = S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : -1;
  return 0;
}

int PathIdentity(const std::string& path, FileIdentity* id) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno;
  *id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return 0;
}

}  // namespace platform
