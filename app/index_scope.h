// IndexScope: what one indexer request asks for. Either the whole collection
// (the indexer's full run) or a set of folders that changed, each to be
// looked at alone (its own files) or with everything below it (a folder that
// appeared, went or moved). It travels as the payload of WM_AGENT_REQUEST:
// from the folder monitor to the controller, which merges the requests that
// wait for one launch, and from the controller to the indexer's agent thread,
// which hands it to the job. A request without a payload asks for the whole
// collection, so every requester that says nothing gets the full run.
//
// Merging: the whole collection absorbs everything; folder sets unite; a
// set that grows past kMaxIndexScopeFolders becomes the whole collection
// (a change list that long is no cheaper than a full run).
//
// Thread safety: a value type; one object belongs to one thread.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

inline constexpr std::size_t kMaxIndexScopeFolders = 1000;

// The payload of a request the controller posts to itself (a delayed
// request whose timer came due, a relaunch): it asks for nothing new, the
// launch takes what the requests before it asked for.
inline constexpr std::string_view kIndexScopeAsMerged = "merged";

class IndexScope {
 public:
  enum class Depth { kFolderOnly, kWholeTree };

  // Nothing asked for yet.
  IndexScope() = default;
  static IndexScope WholeCollection();
  // The scope a request payload asks for: empty -> the whole collection;
  // kIndexScopeAsMerged -> nothing new; otherwise the folder set encoded by
  // ToPayload (a payload that does not decode asks for the whole
  // collection).
  static IndexScope FromPayload(std::string_view payload);
  // Empty for the whole collection and for nothing.
  std::string ToPayload() const;

  // Adds one folder (a trailing '/' is dropped). A folder inside one that
  // is looked at whole is already covered; a whole tree swallows what lies
  // below it.
  void Add(const std::string& folder, Depth depth);
  void Merge(const IndexScope& other);

  bool whole() const { return whole_; }
  // Nothing asked for.
  bool empty() const { return !whole_ && folders_.empty(); }
  // Ordered by path; looked up by std::string_view without a copy.
  using FolderMap = std::map<std::string, Depth, std::less<>>;
  const FolderMap& folders() const { return folders_; }

  // True when `path` (a file or a folder) lies in the scope: directly in a
  // folder looked at alone, or anywhere below one looked at whole. Makes no
  // allocation: the indexer asks it for every record of the collection.
  bool Covers(std::string_view path) const;
  // True when the files directly in `folder` lie in the scope.
  bool CoversFilesIn(std::string_view folder) const;

 private:
  bool whole_ = false;
  FolderMap folders_;
  // A prefix of every folder ever added: a folder without it lies outside
  // the scope, told by one comparison (the indexer asks about every folder
  // of the collection).
  std::string common_;
};
