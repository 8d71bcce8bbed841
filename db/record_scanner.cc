#include "db/record_scanner.h"

#include <algorithm>
#include <cstddef>

namespace kivdb {
namespace {

// 512 records (about 650 KB) per read.
constexpr std::size_t kBlockRecords = 512;
// Pages of a view touched together (128 KB with 4 KB pages).
constexpr std::uint64_t kTouchRun = 32;
constexpr std::uint64_t kPrefetchRecords = 2;

}  // namespace

// Positions are 32-bit: the engine never grows a file past 4 GiB, and a
// longer file is read only up to there.
RecordScanner::RecordScanner(platform::FileHandle& file, std::uint64_t length, bool mapped,
                             std::size_t window)
    : file_(file), length_(std::min<std::uint64_t>(length, UINT32_MAX)) {
  page_ = platform::ReadMapping::Granularity();
  // A window holds at least one whole record wherever it starts.
  window_ = std::max(window / page_, (sizeof(DBEntry) + page_ - 1) / page_ + 1) * page_;
  mapped_ = mapped && length_ > kDbHeaderSize;
}

bool RecordScanner::MapWindow() {
  const std::uint64_t start = next_read_ / page_ * page_;
  const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(window_, length_ - start));
  if (!view_.Map(file_, start, size)) return false;
  touched_end_ = start;
  return true;
}

bool RecordScanner::NextMapped(std::uint32_t* pos, const DBEntry** record) {
  *record = nullptr;
  if (done_) return true;
  if (next_read_ + sizeof(DBEntry) > length_) {
    partial_bytes_ = static_cast<std::size_t>(length_ - next_read_);
    done_ = true;
    return true;
  }
  const std::uint64_t end = next_read_ + sizeof(DBEntry);
  if ((!view_.data() || end > view_.offset() + view_.size()) && !MapWindow()) return false;
  // Pages are touched before the scan reads them, a run of them at a time:
  // a page lost to a shrinking file shows here, before its zeros are taken
  // for a record, and the run's first reads overlap instead of waiting for
  // each other page by page.
  if (touched_end_ < end) {
    const std::uint64_t run_end = std::min<std::uint64_t>(
        view_.offset() + view_.size(), std::max(end, touched_end_ + kTouchRun * page_));
    for (; touched_end_ < run_end; touched_end_ += page_) {
      const volatile char* touch = InView(touched_end_);
      (void)touch[0];
    }
  }
  if (view_.lost()) {
    hit_end_ = true;
    done_ = true;
    return true;
  }
  *pos = static_cast<std::uint32_t>(next_read_);
  *record = reinterpret_cast<const DBEntry*>(InView(next_read_));
  // The lines a load reads of a record two ahead are fetched meanwhile: the
  // record's head with most paths, and its times and counts.
  const std::uint64_t ahead = next_read_ + kPrefetchRecords * sizeof(DBEntry);
  if (ahead + sizeof(DBEntry) <= view_.offset() + view_.size() &&
      ahead + sizeof(DBEntry) <= touched_end_) {
    const char* line = InView(ahead);
    for (std::size_t at : {std::size_t{0}, std::size_t{64}, std::size_t{128}, std::size_t{192},
                           offsetof(DBEntry, file_modified)})
      __builtin_prefetch(line + at);
  }
  next_read_ = end;
  ++returned_;
  return true;
}

const DBEntry* RecordScanner::Next(std::uint32_t* pos) {
  if (mapped_) {
    const DBEntry* record = nullptr;
    if (NextMapped(pos, &record)) return record;
    // No view: the rest is read the plain way.
    mapped_ = false;
    view_.Unmap();
  }
  if (at_ == in_block_) {
    if (done_) return nullptr;
    std::uint64_t remaining = length_ > next_read_ ? length_ - next_read_ : 0;
    if (remaining == 0) {
      done_ = true;
      return nullptr;
    }
    if (block_.empty()) block_.resize(kBlockRecords);
    std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(remaining, block_.size() * sizeof(DBEntry)));
    std::size_t got = 0;
    if (!file_.ReadAt(next_read_, block_.data(), want, &got)) {
      failed_ = true;
      error_ = file_.last_errno();
      done_ = true;
      return nullptr;
    }
    if (got < want) {
      hit_end_ = true;
      done_ = true;
    }
    block_pos_ = next_read_;
    next_read_ += got;
    in_block_ = got / sizeof(DBEntry);
    at_ = 0;
    // Only the last block can end inside a record: every other block is a
    // whole number of records long.
    partial_bytes_ = got % sizeof(DBEntry);
    if (in_block_ == 0) {
      done_ = true;
      return nullptr;
    }
  }
  *pos = static_cast<std::uint32_t>(block_pos_ + at_ * sizeof(DBEntry));
  ++returned_;
  return &block_[at_++];
}

}  // namespace kivdb
