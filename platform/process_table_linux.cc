#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "platform/last_error.h"
#include "platform/process_table.h"

namespace platform {
namespace {

bool Fail(int err) {
  SetLastErrorEx(ErrorFromErrno(err));
  return false;
}

// Reads at most `size` bytes of a small /proc file relative to `dir_fd`.
// Returns the count, or -1 with errno set.
ssize_t ReadSmallFile(int dir_fd, const char* path, char* buffer, std::size_t size) {
  int fd = ::openat(dir_fd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t got;
  do {
    got = ::read(fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return got;
}

std::string DescriptorPath(std::uint32_t pid, int number, const char* folder) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/%s/%d", pid, folder, number);
  return path;
}

DescriptorKind KindOfMode(unsigned mode) {
  switch (mode & S_IFMT) {
    case S_IFREG:
      return DescriptorKind::kFile;
    case S_IFDIR:
      return DescriptorKind::kDirectory;
    case S_IFSOCK:
      return DescriptorKind::kSocket;
    case S_IFIFO:
      return DescriptorKind::kPipe;
    case S_IFCHR:
    case S_IFBLK:
      return DescriptorKind::kDevice;
    default:
      return DescriptorKind::kOther;
  }
}

// Kind and link count of the file behind `name` in the descriptor folder
// `dir_fd`. AT_STATX_DONT_SYNC takes the cached attributes, so a file on a
// network mount that stopped answering does not hold the look.
bool StatDescriptor(int dir_fd, const char* name, Descriptor* out) {
  struct statx st;
  if (::statx(dir_fd, name, AT_STATX_DONT_SYNC, STATX_TYPE | STATX_NLINK | STATX_INO | STATX_SIZE,
              &st) != 0)
    return false;
  out->kind = KindOfMode(st.stx_mode);
  out->device = makedev(st.stx_dev_major, st.stx_dev_minor);
  out->inode = st.stx_ino;
  out->size = st.stx_size;
  out->unlinked = out->kind == DescriptorKind::kFile && st.stx_nlink == 0;
  return true;
}

// Reads the cmdline and comm names of `pid`; false when it has ended.
// Reads the comm name of `pid`; false when it has ended.
bool ReadComm(int proc_fd, std::uint32_t pid, std::string* comm) {
  char buffer[256];
  char path[48];
  std::snprintf(path, sizeof path, "%u/comm", pid);
  const ssize_t got = ReadSmallFile(proc_fd, path, buffer, sizeof buffer);
  if (got < 0) return false;
  *comm = ImageNameFromComm(std::string_view(buffer, got));
  return true;
}

// Reads the cmdline and comm names of `pid`; false when it has ended.
bool ReadNames(int proc_fd, std::uint32_t pid, ProcessNames* names) {
  if (!ReadComm(proc_fd, pid, &names->comm)) return false;
  char buffer[4096];
  char path[48];
  std::snprintf(path, sizeof path, "%u/cmdline", pid);
  const ssize_t got = ReadSmallFile(proc_fd, path, buffer, sizeof buffer);
  if (got < 0) return false;
  names->image = ImageNameFromCmdline(std::string_view(buffer, got));
  if (names->image.empty()) names->image = names->comm;
  return true;
}

}  // namespace

bool ListProcesses(const ProcessVisitor& visit) {
  ProcessTable table;
  return table.List(visit);
}

bool ProcessTable::List(const ProcessVisitor& visit) {
  int proc_fd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc_fd < 0) return Fail(errno);
  DIR* dir = ::fdopendir(::dup(proc_fd));
  if (!dir) {
    const int err = errno;
    ::close(proc_fd);
    return Fail(err);
  }
  ++pass_;
  while (struct dirent* entry = ::readdir(dir)) {
    std::uint32_t pid = 0;
    if (!ParseProcessId(entry->d_name, &pid)) continue;
    Known& known = known_[pid];
    const bool same = known.pass != 0 && known.inode == entry->d_ino;
    if (same) {
      ++known.listings;
      ++known.since_read;
    }
    if (same && known.listings > 2 && known.since_read >= kRefreshListings) {
      // A later exec changes the kernel name too: the command line is read
      // again only then, which halves the reads of a listing.
      std::string comm;
      if (!ReadComm(proc_fd, pid, &comm)) {
        known_.erase(pid);  // ended since the listing
        continue;
      }
      if (comm == known.names.comm) known.since_read = 0;
    }
    if (!same || known.listings <= 2 || known.since_read >= kRefreshListings) {
      if (!ReadNames(proc_fd, pid, &known.names)) {
        known_.erase(pid);  // ended since the listing
        continue;
      }
      if (!same) known.listings = 0;
      known.since_read = 0;
      known.inode = entry->d_ino;
    }
    known.pass = pass_;
    visit(pid, known.names);
  }
  ::closedir(dir);
  ::close(proc_fd);
  std::erase_if(known_, [this](const auto& item) { return item.second.pass != pass_; });
  return true;
}

bool ProcessBelongsToUser(std::uint32_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%u", pid);
  struct stat st;
  if (::stat(path, &st) != 0) return Fail(errno);
  return st.st_uid == ::geteuid();
}

bool ReadProcessStartTime(std::uint32_t pid, std::uint64_t* start) {
  char path[40];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  char buffer[1024];
  const ssize_t got = ReadSmallFile(AT_FDCWD, path, buffer, sizeof buffer);
  if (got < 0) return Fail(errno);
  if (!ParseProcessStartTime(std::string_view(buffer, got), start)) {
    SetLastErrorEx(ERROR_INVALID_DATA);
    return false;
  }
  return true;
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool ListDescriptors(std::uint32_t pid, std::vector<Descriptor>* out) {
  out->clear();
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%u/fd", pid);
  int dir_fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return Fail(errno);
  DIR* dir = ::fdopendir(dir_fd);
  if (!dir) {
    const int err = errno;
    ::close(dir_fd);
    return Fail(err);
  }
  while (struct dirent* entry = ::readdir(dir)) {
    std::uint32_t number = 0;
    // Descriptor 0 is a valid number; ParseProcessId refuses it.
    if (entry->d_name[0] == '0' && entry->d_name[1] == '\0') {
      number = 0;
    } else if (!ParseProcessId(entry->d_name, &number) || number > 0x7FFFFFFF) {
      continue;
    }
    Descriptor descriptor;
    descriptor.number = static_cast<int>(number);
    if (StatDescriptor(dir_fd, entry->d_name, &descriptor)) out->push_back(descriptor);
  }
  ::closedir(dir);
  std::sort(out->begin(), out->end(),
            [](const Descriptor& a, const Descriptor& b) { return a.number < b.number; });
  return true;
}

bool QueryDescriptor(std::uint32_t pid, int number, Descriptor* out) {
  const std::string path = DescriptorPath(pid, number, "fd");
  Descriptor descriptor;
  descriptor.number = number;
  if (!StatDescriptor(AT_FDCWD, path.c_str(), &descriptor)) return Fail(errno);
  *out = descriptor;
  return true;
}

bool ReadDescriptorTarget(std::uint32_t pid, int number, std::string* target) {
  const std::string path = DescriptorPath(pid, number, "fd");
  char buffer[PATH_MAX + 16];
  ssize_t got = ::readlink(path.c_str(), buffer, sizeof buffer);
  if (got < 0) return Fail(errno);
  if (static_cast<std::size_t>(got) == sizeof buffer) return Fail(ENAMETOOLONG);
  target->assign(buffer, got);
  return true;
}

bool ReadDescriptorInfo(std::uint32_t pid, int number, DescriptorInfo* info) {
  const std::string path = DescriptorPath(pid, number, "fdinfo");
  char buffer[1024];
  ssize_t got = ReadSmallFile(AT_FDCWD, path.c_str(), buffer, sizeof buffer);
  if (got < 0) return Fail(errno);
  if (!ParseDescriptorInfo(std::string_view(buffer, got), info)) {
    SetLastErrorEx(ERROR_INVALID_DATA);
    return false;
  }
  return true;
}

}  // namespace platform
