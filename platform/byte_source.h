// ByteSource: where a reader's bytes come from, so that parsers take bytes
// and tests and fuzzers can feed them from a buffer instead of a file.
//
// Thread safety: one source belongs to one reader at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_handle.h"

namespace platform {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes; returns the count, 0 at the end, -1 on a
  // read error.
  virtual long Read(char* buffer, std::size_t size) = 0;
};

// A buffer the caller keeps alive.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  long Read(char* buffer, std::size_t size) override;

 private:
  std::string_view bytes_;
  std::size_t offset_ = 0;
};

// A file, read from its start.
class FileSource : public ByteSource {
 public:
  // False when the file cannot be opened (the last error is set).
  bool Open(const std::string& path);
  long Read(char* buffer, std::size_t size) override;

 private:
  FileHandle file_;
  std::uint64_t offset_ = 0;
};

}  // namespace platform
