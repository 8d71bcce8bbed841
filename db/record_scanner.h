// RecordScanner: reads the records of an open database file in file order,
// in large sequential blocks rather than one record per read, for loading
// the index and for the repair. Internal to db/.
//
// Thread safety: one scanner per thread; the caller holds the database lock
// while it scans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "db/db_format.h"
#include "platform/file_handle.h"
#include "platform/file_map.h"

namespace kivdb {

class RecordScanner {
 public:
  // Views of the file in place are this long (the last one shorter).
  static constexpr std::size_t kWindowBytes = std::size_t{16} << 20;

  // Scans from the first record up to `length`, the file's length when the
  // scan starts. With `mapped` the records are read in place, without a
  // copy, from views of the file `window` bytes long (rounded down to
  // whole pages) that follow the scan, where the file can be mapped; where
  // it cannot, they are read the plain way. At most one window of the file
  // is mapped at a time.
  RecordScanner(platform::FileHandle& file, std::uint64_t length, bool mapped = false,
                std::size_t window = kWindowBytes);
  RecordScanner(const RecordScanner&) = delete;
  RecordScanner& operator=(const RecordScanner&) = delete;

  // The next whole record and its position, or null once the records end:
  // at the end of the file, before a partial trailing record, or on a read
  // error. The record is valid until the next call.
  const DBEntry* Next(std::uint32_t* pos);

  // After Next returned null: bytes of a partial record at the end.
  std::size_t partial_bytes() const { return partial_bytes_; }
  // The file ended before `length` (it shrank during the scan).
  bool hit_end() const { return hit_end_; }
  // A read failed; `error()` is its errno.
  bool failed() const { return failed_; }
  int error() const { return error_; }
  // Records returned so far.
  std::uint32_t count() const { return returned_; }
  // The file shrank while it was read in place: what the scan returned may
  // hold zeros instead of records, so it is to be read again unmapped.
  bool lost() const { return view_.lost(); }

 private:
  // Reads the next record from the view; false when it is past the view
  // and no view of it could be mapped.
  bool NextMapped(std::uint32_t* pos, const DBEntry** record);
  // Maps the window that starts with the record at next_read_.
  bool MapWindow();
  // The byte of the view at `offset` in the file.
  const char* InView(std::uint64_t offset) const {
    return view_.data() + (offset - view_.offset());
  }

  platform::FileHandle& file_;
  std::uint64_t length_;
  platform::ReadMapping view_;
  bool mapped_ = false;
  std::size_t window_ = 0;
  std::size_t page_ = 0;
  // End of the pages of the view touched so far (an offset in the file).
  std::uint64_t touched_end_ = 0;
  std::uint64_t next_read_ = kDbHeaderSize;
  std::uint64_t block_pos_ = 0;
  std::vector<DBEntry> block_;
  std::size_t in_block_ = 0;
  std::size_t at_ = 0;
  std::size_t partial_bytes_ = 0;
  std::uint32_t returned_ = 0;
  bool done_ = false;
  bool hit_end_ = false;
  bool failed_ = false;
  int error_ = 0;
};

}  // namespace kivdb
