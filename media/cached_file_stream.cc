#include "media/cached_file_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace scan_internal {

namespace {
constexpr std::uint64_t kNoBlock = std::numeric_limits<std::uint64_t>::max();
}  // namespace

CachedFileStream::CachedFileStream(const std::string& path, std::uint64_t max_read_bytes)
    : path_(path),
      max_read_bytes_(
          std::min<std::uint64_t>(max_read_bytes, std::numeric_limits<unsigned int>::max())) {
  std::fill(std::begin(block_index_), std::end(block_index_), kNoBlock);
  if (!file_.OpenRead(path)) return;
  std::int64_t size = file_.Size();
  // TagLib measures files in long; larger sizes cannot be addressed.
  if (size < 0 || size > std::numeric_limits<long>::max()) return;
  size_ = static_cast<std::uint64_t>(size);
  cache_.resize(kBlocks * kBlockBytes);
  open_ = true;
}

const char* CachedFileStream::Block(std::uint64_t index, std::size_t* valid) {
  int slot = 0;
  for (int i = 0; i < kBlocks; ++i) {
    if (block_index_[i] == index) {
      block_used_[i] = ++clock_;
      *valid = block_valid_[i];
      return &cache_[i * kBlockBytes];
    }
    if (block_used_[i] < block_used_[slot]) slot = i;
  }
  char* data = &cache_[slot * kBlockBytes];
  std::size_t done = 0;
  if (!file_.ReadAt(index * kBlockBytes, data, kBlockBytes, &done)) {
    block_index_[slot] = kNoBlock;
    return nullptr;
  }
  block_index_[slot] = index;
  block_valid_[slot] = done;
  block_used_[slot] = ++clock_;
  *valid = done;
  return data;
}

TagLib::ByteVector CachedFileStream::readBlock(unsigned long length) {
  if (!open_ || position_ >= size_) return TagLib::ByteVector();
  // The vector's length is 32-bit: what is read is exactly what it holds.
  const std::uint64_t wanted =
      std::min<std::uint64_t>({length, size_ - position_, max_read_bytes_});
  TagLib::ByteVector result(static_cast<unsigned int>(wanted), '\0');
  char* out = result.data();
  std::size_t filled = 0;
  if (wanted > 2 * kBlockBytes) {
    // Large reads (pictures, audio) bypass the cache.
    if (!file_.ReadAt(position_, out, wanted, &filled)) filled = 0;
  } else {
    while (filled < wanted) {
      std::uint64_t at = position_ + filled;
      std::size_t valid = 0;
      const char* block = Block(at / kBlockBytes, &valid);
      std::size_t offset = at % kBlockBytes;
      if (block == nullptr || valid <= offset) break;
      std::size_t take = std::min<std::uint64_t>(valid - offset, wanted - filled);
      std::memcpy(out + filled, block + offset, take);
      filled += take;
    }
  }
  result.resize(static_cast<unsigned int>(filled));
  position_ += filled;
  return result;
}

void CachedFileStream::seek(long offset, Position position) {
  long long base = 0;
  if (position == Current) base = static_cast<long long>(position_);
  if (position == End) base = static_cast<long long>(size_);
  long long target = base + offset;
  position_ = target < 0 ? 0 : static_cast<std::uint64_t>(target);
}

}  // namespace scan_internal
