#include "scan/collection_rules.h"

#include <atomic>
#include <memory>

#include "db/db_format.h"
#include "platform/bounded_call.h"
#include "platform/dir_walk.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kSystemTrees[] = {"/proc", "/sys", "/dev", "/run",
                                             "/usr",  "/etc", "/boot"};
constexpr std::string_view kRemovableMedia = "/run/media";

// True when `path` is `tree` or lies below it (whole components).
bool IsUnder(std::string_view path, std::string_view tree) {
  return path.substr(0, tree.size()) == tree &&
         (path.size() == tree.size() || path[tree.size()] == '/');
}

}  // namespace

bool IsHiddenName(std::string_view name) { return !name.empty() && name[0] == '.'; }

bool IsInSystemTree(std::string_view path) {
  // Removable drives are mounted below /run/media: music, not system files.
  if (IsUnder(path, kRemovableMedia)) return false;
  for (std::string_view tree : kSystemTrees)
    if (IsUnder(path, tree)) return true;
  return false;
}

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
