#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/dir_walk.h"
#include "platform/last_error.h"

namespace platform {
namespace {

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Bytes of directory entries read at a time.
constexpr std::size_t kListingBytes = 16384;

// A listing buffer given back by a reader of this thread, for the next one
// to take: a walk opens one reader per folder, and a fresh buffer each time
// would cost an allocation (and its zeroing) per folder.
thread_local std::unique_ptr<char[]> t_spare_buffer;

// The next entry of the folder open as `fd`, from the entries already read
// into `buffer` (`at` to `end`) or from a fresh read into it; null at the
// end of the listing or on a read error (`*error` is then its errno).
const struct dirent64* NextRecord(int fd, char* buffer, std::size_t size, std::size_t& at,
                                  std::size_t& end, int* error) {
  *error = 0;
  if (at == end) {
    const ssize_t got = ::getdents64(fd, buffer, size);
    if (got <= 0) {
      if (got < 0) *error = errno;
      return nullptr;
    }
    at = 0;
    end = static_cast<std::size_t>(got);
  }
  const auto* d = reinterpret_cast<const struct dirent64*>(buffer + at);
  at += d->d_reclen;
  return d;
}

}  // namespace

DirReader::~DirReader() {
  Close();
  if (buffer_ && !t_spare_buffer) t_spare_buffer = std::move(buffer_);
}

void DirReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_at_ = buffer_end_ = 0;
}

bool DirReader::Adopt(int fd) {
  if (fd < 0) {
    last_errno_ = errno;
    SetLastErrorEx(ErrorFromErrno(last_errno_));
    return false;
  }
  fd_ = fd;
  if (!buffer_)
    buffer_ = t_spare_buffer ? std::move(t_spare_buffer)
                             : std::make_unique_for_overwrite<char[]>(kListingBytes);
  last_errno_ = 0;
  return true;
}

bool DirReader::Open(const std::string& path) {
  Close();
  return Adopt(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool DirReader::OpenChild(const DirReader& parent, const char* name) {
  Close();
  if (parent.fd_ < 0) {
    errno = EBADF;
    return Adopt(-1);
  }
  return Adopt(::openat(parent.fd_, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool DirReader::Next(DirEntry* entry) {
  if (fd_ < 0) return false;
  for (;;) {
    int error = 0;
    const struct dirent64* d =
        NextRecord(fd_, buffer_.get(), kListingBytes, buffer_at_, buffer_end_, &error);
    if (!d) {
      if (error != 0) {
        last_errno_ = error;
        SetLastErrorEx(ErrorFromErrno(last_errno_));
      }
      return false;
    }
    if (IsDotOrDotDot(d->d_name)) continue;
    // The name's buffer is reused from entry to entry.
    entry->name.assign(d->d_name);
    entry->is_directory = false;
    entry->is_regular = false;
    entry->size = 0;
    entry->device = 0;
    entry->inode = 0;
    entry->modified = 0;
    entry->maybe_directory = d->d_type == DT_DIR || d->d_type == DT_LNK || d->d_type == DT_UNKNOWN;
    entry->is_link = d->d_type == DT_LNK;
    return true;
  }
}

bool DirReader::Stat(DirEntry* entry) {
  if (fd_ < 0) return false;
  struct statx sx {};
  if (::statx(fd_, entry->name.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    last_errno_ = errno;
    SetLastErrorEx(ErrorFromErrno(last_errno_));
    return false;
  }
  entry->is_directory = S_ISDIR(sx.stx_mode);
  entry->is_regular = S_ISREG(sx.stx_mode);
  entry->size = sx.stx_size;
  entry->device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  entry->inode = sx.stx_ino;
  entry->modified = sx.stx_mtime.tv_sec;
  entry->created = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec;
  entry->accessed = sx.stx_atime.tv_sec;
  return true;
}

bool DirReader::Identity(std::uint64_t* device, std::uint64_t* inode) const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
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

PresenceProbe::~PresenceProbe() { CloseFolder(); }

void PresenceProbe::CloseFolder() {
  if (folder_fd_ >= 0) ::close(folder_fd_);
  folder_fd_ = -1;
  folder_.clear();
  probes_ = 0;
  names_.clear();
  listed_.clear();
}

bool PresenceProbe::ListFolder() {
  // Read straight from the held descriptor: a directory stream would cost
  // two more system calls per folder.
  alignas(8) char buffer[8192];
  std::size_t at = 0;
  std::size_t end = 0;
  int error = 0;
  std::vector<std::size_t> ends;
  while (const struct dirent64* d =
             NextRecord(folder_fd_, buffer, sizeof buffer, at, end, &error)) {
    // A link is looked up, so that a dangling one is missing.
    if (d->d_type == DT_LNK || d->d_type == DT_UNKNOWN || IsDotOrDotDot(d->d_name)) continue;
    names_ += d->d_name;
    ends.push_back(names_.size());
  }
  if (error != 0) {
    names_.clear();
    return false;
  }
  std::size_t start = 0;
  for (std::size_t stop : ends) {
    listed_.emplace_back(names_.data() + start, stop - start);
    start = stop;
  }
  std::sort(listed_.begin(), listed_.end());
  return true;
}

PathPresence PresenceProbe::Probe(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size()) return ProbePath(path);
  const std::string_view folder =
      slash == 0 ? std::string_view("/") : std::string_view(path).substr(0, slash);
  const std::string_view name = std::string_view(path).substr(slash + 1);
  if (folder_fd_ < 0 || folder != folder_) {
    CloseFolder();
    folder_ = folder;
    // Readable for listing; a folder that may be searched but not read is
    // still good for look-ups.
    folder_fd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd_ < 0 && errno == EACCES)
      folder_fd_ = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd_ < 0) {
      const int err = errno;
      SetLastErrorEx(ErrorFromErrno(err));
      folder_state_ =
          (err == ENOENT || err == ENOTDIR) ? PathPresence::kMissing : PathPresence::kUnknown;
    }
  }
  if (folder_fd_ < 0) return folder_state_;
  if (++probes_ == 2) ListFolder();
  if (std::binary_search(listed_.begin(), listed_.end(), name)) return PathPresence::kPresent;
  struct stat st {};
  if (::fstatat(folder_fd_, name.data(), &st, 0) == 0) return PathPresence::kPresent;
  const int err = errno;
  SetLastErrorEx(ErrorFromErrno(err));
  return (err == ENOENT || err == ENOTDIR) ? PathPresence::kMissing : PathPresence::kUnknown;
}

bool FolderDevice(const std::string& path, std::uint64_t* device) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  *device = st.st_dev;
  return true;
}

bool IsNonEmptyDirectory(const std::string& path) {
  // The first entries tell: a small read spares the file system listing a
  // large folder's first kListingBytes (a chosen folder of a thousand
  // artists is looked at before every run of the indexer).
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  alignas(struct dirent64) char buffer[1024];
  std::size_t at = 0;
  std::size_t end = 0;
  int error = 0;
  bool found = false;
  while (const struct dirent64* d = NextRecord(fd, buffer, sizeof buffer, at, end, &error)) {
    if (!IsDotOrDotDot(d->d_name)) {
      found = true;
      break;
    }
  }
  ::close(fd);
  return found;
}

}  // namespace platform
