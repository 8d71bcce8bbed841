#include "scan/collection_rules.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "db/db_format.h"
#include "media/tag_reader.h"
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

ChildPathFit::ChildPathFit(std::string_view folder) {
  // The separator ChildPath puts between them is ASCII, so the whole path is
  // valid text exactly when both parts are, and its length is their sum.
  const std::string prefix = ChildPath(folder, "");
  folder_valid_ = platform::IsValidUtf8(prefix);
  folder_units_ = folder_valid_ ? platform::Utf16Length(prefix) : 0;
}

bool ChildPathFit::Fits(std::string_view name) const {
  if (!folder_valid_) return false;
  // Most names are ASCII: valid, one unit per byte.
  if (std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; }))
    return folder_units_ + name.size() < kDbPathUnits;
  return platform::IsValidUtf8(name) && folder_units_ + platform::Utf16Length(name) < kDbPathUnits;
}

bool SupportedNames::Supported(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  const std::string_view ending =
      dot != std::string_view::npos && dot > 0 ? name.substr(dot + 1) : name;
  if (!asked_ || ending != ending_) {
    supported_ = IsSupportedFile(name);
    ending_.assign(ending);
    asked_ = true;
  }
  return supported_;
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
