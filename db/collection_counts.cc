#include "db/collection_counts.h"

#include <string>

#include "db/kiv_db.h"

CollectionCounts CountCollection(const SearchPathMap& paths, bool* busy) {
  CollectionCounts counts;
  if (busy) *busy = false;
  if (paths.empty()) return counts;
  // A folder's files are in a chosen folder when the folder itself is, with
  // its trailing '/' as in every file path under it.
  const KivDB::FolderTest chosen = [&paths](std::string_view folder) {
    return FindEnabledPath(paths, std::string(folder) + "/") != 0;
  };
  constexpr DWORD kGone = DBFLAG_NOTINPATH | DBFLAG_DELETED;
  counts.found = KivDB::CountInFolders(
      chosen, [](const RecordSummary& s) { return !(s.flags & kGone); }, busy);
  if (busy && *busy) return counts;
  counts.reported = KivDB::CountInFolders(
      chosen, [](const RecordSummary& s) { return !(s.flags & kGone) && s.has_kiv_id; }, busy);
  return counts;
}
