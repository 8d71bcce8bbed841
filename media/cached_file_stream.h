// CachedFileStream: a read-only TagLib stream over a file, with a small
// block cache. TagLib's parsers seek back and forth over the same few
// kilobytes (chunk and atom headers, the tags at both ends); served from the
// cache, a tag read costs a handful of reads instead of dozens of seeks and
// reads, and the file is never opened for writing.
//
// Thread safety: one stream belongs to one thread.
#pragma once

#include <taglib/tiostream.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_handle.h"

namespace scan_internal {

class CachedFileStream : public TagLib::IOStream {
 public:
  // A read never asks for more than `max_read_bytes` at once (a damaged tag
  // may claim any length); reads are also bounded by what TagLib's 32-bit
  // byte vectors hold.
  static constexpr std::uint64_t kMaxReadBytes = 256ull << 20;
  explicit CachedFileStream(const std::string& path, std::uint64_t max_read_bytes = kMaxReadBytes);
  CachedFileStream(const CachedFileStream&) = delete;
  CachedFileStream& operator=(const CachedFileStream&) = delete;

  TagLib::FileName name() const override { return path_.c_str(); }
  // At most `length` bytes from the current position; fewer at the end of
  // the file, beyond the read limit or after a read error (TagLib treats
  // them as the end).
  TagLib::ByteVector readBlock(unsigned long length) override;
  bool readOnly() const override { return true; }
  bool isOpen() const override { return open_; }
  void seek(long offset, Position position = Beginning) override;
  long tell() const override { return static_cast<long>(position_); }
  long length() override { return static_cast<long>(size_); }

  // Writing is refused: the stream is read-only.
  void writeBlock(const TagLib::ByteVector&) override {}
  void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
  void removeBlock(unsigned long, unsigned long) override {}
  void truncate(long) override {}

 private:
  static constexpr std::uint64_t kBlockBytes = 4096;
  static constexpr int kBlocks = 8;

  // The cached block holding `index`, read when missing; null on error.
  const char* Block(std::uint64_t index, std::size_t* valid);

  std::string path_;
  std::uint64_t max_read_bytes_;
  platform::FileHandle file_;
  bool open_ = false;
  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;

  std::vector<char> cache_;                 // kBlocks blocks of kBlockBytes
  std::uint64_t block_index_[kBlocks];      // block number held, or ~0
  std::size_t block_valid_[kBlocks] = {};   // bytes of it that were read
  std::uint64_t block_used_[kBlocks] = {};  // for least-recently-used eviction
  std::uint64_t clock_ = 0;
};

}  // namespace scan_internal
