// FileLock: an exclusive advisory lock (flock) on one file, held from Take
// until Release or destruction, so that two processes never use the file at
// the same time. The lock belongs to the open file description this object
// holds: other descriptors the process opens and closes on the same file do
// not release it, and the kernel drops it when the process dies.
//
// One object belongs to one thread at a time. FlockHolderPid is a pure
// parser, safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class FileLock {
 public:
  enum class State { kNotHeld, kHeld, kHeldElsewhere, kFailed };

  FileLock() = default;
  ~FileLock();  // Release()
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens `path` (created with mode 0600 when missing, never truncated) and
  // takes the lock without waiting. kHeldElsewhere when another open file
  // description holds it (holder_pid() tells whose, 0 when unknown);
  // kFailed when the file cannot be opened (a symbolic link is refused) or
  // locked (error() has the errno). Any lock held before is released first.
  State Take(const std::string& path);
  void Release();

  State state() const { return state_; }
  const std::string& path() const { return path_; }
  int error() const { return error_; }
  int holder_pid() const { return holder_pid_; }

 private:
  std::string path_;
  State state_ = State::kNotHeld;
  int fd_ = -1;
  int error_ = 0;
  int holder_pid_ = 0;
};

// The pid that holds a write flock on the file (`device`, `inode`) according
// to the text of /proc/locks; 0 when none is listed. When no line names the
// device (an overlay file system lists the lower layer's), a single line
// with that inode is taken.
int FlockHolderPid(std::string_view proc_locks, std::uint64_t device, std::uint64_t inode);

}  // namespace platform
