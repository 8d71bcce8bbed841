// The file behind the registry: loading, caching, locking and atomic
// replacement of one registry text file. Used by platform::Registry; other
// code goes through that class.
//
// Each call is one access under a process-wide mutex. The parsed copy of
// the file is kept between accesses and used while it is current: same
// change counter (kept in "<file>.lock", bumped by every writer) and same
// file identity, size and times. Otherwise, and for every write, the access
// takes an exclusive flock on "<file>.lock" (a separate file, because the
// registry file itself is replaced by rename) and reloads the file. Writes
// go to a temp file in the same folder, fsync, rename. The file is kept at
// mode 0600 and its folder at 0700. A damaged file is copied aside
// ("<file>.bad", then ".bad.1", ... so no earlier copy is overwritten),
// reported, and replaced by everything that could be read from it.
//
// Any thread may call; calls are serialised.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/registry_text.h"
#include "platform/win_types.h"

namespace platform::registry_store {

// Runs `read` on the current document. A missing file or folder is an
// empty registry. Returns what `read` returns, or the error that kept the
// file from being read.
DWORD Read(const std::string& file, const std::function<DWORD(const RegDocument&)>& read);

// Runs `update` on a copy of the current document; when it returns
// ERROR_SUCCESS and sets `changed`, the copy replaces the file. Creates the
// folder when missing. Returns the first error.
DWORD Update(const std::string& file,
             const std::function<DWORD(RegDocument& doc, bool& changed)>& update);

// Damage messages collected since the last call, oldest first.
std::vector<std::string> TakeDamageReport();

}  // namespace platform::registry_store
