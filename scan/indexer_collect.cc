// The collection pass of AgentIndexer: the walk over the enabled chosen
// folders that lists every supported media file.
#include <utility>

#include "app/format.h"
#include "db/db_format.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "platform/dir_walk.h"
#include "platform/file_info.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "scan/absent_volume.h"
#include "scan/agent_indexer.h"
#include "scan/indexer_log.h"

bool AgentIndexer::CollectionPass(ScanResult& result) {
  LoadSearchPaths(search_paths_, *options_.settings);
  if (search_paths_.empty()) {
    IndexerLog("PathList to search is empty.", LEVEL_INFO);
    return true;
  }
  visited_ = VisitedFolders();
  collected_.clear();
  folders_.clear();
  adds_before_walk_ = KivDB::AddCount();
  // Look for the iTunes library only when none is recorded or the recorded
  // one is gone. Decided once per pass: reading the setting again in every
  // folder would cost a settings access per folder for the same answer.
  std::string itunes_file;
  platform::FileInfo itunes_info;
  looking_for_itunes_ =
      !options_.settings->ReadStringUtf8(kSubKeySettings, kITunesHistoryFileValue, itunes_file) ||
      !platform::StatFile(itunes_file, &itunes_info);
  if (!scope_.whole()) {
    CollectChangedFolders(result);
    return !CheckQuit();
  }
  // Most files of the collection have records: their number is a fair
  // guess of the list's length, which spares copying it while it grows.
  result.files.reserve(KivDB::ValidCount());
  result.listed.reserve(KivDB::ValidCount());
  for (const auto& [path, enabled] : search_paths_) {
    if (CheckQuit()) return false;
    if (enabled == 0 || !ChosenFolder(path).is_directory) continue;
    IndexerLogPath(StrFormat("Filecount before searching %s:  %u", path.c_str(), result.new_count),
                   path, LEVEL_INFO);
    getmediafilecount(path, result);
    IndexerLogPath(StrFormat("Filecount after searching %s:  %u", path.c_str(), result.new_count),
                   path, LEVEL_INFO);
  }
  return !CheckQuit();
}

void AgentIndexer::CollectChangedFolders(ScanResult& result) {
  for (const auto& [folder, depth] : scope_.folders()) {
    if (CheckQuit()) return;
    // Gone since (moved away, deleted) or outside the collection: the
    // deleted-file pass took care of its records.
    if (!InCollection(folder)) continue;
    CollectFolder(folder, result, depth == IndexScope::Depth::kWholeTree);
  }
}

bool AgentIndexer::InCollection(const std::string& folder) {
  if (FindEnabledPath(search_paths_, folder) == 0 || IsInSystemTree(folder) ||
      !FolderCanHoldRecords(folder))
    return false;
  const std::string chosen = HoldingFolder(folder);
  if (chosen.empty() || !ChosenFolder(chosen).is_directory) return false;
  // The walk enters no hidden folder below the chosen one.
  for (std::size_t at = folder.find('/', chosen.size()); at != std::string::npos;
       at = folder.find('/', at + 1))
    if (at + 1 < folder.size() && folder[at + 1] == '.') return false;
  platform::FileInfo info;
  return platform::StatFile(folder, &info) && info.is_directory;
}

DWORD AgentIndexer::getmediafilecount(const std::string& folder, ScanResult& result) {
  return CollectFolder(folder, result, true);
}

DWORD AgentIndexer::CollectFolder(const std::string& folder, ScanResult& result, bool recurse,
                                  const Subfolder* from) {
  IndexerLogPath("Getting count of media files in selected path", folder, LEVEL_VERBOSE);
  platform::DirReader reader;
  const bool opened = from ? reader.OpenChild(*from->parent, folder.c_str() + folder.rfind('/') + 1)
                           : reader.Open(folder);
  if (!opened) {
    IndexerLog(StrFormat("getmediafilecount: unable to start a new file search for %s during the "
                         "indexing process, err %d",
                         folder.c_str(), reader.last_errno()),
               LEVEL_ERROR);
    return 0;
  }
  // A folder reached a second time (a link to an ancestor, a linked folder
  // met twice, a chosen folder inside another) is listed only once. A
  // subfolder's identity is its entry's in the parent's listing.
  std::uint64_t device = from ? from->device : 0;
  std::uint64_t inode = from ? from->inode : 0;
  const bool identified = from != nullptr || reader.Identity(&device, &inode);
  if (identified && !visited_.Enter(device, inode)) {
    IndexerLogPath("Skipping folder already searched", folder, LEVEL_VERBOSE);
    return 0;
  }
  const bool verbose = AppLog().Wants(LEVEL_VERBOSE, MODULE_INDEXER);
  // What holds for every entry alike is decided once for the folder.
  const std::string prefix = ChildPath(folder, "");
  const ChildPathFit fit = from ? from->fit : ChildPathFit(folder);
  SupportedNames supported;
  const bool system_by_folder = platform::ChildrenShareSystemTree(folder);
  const bool folder_in_system = system_by_folder && IsInSystemTree(folder);
  DWORD valid = 0;
  DWORD below = 0;  // files collected in subfolders
  // This folder's files in `result`, looked up in the database together:
  // those `collected_` holds from `here` on (the subfolders listed on the
  // way have taken theirs off again).
  const std::size_t here = collected_.size();
  platform::DirEntry entry;
  std::string path;  // of the entry; its buffer serves every entry
  while (reader.Next(&entry)) {
    if (CheckQuit()) break;
    path.assign(prefix).append(entry.name);
    if (IsHiddenName(entry.name)) {
      if (verbose) IndexerLogPath("Skipping hidden", path, LEVEL_VERBOSE);
      continue;
    }
    if (system_by_folder ? folder_in_system : IsInSystemTree(path)) {
      if (verbose) IndexerLogPath("Skipping Windows folder", path, LEVEL_VERBOSE);
      continue;
    }
    if (!reader.Stat(&entry)) {
      // Vanished since the listing, a dangling link, or not readable.
      IndexerLogPath(StrFormat("getmediafilecount: unable to read the properties of a file, "
                               "err %d, skipping",
                               reader.last_errno()),
                     path, LEVEL_INFO);
      continue;
    }
    if (entry.is_directory) {
      if (!recurse || FindEnabledPath(search_paths_, path) == 0) continue;
      if (!fit.HoldsFolder(entry.name)) {
        IndexerLogPath("Skipping folder whose paths do not fit a db record", path, LEVEL_INFO);
        continue;
      }
      // Another device below this folder: a mount point, remembered so that
      // its files are not taken for deleted once it is unmounted.
      if (identified && entry.device != device) RememberMountPoint(path);
      if (verbose) IndexerLogPath("Recursing into folder", path, LEVEL_VERBOSE);
      const Subfolder child{&reader, fit.Child(entry.name), entry.device, entry.inode};
      below += CollectFolder(path, result, true, &child);
      continue;
    }
    if (!entry.is_regular) {
      if (verbose) IndexerLogPath("Skipping special file", path, LEVEL_VERBOSE);
      continue;
    }
    // The library file is looked for before the size test: a small library
    // (a few dozen tracks) is still a library to import.
    if (looking_for_itunes_ && entry.name.size() == kITunesLibraryFileName.size() &&
        platform::AsciiLower(entry.name) == kITunesLibraryFileName) {
      options_.settings->WriteStringUtf8(kSubKeySettings, kITunesHistoryFileValue, path);
      looking_for_itunes_ = false;
      IndexerLogPath("Found iTunes history file", path, LEVEL_INFO);
      continue;
    }
    if (entry.size < kDbMinFileSize) {
      if (AppLog().Wants(LEVEL_INFO, MODULE_INDEXER))
        IndexerLog(StrFormat("File %s less than minimum file size of %d, skipping", path.c_str(),
                             static_cast<int>(kDbMinFileSize)),
                   LEVEL_INFO);
      continue;
    }
    if (!supported.Supported(entry.name)) continue;
    if (!fit.Fits(entry.name)) {
      IndexerLogPath("Skipping file whose path is too long for a db record or not valid text", path,
                     LEVEL_INFO);
      continue;
    }
    ++valid;
    collected_.push_back(result.files.size());
    result.files.push_back(path);
    result.listed.push_back({entry.modified, 0, entry.size, entry.created, entry.accessed});
  }
  lookup_paths_.clear();
  for (std::size_t k = here; k < collected_.size(); ++k)
    lookup_paths_.push_back(result.files[collected_[k]]);
  db_->LookupEntries(lookup_paths_, &lookup_positions_);
  DWORD known = 0;
  for (std::size_t k = 0; k < lookup_positions_.size(); ++k) {
    result.listed[collected_[here + k]].position = lookup_positions_[k];
    if (lookup_positions_[k] != 0) ++known;
  }
  collected_.resize(here);
  const DWORD added = valid - known;
  if (verbose)
    IndexerLog(StrFormat("Found %u valid files, %u not already in db, %u already in db, and %u "
                         "total for this folder and all sub foldes of: %s",
                         valid, added, known, valid + below, folder.c_str()),
               LEVEL_VERBOSE);
  result.new_count += added;
  result.known_count += known;
  return valid + below;
}
