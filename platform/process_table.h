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
#include <vector>

#include "platform/proc_text.h"

namespace platform {

// Calls `visit` with the id and image name of every running process
// (ImageNameFromCmdline, else the comm name). False when the process table
// cannot be read.
bool ListProcesses(const std::function<void(std::uint32_t pid, std::string_view image)>& visit);

// True when the process runs as this process's user. Plays belong to the
// user who runs the program, so another user's player is left alone even
// when its descriptors could be read (by root).
bool ProcessBelongsToUser(std::uint32_t pid);

// This process's id.
std::uint32_t CurrentProcessId();

// What an open descriptor names.
enum class DescriptorKind { kFile, kDirectory, kSocket, kPipe, kDevice, kOther };

struct Descriptor {
  int number = -1;
  DescriptorKind kind = DescriptorKind::kOther;
  bool unlinked = false;  // a file deleted while open (no name left)
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
