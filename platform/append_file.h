// AppendFile: one file kept open for appending, for a writer that adds many
// short records (the log), so each record costs one write instead of an
// open, a write and a close. Every write goes to the end of the file
// (O_APPEND), so other writers appending to the same file (another process)
// never overwrite it, and a record is visible to readers once Write returns:
// nothing is buffered here.
//
// Because the handle stays open, it keeps writing to the same file even when
// the name is removed or points elsewhere later; Identity and PathIdentity
// let the owner notice that and open the name again.
//
// Thread safety: one handle belongs to one thread at a time (the owner
// locks).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Which file a name or handle refers to: device and inode numbers.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens `path` for appending, created with mode 0600 when missing. Only a
  // regular file or a character device (/dev/null, a terminal) is taken: a
  // FIFO, block device, socket or folder is refused with EINVAL or EISDIR
  // (the open never blocks on a FIFO), a symbolic link with ELOOP. Closes any
  // file held before. 0 or errno.
  int Open(const std::string& path);
  // Closes the file; 0 or the close's errno. Closing a closed handle
  // succeeds.
  int Close();
  bool is_open() const { return fd_ >= 0; }

  // Writes all of `data` at the end of the file. 0 or errno; on a failure
  // the part written (of a regular file) is cut off again.
  int Write(std::string_view data);

  // The open file's identity, and its current size when it is a regular
  // file (-1 for a device). 0 or errno.
  int Identity(FileIdentity* id, std::int64_t* size) const;

 private:
  int fd_ = -1;
};

// The identity of the file named `path` now, without following a final
// symbolic link. 0 or errno (ENOENT when nothing has that name).
int PathIdentity(const std::string& path, FileIdentity* id);

}  // namespace platform
