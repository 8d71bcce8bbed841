#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/file_handle.h"
#include "platform/last_error.h"

namespace platform {

FileHandle::~FileHandle() { Close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      errno_(other.errno_),
      written_since_flush_(std::exchange(other.written_since_flush_, false)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    errno_ = other.errno_;
    written_since_flush_ = std::exchange(other.written_since_flush_, false);
  }
  return *this;
}

bool FileHandle::Fail(int err) {
  errno_ = err;
  SetLastErrorEx(ErrorFromErrno(err));
  return false;
}

bool FileHandle::OpenReadWrite(const std::string& path) {
  Close();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Fail(errno);
  fd_ = fd;
  errno_ = 0;
  return true;
}

bool FileHandle::OpenRead(const std::string& path) {
  Close();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  fd_ = fd;
  errno_ = 0;
  return true;
}

bool FileHandle::ReadAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t* done) {
  *done = 0;
  if (fd_ < 0) return Fail(EBADF);
  auto* out = static_cast<char*>(buffer);
  while (*done < size) {
    ssize_t n = ::pread(fd_, out + *done, size - *done, static_cast<off_t>(offset + *done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) break;
    *done += static_cast<std::size_t>(n);
  }
  return true;
}

bool FileHandle::WriteAt(std::uint64_t offset, const void* buffer, std::size_t size,
                         std::size_t* done) {
  std::size_t written = 0;
  if (done) *done = 0;
  if (fd_ < 0) return Fail(EBADF);
  written_since_flush_ = true;
  const auto* in = static_cast<const char*>(buffer);
  while (written < size) {
    ssize_t n = ::pwrite(fd_, in + written, size - written, static_cast<off_t>(offset + written));
    if (n < 0) {
      if (errno == EINTR) continue;
      if (done) *done = written;
      return Fail(errno);
    }
    if (n == 0) {
      if (done) *done = written;
      return Fail(ENOSPC);
    }
    written += static_cast<std::size_t>(n);
  }
  if (done) *done = written;
  return true;
}

std::int64_t FileHandle::Size() {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    Fail(fd_ < 0 ? EBADF : errno);
    return -1;
  }
  return static_cast<std::int64_t>(st.st_size);
}

bool FileHandle::Truncate(std::uint64_t length) {
  if (fd_ < 0) return Fail(EBADF);
  written_since_flush_ = true;
  while (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
    if (errno != EINTR) return Fail(errno);
  }
  return true;
}

bool FileHandle::Flush() {
  if (fd_ < 0) return Fail(EBADF);
  if (::fdatasync(fd_) != 0) return Fail(errno);
  written_since_flush_ = false;
  return true;
}

bool FileHandle::Close() {
  if (fd_ < 0) return true;
  int fd = std::exchange(fd_, -1);
  written_since_flush_ = false;
  // The descriptor is released even when close reports an error; retrying
  // could close a descriptor that another thread has been given meanwhile.
  if (::close(fd) != 0 && errno != EINTR) return Fail(errno);
  return true;
}

}  // namespace platform
