#include "db/collection_counts.h"

#include <string>

#include "db/kiv_db.h"

CollectionCounts CountCollection(const SearchPathMap& paths, bool* busy) {
  CollectionCounts counts;
  if (busy) *busy = false;
  if (paths.empty()) return counts;
  const KivDB::PathTest chosen = [&paths](std::string_view path) {
    return FindEnabledPath(paths, path) != 0;
  };
  constexpr DWORD kGone = DBFLAG_NOTINPATH | DBFLAG_DELETED;
  counts.found = KivDB::CountInPaths(
      chosen, [](const RecordSummary& s) { return !(s.flags & kGone); }, busy);
  if (busy && *busy) return counts;
  counts.reported = KivDB::CountInPaths(
      chosen, [](const RecordSummary& s) { return !(s.flags & kGone) && s.kiv_id != 0; }, busy);
  return counts;
}
