// The process table and the open descriptors of a process, read from /proc:
// the Linux counterpart of the native process and handle lists. Reading
// /proc never opens the files a process holds, so no call here waits on a
// slow disk or a network mount. The parsing lives in platform/proc_text.h.
//
// Free functions, safe from any thread. Failures return false and set the
// thread's last error.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/proc_text.h"

namespace platform {

// What a running process is called.
struct ProcessNames {
  // The base name of argv[0] (ImageNameFromCmdline), else the comm name.
  std::string image;
  // The kernel's name of the task: the file name of the program it runs,
  // or of the script (a player written in Python has argv[0] "python3"),
  // cut to 15 bytes.
  std::string comm;
};

using ProcessVisitor = std::function<void(std::uint32_t pid, const ProcessNames& names)>;

// Calls `visit` for every running process. False when the process table
// cannot be read.
bool ListProcesses(const ProcessVisitor& visit);

// The process table listed again and again (once per look of the play
// monitor): the names of a process are read when it is first seen and
// then only now and again, so a listing costs a directory read plus the
// new processes, not two file reads per process. A process is known by its
// id together with the inode number of its /proc folder, which a new
// process that reuses the id does not share. Names are read again at the
// two listings after the first (a program started through a chain of
// execs, as a launcher or wrapper script does, shows its own name by then)
// and after a later exec, which every kRefreshListings-th listing looks
// for in the kernel name.
//
// Thread safety: an object belongs to one thread.
class ProcessTable {
 public:
  static constexpr std::uint32_t kRefreshListings = 12;

  ProcessTable() = default;
  ProcessTable(const ProcessTable&) = delete;
  ProcessTable& operator=(const ProcessTable&) = delete;

  // As ListProcesses.
  bool List(const ProcessVisitor& visit);
  // Processes remembered from the last listing.
  std::size_t size() const { return known_.size(); }

 private:
  struct Known {
    std::uint64_t inode = 0;
    ProcessNames names;
    std::uint32_t listings = 0;    // since first seen
    std::uint32_t since_read = 0;  // listings since the names were read
    std::uint64_t pass = 0;        // the last listing that saw it
  };
  std::unordered_map<std::uint32_t, Known> known_;
  std::uint64_t pass_ = 0;
};

// True when the process runs as this process's user. Plays belong to the
// user who runs the program, so another user's player is left alone even
// when its descriptors could be read (by root).
bool ProcessBelongsToUser(std::uint32_t pid);

// The start time of `pid` (ParseProcessStartTime); false when it ended.
bool ReadProcessStartTime(std::uint32_t pid, std::uint64_t* start);

// This process's id.
std::uint32_t CurrentProcessId();

// What an open descriptor names.
enum class DescriptorKind { kFile, kDirectory, kSocket, kPipe, kDevice, kOther };

struct Descriptor {
  int number = -1;
  DescriptorKind kind = DescriptorKind::kOther;
  bool unlinked = false;  // a file deleted while open (no name left)
  // The file behind it, from the same cached attributes: which file it is
  // (whatever path it was opened by) and its length in bytes.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
};

// The open descriptors of `pid`, in number order. Kinds come from the
// cached attributes of the file (no round trip to a network file system).
// False when they cannot be listed: the process ended, or belongs to
// another user.
bool ListDescriptors(std::uint32_t pid, std::vector<Descriptor>* out);

// The kind of one descriptor; false when it is closed or unreadable.
bool QueryDescriptor(std::uint32_t pid, int number, Descriptor* out);

// The path the descriptor names (the target of /proc/<pid>/fd/<n>), as the
// kernel shows it: an unlinked file ends in " (deleted)", a socket reads
// "socket:[inode]".
bool ReadDescriptorTarget(std::uint32_t pid, int number, std::string* target);

// Position and open flags of one descriptor.
bool ReadDescriptorInfo(std::uint32_t pid, int number, DescriptorInfo* info);

}  // namespace platform
