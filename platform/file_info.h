// The properties of one file as a directory search reports them: kind,
// size and the three file times. StatFile returns a success flag and sets
// the thread's last error on failure. Safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// What a directory search reports about one file. Times are seconds since
// 1970 (UTC).
struct FileInfo {
  std::string path;  // full path as given to the query
  bool is_directory = false;
  bool is_regular = false;  // a plain file (not a device, pipe or socket)
  std::uint64_t size = 0;
  std::int64_t created = 0;   // birth time when the file system has one, else change time
  std::int64_t accessed = 0;  // last access
  std::int64_t modified = 0;  // last write
  // The last write's nanoseconds within its second: a file rewritten within
  // one second at the same size still looks changed.
  std::int64_t modified_nsec = 0;
};

// Fills `info` for `path`, following symbolic links. False when the file
// does not exist or cannot be queried.
bool StatFile(const std::string& path, FileInfo* info);

// `path` made absolute with every symbolic link, "." and ".." resolved;
// empty when some part of it does not exist.
std::string RealPath(const std::string& path);

}  // namespace platform
