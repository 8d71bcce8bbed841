#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/registry_store.h"

namespace platform::registry_store {
namespace {

// What identifies one version of the registry file without reading it.
struct Identity {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};

  bool operator==(const Identity& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
           ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

Identity IdentityOf(const struct stat& st) {
  return Identity{true, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

// Per registry file: the parsed copy and the lock file descriptor.
struct Entry {
  bool loaded = false;
  Identity identity;
  std::uint64_t counter = 0;
  RegDocument doc;
  int lock_fd = -1;
  pid_t lock_pid = 0;  // a forked child must not share the parent's lock
  bool folder_checked = false;
  // The file is damaged and no copy of it could be kept: writing would lose
  // the unreadable lines, so writes are refused until the file changes.
  bool unkept_damage = false;
};

std::mutex g_mutex;

std::map<std::string, Entry>& Entries() {
  static auto* entries = new std::map<std::string, Entry>();  // lives to exit
  return *entries;
}

std::vector<std::string>& Reports() {
  static auto* reports = new std::vector<std::string>();
  return *reports;
}

std::string FolderOf(const std::string& file) {
  std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

// Takes group and other access away from a folder of ours; never touches
// other users' folders.
void TightenFolder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
      (st.st_mode & 077) != 0)
    ::chmod(path.c_str(), st.st_mode & 0700);
}

DWORD WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? ErrorFromErrno(errno) : ERROR_WRITE_FAULT;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return ERROR_SUCCESS;
}

std::uint64_t ReadCounter(const Entry& e) {
  std::uint64_t counter = 0;
  if (e.lock_fd >= 0 && ::pread(e.lock_fd, &counter, sizeof counter, 0) != sizeof counter)
    counter = 0;
  return counter;
}

// Takes the exclusive lock on `lock_path`, reopening the descriptor after a
// fork or when the lock file was replaced under us.
DWORD AcquireLock(Entry& e, const std::string& lock_path) {
  if (e.lock_fd >= 0 && e.lock_pid != ::getpid()) {
    ::close(e.lock_fd);
    e.lock_fd = -1;
  }
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (e.lock_fd < 0) {
      int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
      if (fd < 0 && (errno == EACCES || errno == EROFS))
        fd = ::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      if (fd < 0) return ErrorFromErrno(errno);
      struct stat st {};
      if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::fchmod(fd, 0600);
      e.lock_fd = fd;
      e.lock_pid = ::getpid();
    }
    while (::flock(e.lock_fd, LOCK_EX) != 0) {
      if (errno != EINTR) return ErrorFromErrno(errno);
    }
    struct stat held {
    }, named{};
    if (::fstat(e.lock_fd, &held) == 0 && ::stat(lock_path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino)
      return ERROR_SUCCESS;
    ::close(e.lock_fd);  // also drops the lock
    e.lock_fd = -1;
  }
  return ERROR_SHARING_VIOLATION;
}

class ScopedUnlock {
 public:
  explicit ScopedUnlock(int fd) : fd_(fd) {}
  ~ScopedUnlock() {
    if (fd_ >= 0) ::flock(fd_, LOCK_UN);
  }
  ScopedUnlock(const ScopedUnlock&) = delete;
  ScopedUnlock& operator=(const ScopedUnlock&) = delete;

 private:
  int fd_;
};

// Replaces the file with `doc` and makes it the cached copy. Needs the lock.
DWORD Save(Entry& e, const std::string& file, RegDocument doc) {
  std::string text = SerializeRegistryText(doc);
  // One fixed temp name: writers hold the lock, so it is never in use by
  // another, and a leftover of a crash is simply reused.
  std::string temp = file + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return ErrorFromErrno(errno);
  ::fchmod(fd, 0600);
  DWORD err = WriteAll(fd, text);
  if (err == ERROR_SUCCESS && ::fsync(fd) != 0) err = ErrorFromErrno(errno);
  if (::close(fd) != 0 && err == ERROR_SUCCESS) err = ErrorFromErrno(errno);
  if (err == ERROR_SUCCESS && ::rename(temp.c_str(), file.c_str()) != 0)
    err = ErrorFromErrno(errno);
  if (err != ERROR_SUCCESS) {
    ::unlink(temp.c_str());
    return err;
  }
  int dir = ::open(FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  std::uint64_t counter = ReadCounter(e) + 1;
  if (e.lock_fd < 0 || ::pwrite(e.lock_fd, &counter, sizeof counter, 0) != sizeof counter)
    counter = 0;
  struct stat st {};
  e.loaded = ::stat(file.c_str(), &st) == 0;
  e.identity = e.loaded ? IdentityOf(st) : Identity{};
  e.counter = counter;
  e.doc = std::move(doc);
  return ERROR_SUCCESS;
}

// Copies damaged bytes to the first free "<file>.bad", "<file>.bad.1", ...
// so an earlier copy is never overwritten. Returns the path, or empty.
std::string KeepCopy(const std::string& file, std::string_view bytes, DWORD& err) {
  for (int n = 0; n < 1000; ++n) {
    std::string path = file + ".bad";
    if (n > 0) path += '.' + std::to_string(n);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) break;
    err = WriteAll(fd, bytes);
    if (err == ERROR_SUCCESS && ::fsync(fd) != 0) err = ErrorFromErrno(errno);
    ::close(fd);
    if (err == ERROR_SUCCESS) return path;
    ::unlink(path.c_str());
    return {};
  }
  err = errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno);
  return {};
}

void HandleDamage(Entry& e, const std::string& file, std::string_view bytes,
                  const RegParseResult& parsed, bool locked) {
  const RegParseProblem& first = parsed.problems.front();
  std::string msg =
      "Registry file " + file + " is damaged: " + std::to_string(parsed.problems.size()) +
      " problem(s), first at line " + std::to_string(first.line) + ": " + first.reason;
  DWORD err = ERROR_SUCCESS;
  std::string copy = KeepCopy(file, bytes, err);
  e.unkept_damage = copy.empty();
  if (copy.empty()) {
    // Without a copy the unreadable lines exist only in the file: leave it.
    msg += "; could not keep a copy (error " + std::to_string(err) +
           "), file left as it is and not written";
  } else {
    msg += "; damaged file kept as " + copy;
    if (locked) err = Save(e, file, e.doc);
    if (!locked || err != ERROR_SUCCESS)
      msg += "; could not rewrite the file (error " + std::to_string(locked ? err : 0) + ")";
  }
  msg += "; " + std::to_string(parsed.document.ValueCount()) + " value(s) recovered";
  std::fprintf(stderr, "%s\n", msg.c_str());
  Reports().push_back(std::move(msg));
}

// Brings the cached copy up to date with the file.
DWORD Load(Entry& e, const std::string& file, bool locked) {
  std::uint64_t counter = ReadCounter(e);
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    if (errno != ENOENT) return ErrorFromErrno(errno);
    if (!e.loaded || e.identity.exists) e.doc = RegDocument();
    e.loaded = true;
    e.unkept_damage = false;
    e.identity = Identity{};
    e.counter = counter;
    return ERROR_SUCCESS;
  }
  if (e.loaded && e.counter == counter && e.identity == IdentityOf(st)) return ERROR_SUCCESS;
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? Load(e, file, locked) : ErrorFromErrno(errno);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ERROR_CANTOPEN;
  }
  if (st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
    ::fchmod(fd, 0600);  // it holds a password
    ::fstat(fd, &st);
  }
  std::string bytes;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return ERROR_CANTREAD;
    }
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  RegParseResult parsed = ParseRegistryText(bytes);
  e.doc = parsed.document;
  e.identity = IdentityOf(st);
  e.counter = counter;
  e.loaded = true;
  e.unkept_damage = false;
  if (parsed.damaged()) HandleDamage(e, file, bytes, parsed, locked);
  return ERROR_SUCCESS;
}

// True when the parsed copy still matches the file. Needs no lock: writers
// replace the file whole and then count the change, so a reader sees either
// the old or the new version.
bool IsCurrent(const Entry& e, const std::string& file) {
  if (!e.loaded || e.lock_fd < 0 || e.lock_pid != ::getpid() || ReadCounter(e) != e.counter)
    return false;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return errno == ENOENT && !e.identity.exists;
  return e.identity == IdentityOf(st);
}

void CheckFolder(Entry& e, const std::string& folder) {
  if (e.folder_checked) return;
  TightenFolder(folder);
  e.folder_checked = true;
}

}  // namespace

DWORD Read(const std::string& file, const std::function<DWORD(const RegDocument&)>& read) {
  std::lock_guard<std::mutex> guard(g_mutex);
  Entry& e = Entries()[file];
  if (IsCurrent(e, file)) return read(e.doc);
  std::string folder = FolderOf(file);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 && errno == ENOENT) return read(RegDocument());
  CheckFolder(e, folder);
  // Without the lock (a read-only folder) reads still see whole files,
  // since writers replace the file by rename.
  bool locked = AcquireLock(e, file + ".lock") == ERROR_SUCCESS;
  ScopedUnlock unlock(locked ? e.lock_fd : -1);
  DWORD err = Load(e, file, locked);
  return err != ERROR_SUCCESS ? err : read(e.doc);
}

DWORD Update(const std::string& file,
             const std::function<DWORD(RegDocument& doc, bool& changed)>& update) {
  std::lock_guard<std::mutex> guard(g_mutex);
  Entry& e = Entries()[file];
  std::string folder = FolderOf(file);
  if (!EnsureDir(folder)) return GetLastError();
  CheckFolder(e, folder);
  DWORD err = AcquireLock(e, file + ".lock");
  if (err != ERROR_SUCCESS) return err;
  ScopedUnlock unlock(e.lock_fd);
  err = Load(e, file, true);
  if (err != ERROR_SUCCESS) return err;
  if (e.unkept_damage) return ERROR_BADDB;
  RegDocument copy = e.doc;
  bool changed = false;
  err = update(copy, changed);
  if (err != ERROR_SUCCESS || !changed) return err;
  return Save(e, file, std::move(copy));
}

std::vector<std::string> TakeDamageReport() {
  std::lock_guard<std::mutex> guard(g_mutex);
  std::vector<std::string> reports;
  reports.swap(Reports());
  return reports;
}

}  // namespace platform::registry_store
