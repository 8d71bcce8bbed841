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
  // Scans from the first record up to `length`, the file's length when the
  // scan starts. With `mapped` the records are read in place from a view
  // of the file when it can be mapped, without a copy.
  RecordScanner(platform::FileHandle& file, std::uint64_t length, bool mapped = false);
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
  // Reads the next record from the view.
  const DBEntry* NextMapped(std::uint32_t* pos);

  platform::FileHandle& file_;
  std::uint64_t length_;
  platform::ReadMapping view_;
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
