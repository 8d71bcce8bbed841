#include "scan/collection_rules.h"

#include <atomic>
#include <memory>

#include "db/db_format.h"
#include "platform/bounded_call.h"
#include "platform/dir_walk.h"
#include "platform/file_io.h"
#include "platform/text.h"

bool IsHiddenName(std::string_view name) { return !name.empty() && name[0] == '.'; }

std::string ChildPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

bool FitsRecordPath(std::string_view path) {
  return platform::IsValidUtf8(path) && platform::Utf16Length(path) < kDbPathUnits;
}

bool FolderCanHoldRecords(std::string_view folder) {
  // The shortest child is "<folder>/x".
  const std::size_t extra = (!folder.empty() && folder.back() == '/') ? 1 : 2;
  return platform::IsValidUtf8(folder) && platform::Utf16Length(folder) + extra < kDbPathUnits;
}

FolderProbe ProbeFolder(const std::string& folder, int timeout_ms) {
  // Owned by the look itself, which may outlive this call.
  struct Result {
    std::atomic<bool> is_directory{false};
    std::atomic<bool> has_entries{false};
  };
  auto result = std::make_shared<Result>();
  FolderProbe probe;
  probe.answered = platform::RunWithin(timeout_ms, [folder, result] {
    result->is_directory = platform::IsDirectory(folder);
    result->has_entries = result->is_directory && platform::IsNonEmptyDirectory(folder);
  });
  if (probe.answered) {
    probe.is_directory = result->is_directory;
    probe.has_entries = result->has_entries;
  }
  return probe;
}
