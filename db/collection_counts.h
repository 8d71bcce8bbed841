// The size of the collection as the user chose it, for the status page and
// `vornic --status`: the tracks in a chosen, enabled music folder that are
// not marked gone, and how many of those the server knows. Records of a
// removed or disabled folder stay in the database but are not counted.
//
// Any thread; counts from the index and record summaries in memory, without
// a file handle.
#pragma once

#include "app/search_paths.h"
#include "platform/win_types.h"

struct CollectionCounts {
  DWORD found = 0;
  DWORD reported = 0;
};

// With `busy` given the database lock is not waited for: when another
// thread holds it, nothing is counted and `*busy` is set (a caller on the
// user interface thread tries again later).
CollectionCounts CountCollection(const SearchPathMap& paths, bool* busy = nullptr);
