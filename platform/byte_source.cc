#include "platform/byte_source.h"

#include <algorithm>
#include <cstring>

namespace platform {

long MemorySource::Read(char* buffer, std::size_t size) {
  const std::size_t n = std::min(size, bytes_.size() - offset_);
  std::memcpy(buffer, bytes_.data() + offset_, n);
  offset_ += n;
  return static_cast<long>(n);
}

bool FileSource::Open(const std::string& path) {
  offset_ = 0;
  return file_.OpenRead(path);
}

long FileSource::Read(char* buffer, std::size_t size) {
  std::size_t done = 0;
  if (!file_.ReadAt(offset_, buffer, size, &done) && done == 0) return -1;
  offset_ += done;
  return static_cast<long>(done);
}

}  // namespace platform
