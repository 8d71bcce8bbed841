// The rules the indexer and the folder monitor share about which folders of
// a chosen tree belong to the collection: hidden names, the system trees,
// folders already visited (a linked folder reached twice, or a link back to
// an ancestor), and paths that could never be stored in a record.
//
// Pure functions are safe from any thread; a VisitedFolders set belongs to
// one walk on one thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/folders.h"

// A hidden entry: its name begins with '.'.
bool IsHiddenName(std::string_view name);

// The system trees are a fact of the platform, shared with the play monitor.
using platform::IsInSystemTree;

// `folder` + "/" + `name`, without doubling a separator the folder already
// ends with ("/music/" and "/music" give the same child paths).
std::string ChildPath(std::string_view folder, std::string_view name);

// True when `path` can be stored in a record: valid UTF-8 that fits the
// record's path field with its terminator. A cut or re-encoded path would
// name another file, so such files are skipped instead.
bool FitsRecordPath(std::string_view path);

// FitsRecordPath(ChildPath(folder, name)) for the entries of one folder,
// with the folder's part measured once.
class ChildPathFit {
 public:
  explicit ChildPathFit(std::string_view folder);
  bool Fits(std::string_view name) const;
  // FolderCanHoldRecords(ChildPath(folder, name)).
  bool HoldsFolder(std::string_view name) const;
  // ChildPathFit(ChildPath(folder, name)), from this one: a walk measures
  // each name once instead of each folder's whole path.
  ChildPathFit Child(std::string_view name) const;

 private:
  ChildPathFit() = default;
  // UTF-16 units of `name`; false when it is not valid text.
  static bool NameUnits(std::string_view name, std::size_t* units);

  bool folder_valid_ = false;
  std::size_t folder_units_ = 0;  // of the folder with its separator
};

// IsSupportedFile for the names of one folder's listing, most of which end
// alike: a name whose ending (what GetExtension takes, before lower-casing)
// is the previous name's gets the previous answer.
class SupportedNames {
 public:
  bool Supported(std::string_view name);

 private:
  std::string ending_;
  bool asked_ = false;
  bool supported_ = false;
};

// True when a folder's files can have storable paths at all (the folder's
// own path leaves room for "/" and a one-character name, and is valid text).
bool FolderCanHoldRecords(std::string_view folder);

// How long a chosen folder may take to answer before it is taken for a
// network mount that hangs and left alone for the run.
inline constexpr int kFolderProbeTimeoutMs = 5000;

// What a look at a chosen folder found.
struct FolderProbe {
  bool answered = false;  // false: no answer within the time allowed
  bool is_directory = false;
  bool has_entries = false;  // an empty folder may be an unmounted mount point
};

// Looks at `folder` on a helper thread, waiting at most `timeout_ms`.
FolderProbe ProbeFolder(const std::string& folder, int timeout_ms = kFolderProbeTimeoutMs);

// The identities (device, inode) of the folders one walk entered.
class VisitedFolders {
 public:
  // Records the folder's identity; false when it was visited before.
  bool Enter(std::uint64_t device, std::uint64_t inode);
  std::size_t size() const { return size_; }

 private:
  struct Slot {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool used = false;
  };
  // A walk of a large collection enters tens of thousands of folders: an
  // open-addressing table, at most half full, answers with one or two
  // looks into one array (no node per folder to allocate and chase).
  void Grow();

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};
