// Directory listing for the collection walk: one open directory at a time,
// its entries by name, and the properties of an entry on request (the
// caller skips hidden names before paying for a stat). Also the presence
// tests the indexer uses before it calls a vanished file deleted.
//
// A DirReader belongs to one thread; the free functions keep no state and
// are safe from any thread. Failures return false and set the thread's last
// error (and, for DirReader, keep the errno for log lines).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One directory entry. Properties describe the target of a symbolic link
// (as a directory search on a followed link would), so a linked folder
// shows as a directory with the target's device and inode.
struct DirEntry {
  std::string name;
  // From the listing alone: false only when the entry is known not to be
  // a folder (nor a link to one), so a walk that wants folders only can
  // skip the Stat of plain files.
  bool maybe_directory = true;
  // From the listing alone: the entry is a symbolic link (false when the
  // file system does not say).
  bool is_link = false;
  bool is_directory = false;
  bool is_regular = false;
  std::uint64_t size = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t modified = 0;  // last write, seconds since 1970 (UTC)
  // Birth time when the file system has one, else change time; last
  // access (as FileInfo has them).
  std::int64_t created = 0;
  std::int64_t accessed = 0;
};

class DirReader {
 public:
  DirReader() = default;
  ~DirReader();
  DirReader(const DirReader&) = delete;
  DirReader& operator=(const DirReader&) = delete;

  // Opens `path` for listing (closing any earlier one). False when it is
  // missing, not a directory or unreadable.
  bool Open(const std::string& path);
  // The same for the entry `name` of the folder `parent` has open, found
  // from there rather than by walking its whole path again.
  bool OpenChild(const DirReader& parent, const char* name);
  void Close();
  // The next entry's name (never "." or ".."); other fields are cleared.
  // False at the end of the listing or on a read error (see last_errno).
  bool Next(DirEntry* entry);
  // Fills the properties of `entry` (named by Next) relative to the open
  // directory, following a symbolic link. False when the entry vanished
  // since it was listed, is a dangling link, or cannot be queried.
  bool Stat(DirEntry* entry);
  // Device and inode of the open directory itself.
  bool Identity(std::uint64_t* device, std::uint64_t* inode) const;

  // errno of the last failed call; 0 when none failed.
  int last_errno() const { return last_errno_; }

 private:
  // Takes the result of an open(2) of a folder.
  bool Adopt(int fd);

  int fd_ = -1;
  // Entries read from the folder and not handed out yet; the buffer is
  // kept from folder to folder.
  std::unique_ptr<char[]> buffer_;
  std::size_t buffer_at_ = 0;
  std::size_t buffer_end_ = 0;
  int last_errno_ = 0;
};

// What a failed or successful look at a path says about its presence.
enum class PathPresence {
  kPresent,  // it exists
  kMissing,  // ENOENT or ENOTDIR: nothing is there
  kUnknown,  // it could not be told (no permission, I/O error, ...)
};

// Presence of `path`, following symbolic links.
PathPresence ProbePath(const std::string& path);

// Presence of many paths in a row, such as every record of the database:
// the folder of the last path stays open, so paths of one folder cost one
// look-up of their name instead of a walk of the whole path. From the
// second path of a folder on, the folder is listed once and a name listed
// as a plain entry (not a link) answers present without a look-up of its
// own; any other name is looked up. A folder renamed while a probe holds it
// still answers for its old path, and a file listed there for its presence,
// until the probe moves on to another folder.
class PresenceProbe {
 public:
  PresenceProbe() = default;
  ~PresenceProbe();
  PresenceProbe(const PresenceProbe&) = delete;
  PresenceProbe& operator=(const PresenceProbe&) = delete;

  // As ProbePath(path).
  PathPresence Probe(const std::string& path);

 private:
  void CloseFolder();
  // Fills `listed_` from the open folder; false when it cannot be listed.
  bool ListFolder();

  std::string folder_;
  int folder_fd_ = -1;
  PathPresence folder_state_ = PathPresence::kUnknown;
  // Paths probed in the current folder.
  int probes_ = 0;
  // Names of the folder's entries that are not links, sorted; they point
  // into `names_`.
  std::string names_;
  std::vector<std::string_view> listed_;
};

// True when `path` is a directory that holds at least one entry. An
// unmounted mount point is an empty folder, so this is the test of whether
// the volume under a chosen folder is there.
bool IsNonEmptyDirectory(const std::string& path);

// The device number of the folder at `path` (symbolic links followed); false
// when it is not a folder or cannot be queried. A folder whose device
// differs from its parent's is a mount point.
bool FolderDevice(const std::string& path, std::uint64_t* device);

}  // namespace platform
