// Small whole-file operations for the log and start-up: append bytes to a
// file, ask its size, copy it over another, remove it, test for a folder.
// Failures come back as errno values (0 = success), so callers can print the
// number the way the log's failure text wants it. Safe from any thread; none
// of these keeps a descriptor open after it returns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The result of AppendToFile: `open_error` is the errno of a failed open
// (0 when the file opened), `write_error` the errno of a failed write.
struct AppendResult {
  int open_error = 0;
  int write_error = 0;
  bool ok() const { return open_error == 0 && write_error == 0; }
};

// Opens `path` for appending (created with mode 0600 when missing), writes
// all of `data` with O_APPEND, and closes it again. Only regular files and
// character devices (/dev/null) are written: a FIFO, block device or
// socket is refused with EINVAL as the open error (the open never blocks on
// a FIFO), a symbolic link with ELOOP.
AppendResult AppendToFile(const std::string& path, std::string_view data);

// The trial open of AppendToFile without writing: 0 when `path` could be
// opened for appending, else the errno. Creates the file (0600) as an open
// for appending would.
int TryOpenForAppend(const std::string& path);

// Size in bytes of the file at `path`; false when it cannot be queried.
bool FileSize(const std::string& path, std::int64_t* size);

// Copies `from` to `to`, replacing `to` (mode 0600 when created). Neither
// may be a symbolic link (ELOOP). 0 or errno.
int CopyFileOverwrite(const std::string& from, const std::string& to);

// Removes the file at `path`. 0 or errno.
int RemoveFile(const std::string& path);

// Makes the names in the folder that holds `path` durable (an fsync of the
// folder), so a file just created there survives a power cut. 0 or errno.
int SyncParentFolder(const std::string& path);

// True when `path` names an existing folder (symlinks followed).
bool IsDirectory(const std::string& path);

// True when `path` exists at all (any kind of file).
bool PathExists(const std::string& path);

// Reads the whole regular file at `path` into `*out`. 0 or errno: EINVAL
// for anything but a regular file (the open never blocks on a FIFO), EFBIG
// when it holds more than `max_bytes`.
int ReadFileLimited(const std::string& path, std::size_t max_bytes, std::string* out);

// Replaces the contents of `path` with `data` as one step: written to
// "<path>.tmp", flushed to the device, then renamed over `path`, so a
// reader (or a crash) sees the old contents or the new, never a mix.
// Neither may be a symbolic link (ELOOP). 0 or errno.
int ReplaceFileContents(const std::string& path, std::string_view data);

// The text of an errno value (strerror_r).
std::string ErrnoText(int err);

}  // namespace platform
