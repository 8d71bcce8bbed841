#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/dir_walk.h"
#include "platform/last_error.h"

namespace platform {
namespace {

DIR* AsDir(void* dir) { return static_cast<DIR*>(dir); }

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

DirReader::~DirReader() { Close(); }

void DirReader::Close() {
  if (dir_) ::closedir(AsDir(dir_));
  dir_ = nullptr;
}

bool DirReader::Open(const std::string& path) {
  Close();
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    last_errno_ = errno;
    SetLastErrorEx(ErrorFromErrno(last_errno_));
    return false;
  }
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    last_errno_ = errno;
    ::close(fd);
    SetLastErrorEx(ErrorFromErrno(last_errno_));
    return false;
  }
  dir_ = dir;
  last_errno_ = 0;
  return true;
}

bool DirReader::Next(DirEntry* entry) {
  if (!dir_) return false;
  for (;;) {
    errno = 0;
    struct dirent* d = ::readdir(AsDir(dir_));
    if (!d) {
      if (errno != 0) {
        last_errno_ = errno;
        SetLastErrorEx(ErrorFromErrno(last_errno_));
      }
      return false;
    }
    if (IsDotOrDotDot(d->d_name)) continue;
    *entry = DirEntry();
    entry->name = d->d_name;
    entry->maybe_directory = d->d_type == DT_DIR || d->d_type == DT_LNK || d->d_type == DT_UNKNOWN;
    return true;
  }
}

bool DirReader::Stat(DirEntry* entry) {
  if (!dir_) return false;
  struct stat st {};
  if (::fstatat(::dirfd(AsDir(dir_)), entry->name.c_str(), &st, 0) != 0) {
    last_errno_ = errno;
    SetLastErrorEx(ErrorFromErrno(last_errno_));
    return false;
  }
  entry->is_directory = S_ISDIR(st.st_mode);
  entry->is_regular = S_ISREG(st.st_mode);
  entry->size = static_cast<std::uint64_t>(st.st_size);
  entry->device = st.st_dev;
  entry->inode = st.st_ino;
  entry->modified = st.st_mtim.tv_sec;
  return true;
}

bool DirReader::Identity(std::uint64_t* device, std::uint64_t* inode) const {
  struct stat st {};
  if (!dir_ || ::fstat(::dirfd(AsDir(dir_)), &st) != 0) return false;
  *device = st.st_dev;
  *inode = st.st_ino;
  return true;
}

PathPresence ProbePath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return PathPresence::kPresent;
  int err = errno;
  SetLastErrorEx(ErrorFromErrno(err));
  return (err == ENOENT || err == ENOTDIR) ? PathPresence::kMissing : PathPresence::kUnknown;
}

bool IsNonEmptyDirectory(const std::string& path) {
  DirReader reader;
  if (!reader.Open(path)) return false;
  DirEntry entry;
  return reader.Next(&entry);
}

}  // namespace platform
