// Whether a file that vanished lies on a volume that is not there now (an
// unplugged drive, an unmounted share) rather than having been deleted.
// Unplugging a drive must never delete records, so the indexer leaves the
// records of such files as they are.
//
// A vanished file is on an absent volume when its path lies
// - under a mount point the indexer has seen (a folder whose device
//   differs from its parent's) that is not mounted now, or
// - under an empty folder (an unmounted mount point is an empty folder):
//   the nearest folder above it that exists holds nothing.
// The mount points seen are remembered for the life of the process.
//
// Any thread: the memory of mount points is guarded by a mutex.
#pragma once

#include <string>

// True when `folder` is a mount point now (its device differs from its
// parent's). The root is not counted.
bool IsMountPointNow(const std::string& folder);

// Remembers `folder` as a mount point seen by the indexer.
void RememberMountPoint(const std::string& folder);

// Remembers the mount point that holds `folder` (the nearest folder at or
// above it that is a mount point), when there is one below the root.
void RememberEnclosingMountPoint(const std::string& folder);

// The rule above for a file at `path` that was found missing.
bool OnAbsentVolume(const std::string& path);

// Forgets every mount point remembered (tests).
void ForgetMountPoints();
