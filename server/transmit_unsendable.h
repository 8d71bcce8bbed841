// The records the transmit agent found unsendable (their file's tags hold no
// title or artist), remembered for the life of the process with the file's
// last write and size at the time its tags were read. A later job skips
// such a record without reading its tags again until its file changes.
//
// Thread safety: process-wide; any thread (one mutex).
#pragma once

#include <string>

#include "platform/file_info.h"

namespace transmit {

// Remembers `path` as unsendable with the file properties `before`, taken
// before its tags were read (a change while they were read shows later).
void RememberUnsendable(const std::string& path, const platform::FileInfo& before);

// True when `path` was found unsendable and its file still has the same
// last write and size. A file that changed, or that cannot be looked at,
// is forgotten, so its tags are read again.
bool StillUnsendable(const std::string& path);

// Forgets every record (a fresh process).
void ForgetUnsendable();

}  // namespace transmit
