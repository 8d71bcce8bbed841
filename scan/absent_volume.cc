#include "scan/absent_volume.h"

#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "platform/dir_walk.h"
#include "platform/file_io.h"

namespace {

std::mutex g_mutex;
std::set<std::string> g_mount_points;

// The folder holding `path`: the text before its last '/' ("/" for a
// child of the root, empty for the root itself).
std::string Parent(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || path == "/") return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

// `path` lies strictly below `folder` (whole components).
bool IsBelow(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

std::string WithoutTrailingSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

bool IsMountPointNow(const std::string& folder) {
  const std::string parent = Parent(folder);
  std::uint64_t device = 0, parent_device = 0;
  return !parent.empty() && platform::FolderDevice(folder, &device) &&
         platform::FolderDevice(parent, &parent_device) && device != parent_device;
}

void RememberMountPoint(const std::string& folder) {
  std::lock_guard lock(g_mutex);
  g_mount_points.insert(WithoutTrailingSlash(folder));
}

void RememberEnclosingMountPoint(const std::string& folder) {
  for (std::string at = WithoutTrailingSlash(folder); !at.empty() && at != "/"; at = Parent(at)) {
    if (IsMountPointNow(at)) {
      RememberMountPoint(at);
      return;
    }
  }
}

bool OnAbsentVolume(const std::string& path) {
  std::vector<std::string> holding;
  {
    std::lock_guard lock(g_mutex);
    for (const std::string& mount_point : g_mount_points)
      if (IsBelow(path, mount_point)) holding.push_back(mount_point);
  }
  for (const std::string& mount_point : holding)
    if (!IsMountPointNow(mount_point)) return true;
  for (std::string folder = Parent(path); !folder.empty(); folder = Parent(folder)) {
    if (!platform::PathExists(folder)) continue;
    // Something that is not a folder stands where one was: the file is gone.
    return platform::IsDirectory(folder) && !platform::IsNonEmptyDirectory(folder);
  }
  return false;
}

void ForgetMountPoints() {
  std::lock_guard lock(g_mutex);
  g_mount_points.clear();
}
