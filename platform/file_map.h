// ReadMapping: a read-only view of a range of an open file, for reading a
// large file without copying it into a buffer. A reader of a whole large
// file maps it a window at a time, so that the file's pages count in the
// process's resident memory only while their window is mapped.
//
// A file that another process shortens while it is mapped would raise
// SIGBUS at the next touch of a page past its new end. While any view is
// mapped, a SIGBUS handler puts a page of zeros in place of such a page of a
// view and marks the view `lost`, so the program never dies of it: a reader
// that finds the view lost distrusts what it read and reads the file again
// the plain way. A SIGBUS elsewhere goes to the handler that was there
// before.
//
// Thread safety: one view belongs to one thread; views on different
// threads may be mapped and unmapped at the same time (at most
// kMaxReadMappings at once: Map fails beyond that).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/file_handle.h"

namespace platform {

inline constexpr int kMaxReadMappings = 4;

class ReadMapping {
 public:
  ReadMapping() = default;
  ~ReadMapping();
  ReadMapping(const ReadMapping&) = delete;
  ReadMapping& operator=(const ReadMapping&) = delete;

  // Maps `length` bytes of `file` from `offset` (a multiple of the page
  // size; the file must reach at least that far now) with their pages read
  // in, replacing the view held before. False when the range cannot be
  // mapped; nothing is mapped then.
  bool Map(const FileHandle& file, std::uint64_t offset, std::size_t length);
  bool Map(const FileHandle& file, std::size_t length) { return Map(file, 0, length); }
  // What a view's offset must be a multiple of (the page size).
  static std::size_t Granularity();
  void Unmap();

  // The view's first byte, which is the file's byte at offset().
  const char* data() const { return data_; }
  std::uint64_t offset() const { return offset_; }
  std::size_t size() const { return size_; }
  // True once a page of the view was lost because the file shrank: the
  // bytes read from there may be zeros.
  bool lost() const;

 private:
  const char* data_ = nullptr;
  std::uint64_t offset_ = 0;
  std::size_t size_ = 0;
  int slot_ = -1;
};

}  // namespace platform
