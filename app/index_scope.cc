#include "app/index_scope.h"

namespace {

// Payload: the tag, then per folder a depth letter and the path, each
// folder ended by a NUL (paths hold no NUL).
constexpr std::string_view kTag = "folders\n";
constexpr char kFolderOnlyMark = 'f';
constexpr char kWholeTreeMark = 't';

std::string_view ParentOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

}  // namespace

IndexScope IndexScope::WholeCollection() {
  IndexScope scope;
  scope.whole_ = true;
  return scope;
}

IndexScope IndexScope::FromPayload(std::string_view payload) {
  if (payload == kIndexScopeAsMerged) return IndexScope();
  if (payload.compare(0, kTag.size(), kTag) != 0) return WholeCollection();
  IndexScope scope;
  payload.remove_prefix(kTag.size());
  while (!payload.empty()) {
    const std::size_t end = payload.find('\0');
    if (end == std::string_view::npos || end < 2) return WholeCollection();
    const char mark = payload[0];
    if (mark != kFolderOnlyMark && mark != kWholeTreeMark) return WholeCollection();
    scope.Add(std::string(payload.substr(1, end - 1)),
              mark == kWholeTreeMark ? Depth::kWholeTree : Depth::kFolderOnly);
    payload.remove_prefix(end + 1);
  }
  if (scope.empty()) return WholeCollection();
  return scope;
}

std::string IndexScope::ToPayload() const {
  if (whole_ || folders_.empty()) return {};
  std::string payload(kTag);
  for (const auto& [folder, depth] : folders_) {
    payload += depth == Depth::kWholeTree ? kWholeTreeMark : kFolderOnlyMark;
    payload += folder;
    payload += '\0';
  }
  return payload;
}

void IndexScope::Add(const std::string& folder, Depth depth) {
  if (whole_) return;
  std::string key = folder;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  if (key.empty() || key[0] != '/') {
    // Only absolute folders can be looked at on their own.
    *this = WholeCollection();
    return;
  }
  for (std::string_view up = ParentOf(key); !up.empty(); up = ParentOf(up)) {
    auto it = folders_.find(up);
    if (it != folders_.end() && it->second == Depth::kWholeTree) return;
    if (up == "/") break;
  }
  if (folders_.empty()) {
    common_ = key;
  } else {
    std::size_t same = 0;
    while (same < common_.size() && same < key.size() && common_[same] == key[same]) ++same;
    common_.resize(same);
  }
  auto [it, added] = folders_.emplace(key, depth);
  if (!added && depth == Depth::kWholeTree) it->second = depth;
  if (it->second == Depth::kWholeTree) {
    // The folders below `key` sort together, right after "key/".
    const std::string prefix = key == "/" ? key : key + "/";
    for (auto below = folders_.lower_bound(prefix);
         below != folders_.end() && below->first.compare(0, prefix.size(), prefix) == 0;) {
      if (below->first == key)
        ++below;
      else
        below = folders_.erase(below);
    }
  }
  if (folders_.size() > kMaxIndexScopeFolders) *this = WholeCollection();
}

void IndexScope::Merge(const IndexScope& other) {
  if (other.whole_) {
    *this = WholeCollection();
    return;
  }
  for (const auto& [folder, depth] : other.folders_) Add(folder, depth);
}

bool IndexScope::Covers(std::string_view path) const { return CoversFilesIn(ParentOf(path)); }

bool IndexScope::CoversFilesIn(std::string_view parent) const {
  if (whole_) return true;
  if (parent.empty() || parent.size() < common_.size()) return false;
  // Most folders of a collection share all but the end of the common
  // beginning (the chosen folder, an artist's folder): its last character
  // turns them away before a comparison of the whole.
  if (!common_.empty() && parent[common_.size() - 1] != common_.back()) return false;
  if (parent.compare(0, common_.size(), common_) != 0) return false;
  auto it = folders_.find(parent);
  if (it != folders_.end()) return true;
  for (std::string_view up = ParentOf(parent); !up.empty(); up = ParentOf(up)) {
    it = folders_.find(up);
    if (it != folders_.end() && it->second == Depth::kWholeTree) return true;
    if (up == "/") break;
  }
  return false;
}
