// FileHandle: an owning handle on one open file with positional reads and
// writes, so that several handles on the same file never share a file
// pointer. Calls return a success flag; on failure they set the thread's
// last error (a Windows error number) and keep the errno value for the
// system's own text (ErrnoText in platform/file_io.h).
//
// Thread safety: one handle belongs to one thread at a time. Different
// handles on the same file may be used from different threads; the kernel
// orders their reads and writes, the caller orders anything wider.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class ReadMapping;

class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Opens `path` for reading and writing, creating it with mode 0600 when it
  // is missing and never truncating it; a symbolic link is refused (ELOOP),
  // so nobody can point the write at another file. Closes any file held
  // before.
  bool OpenReadWrite(const std::string& path);
  // Opens `path` for reading only.
  bool OpenRead(const std::string& path);

  bool is_open() const { return fd_ >= 0; }

  // Reads up to `size` bytes at `offset`, retrying short reads until the
  // end of the file. `*done` receives the count read (fewer than `size` only
  // at the end of the file or on an error).
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t* done);
  // Writes all `size` bytes at `offset`; fails when fewer could be written
  // (a full disk, a file size limit). `*done` (when given) receives the
  // count written.
  bool WriteAt(std::uint64_t offset, const void* buffer, std::size_t size,
               std::size_t* done = nullptr);
  // Current length of the file, or -1 with the last error set.
  std::int64_t Size();
  bool Truncate(std::uint64_t length);
  // Pushes written data to the storage device (fdatasync).
  bool Flush();
  // Whether a write or truncation was tried on this handle since it was
  // opened or last flushed successfully (a failed one counts: it may have
  // changed part of the file).
  bool written_since_flush() const { return written_since_flush_; }
  // Closes the file; false when the close reported an error. Closing a
  // handle that is not open succeeds.
  bool Close();

  // errno of the last failed call on this handle (0 when none).
  int last_errno() const { return errno_; }

 private:
  bool Fail(int err);
  friend class ReadMapping;

  int fd_ = -1;
  int errno_ = 0;
  bool written_since_flush_ = false;
};

}  // namespace platform
