#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/append_file.h"
#include "platform/file_io.h"
#include "platform/posix_write.h"

namespace platform {

AppendResult AppendToFile(const std::string& path, std::string_view data) {
  AppendResult result;
  AppendFile file;
  result.open_error = file.Open(path);
  if (result.open_error != 0) return result;
  result.write_error = file.Write(data);
  const int close_error = file.Close();
  if (result.write_error == 0) result.write_error = close_error;
  return result;
}

int TryOpenForAppend(const std::string& path) { return AppendFile().Open(path); }

bool FileSize(const std::string& path, std::int64_t* size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  *size = static_cast<std::int64_t>(st.st_size);
  return true;
}

int CopyFileOverwrite(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) return errno;
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (out < 0) {
    int err = errno;
    ::close(in);
    return err;
  }
  int err = 0;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) break;
    err = posix::WriteAll(out, std::string_view(buf, static_cast<size_t>(n)));
    if (err != 0) break;
  }
  ::close(in);
  if (::close(out) != 0 && err == 0 && errno != EINTR) err = errno;
  return err;
}

int ReplaceFileContents(const std::string& path, std::string_view data) {
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return errno;
  int err = posix::WriteAll(fd, data);
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) ::unlink(temp.c_str());
  return err;
}

int ReadFileLimited(const std::string& path, std::size_t max_bytes, std::string* out) {
  out->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat st {};
  int err = 0;
  if (::fstat(fd, &st) != 0)
    err = errno;
  else if (!S_ISREG(st.st_mode))
    err = EINVAL;
  else if (static_cast<std::uint64_t>(st.st_size) > max_bytes)
    err = EFBIG;
  char buf[65536];
  while (err == 0) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno != EINTR) err = errno;
      continue;
    }
    if (n == 0) break;
    if (out->size() + static_cast<std::size_t>(n) > max_bytes) {
      err = EFBIG;  // grew while being read
      break;
    }
    out->append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (err != 0) out->clear();
  return err;
}

int RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

int SyncParentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int result = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return result;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

std::string ErrnoText(int err) {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not be in `buf`.
  return std::string(::strerror_r(err, buf, sizeof buf));
}

}  // namespace platform
