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

bool ChildPathFit::NameUnits(std::string_view name, std::size_t* units) {
  // Most names are ASCII: valid, one unit per byte.
  if (std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; })) {
    *units = name.size();
    return true;
  }
  if (!platform::IsValidUtf8(name)) return false;
  *units = platform::Utf16Length(name);
  return true;
}

bool ChildPathFit::Fits(std::string_view name) const {
  std::size_t units = 0;
  return folder_valid_ && NameUnits(name, &units) && folder_units_ + units < kDbPathUnits;
}

bool ChildPathFit::HoldsFolder(std::string_view name) const {
  // The shortest file below is "<name>/x".
  std::size_t units = 0;
  return folder_valid_ && NameUnits(name, &units) && folder_units_ + units + 2 < kDbPathUnits;
}

ChildPathFit ChildPathFit::Child(std::string_view name) const {
  ChildPathFit child;
  std::size_t units = 0;
  child.folder_valid_ = folder_valid_ && NameUnits(name, &units);
  child.folder_units_ = child.folder_valid_ ? folder_units_ + units + 1 : 0;
  return child;
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

namespace {

constexpr std::size_t kFirstVisitedSlots = 1024;

std::size_t VisitedHome(std::uint64_t device, std::uint64_t inode, std::size_t mask) {
  std::uint64_t h = (inode ^ (device << 40 | device >> 24)) * 0x9E3779B97F4A7C15ull;
  return static_cast<std::size_t>(h ^ (h >> 29)) & mask;
}

}  // namespace

bool VisitedFolders::Enter(std::uint64_t device, std::uint64_t inode) {
  if ((size_ + 1) * 2 > slots_.size()) Grow();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = VisitedHome(device, inode, mask);; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (!slot.used) {
      slot = Slot{device, inode, true};
      ++size_;
      return true;
    }
    if (slot.device == device && slot.inode == inode) return false;
  }
}

void VisitedFolders::Grow() {
  std::vector<Slot> old(std::max(kFirstVisitedSlots, slots_.size() * 2));
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (!slot.used) continue;
    std::size_t i = VisitedHome(slot.device, slot.inode, mask);
    while (slots_[i].used) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}
