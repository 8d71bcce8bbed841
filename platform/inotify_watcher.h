// InotifyWatcher: change notifications for single directories (inotify, one
// watch per directory). The caller builds tree watching on top: it adds a
// watch for every folder of a tree and reacts to folders that appear or
// move away. Watched: names created, deleted or moved, and file contents
// written (IN_CREATE IN_DELETE IN_MOVED_FROM IN_MOVED_TO IN_CLOSE_WRITE
// IN_MODIFY).
//
// Belongs to one thread. The descriptor closes on destruction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct WatchEvent {
  enum class Kind {
    kChanged,          // something in the watched folder changed
    kFolderAppeared,   // a folder was created or moved in: watch it too
    kFolderMovedAway,  // a folder was moved out: its watches are stale
    kFolderDeleted,    // a folder was deleted (its own watch goes with it)
    kWatchGone,        // the watched folder itself is gone (watch removed)
    kOverflow,         // events were lost; treat everything as changed
  };
  Kind kind = Kind::kChanged;
  int watch = -1;    // the watch it concerns (-1 for kOverflow)
  std::string name;  // the entry's name inside the watched folder, if any
};

class InotifyWatcher {
 public:
  InotifyWatcher();
  ~InotifyWatcher();
  InotifyWatcher(const InotifyWatcher&) = delete;
  InotifyWatcher& operator=(const InotifyWatcher&) = delete;

  // False when the inotify instance could not be created.
  bool ok() const { return fd_ >= 0; }

  // Watches the one folder `path` (not its subfolders; a symbolic link is
  // followed). Returns the watch id (the same id again for a folder that is
  // already watched), or -1 with the last error set; `*limit_reached` (when
  // given) tells whether the system's watch limit or the kernel's memory
  // refused it, so the caller can stop trying.
  int AddWatch(const std::string& path, bool* limit_reached = nullptr);
  void RemoveWatch(int watch);

  // Waits at most `timeout_ms` (-1: no limit) for events and appends every
  // event that is ready to `events`. True when some arrived.
  bool Wait(int timeout_ms, std::vector<WatchEvent>* events);

 private:
  int fd_ = -1;
};

// The system's limit on watches per user (fs.inotify.max_user_watches);
// 0 when it cannot be read.
std::uint64_t MaxUserWatches();

}  // namespace platform
