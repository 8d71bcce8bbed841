// AgentIndexer: the agent job that keeps the local database in step with
// the chosen music folders. One run makes three passes: it marks records
// whose files vanished (DBFLAG_DELETED) or lie outside every chosen folder
// (DBFLAG_NOTINPATH), collects every supported media file of the enabled
// folders, then adds the files that have no record and refreshes those whose
// file changed. The indexer reads no tags. On the way it records the path of
// an iTunes library file in "ITunesHistoryFile" for the iTunes import.
//
// Over the whole collection the walk of the collection pass runs first, at
// the start of the deleted-file pass: a file it listed is there, so each
// file costs one look per run.
//
// A run that completes without being stopped, with every new file stored,
// sets "IndexComplete"; later runs do nothing until something clears it. A
// run that could not store some files because the database could not be
// written asks for another run 30 s later (a whole one, whatever the mark
// says), until one stores them all. Progress goes to the main window as
// status messages of job 1 (the run) and job 2 (the indexing pass).
//
// A run asked for changed folders only (an IndexScope in the launch
// request, from the folder monitor) makes the same three passes over those
// folders alone: the records under them, and their files. It runs whatever
// "IndexComplete" says and leaves that mark as it is.
//
// Thread safety: a job runs on its agent thread only. It opens its own
// database connection and keeps nothing between runs.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/agent.h"
#include "app/agent_registry.h"
#include "app/format.h"
#include "app/index_scope.h"
#include "app/message_loop.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "db/db_format.h"
#include "platform/dir_walk.h"
#include "platform/file_info.h"
#include "platform/win_types.h"
#include "scan/collection_rules.h"
#include "scan/path_list.h"

class KivDB;

// The status page's activity numbers: the whole run and the indexing pass.
inline constexpr WPARAM kJobScan = 1;
inline constexpr WPARAM kJobIndex = 2;

// Settings values (sub-key "Settings") the indexer reads or writes.
inline constexpr const char* kIndexCompleteValue = "IndexComplete";
inline constexpr const char* kPreviouslyRunValue = "PreviouslyRun";
inline constexpr const char* kNotifiedValue = "Notified";
inline constexpr DWORD kNotifiedIndexingBit = 0x100;
// For measurement only: non-zero makes each run skip the pauses below, so
// that a benchmark can time whole passes with the program itself. Read at
// the start of every run.
inline constexpr const char* kIndexerPausesOffValue = "MeasureIndexerWithoutPauses";
// Full path of the iTunes library file, written when the walk finds one.
inline constexpr const char* kITunesHistoryFileValue = "ITunesHistoryFile";
// Compared without case.
inline constexpr std::string_view kITunesLibraryFileName = "itunes music library.xml";

// Pauses that leave room for the other threads: after each record of the
// deleted-file pass and after each file of the indexing pass.
inline constexpr std::uint32_t kIndexerRecordSleepMs = 5;
inline constexpr std::uint32_t kIndexerFileSleepMs = 10;
// A known file is refreshed when its last write is later than the record's
// file-modified time by more than this many seconds.
inline constexpr std::int64_t kIndexerRefreshSlackSeconds = 100;
// A pass that could not store every new file (a full disk, a data folder
// gone read-only) is not complete: the indexer asks to run again this many
// milliseconds later, and goes on doing so until every file is stored.
inline constexpr LPARAM kIndexerRetryMs = 30000;

struct AgentIndexerOptions {
  // Benchmarks set the pauses to 0.
  std::uint32_t record_sleep_ms = kIndexerRecordSleepMs;
  std::uint32_t file_sleep_ms = kIndexerFileSleepMs;
  // How long a chosen folder may take to answer (a hung network mount).
  int folder_probe_timeout_ms = kFolderProbeTimeoutMs;
  // Settings store (not owned); the program's by default.
  CRegSettings* settings = &AppSettings();
};

inline constexpr std::int64_t kUnknownTime = std::numeric_limits<std::int64_t>::min();

// What the collection pass hands to the indexing pass.
struct ScanResult {
  DWORD new_count = 0;    // files found that have no record
  DWORD known_count = 0;  // files found that already have one
  PathList files;         // every file found, in the order found
  // What the listing saw of each file (same order): its last write, and
  // its record's position then (0: none). A known file whose record is
  // newer than its last write needs no second look at file or record; a
  // new file's record is made from these properties without a second look
  // at the file.
  struct Listed {
    std::int64_t modified = kUnknownTime;
    std::uint32_t position = 0;
    std::uint64_t size = 0;
    std::int64_t created = 0;
    std::int64_t accessed = 0;
  };
  std::vector<Listed> listed;
};

class AgentIndexer : public CAgent {
 public:
  explicit AgentIndexer(const AgentContext& context, AgentIndexerOptions options = {});
  ~AgentIndexer() override;

  // The run described above. Returns 1 in every case.
  int Run() override;

  // Collects the supported files of `folder` and of its enabled subfolders
  // into `result`. Returns the number of files collected below `folder`,
  // subfolders included. Uses the map loaded by the collection pass.
  DWORD getmediafilecount(const std::string& folder, ScanResult& result);

 private:
  // Each pass returns false when it was stopped. Over the whole collection,
  // or over the changed folders of `scope_` alone.
  // Over the whole collection the deleted-file pass starts with the
  // collection pass into `result`, whose listing answers for the records
  // of the files it saw.
  bool DeletedFilePass(ScanResult& result);
  bool CollectionPass(ScanResult& result);
  bool IndexingPass(const ScanResult& result);
  void ShowIndexingNotice();
  // After the indexing pass: keeps the pass open while files were left
  // unstored, and says so once per change.
  void SettleUnstored();
  // Refreshes the record (at `pos`) of a known file whose last write is
  // more than the slack later than the record's. `listed_modified` is the
  // time the listing saw, or kUnknownTime.
  void RefreshIfChanged(std::string_view path, std::uint32_t pos, std::int64_t listed_modified);
  // Adds the records of the new files at `batch` (indexes into `result`)
  // from what the listing saw of them, and says so for each.
  void AddBatch(const ScanResult& result, const std::vector<std::size_t>& batch);
  // Logs and posts the outcome of adding the record of `path`.
  void Added(std::string_view path, bool added);
  // Posts the progress of the indexing pass.
  void Progress(int done, int total);
  // File-modified time of the record at `pos` as the deleted-file pass
  // read it; kUnknownTime when it did not see that record.
  std::int64_t RecordedModified(std::uint32_t pos) const;
  void RememberModified(std::uint32_t pos, std::int64_t modified);
  // The folder of the chosen tree that holds `path` (the path up to the end
  // of the longest chosen folder found in it); empty when none.
  std::string HoldingFolder(const std::string& path) const;
  // What a look at a chosen folder found, once per pass and folder.
  const FolderProbe& ChosenFolder(const std::string& folder);
  // The deleted-file pass for one record (at `pos`).
  void CheckRecord(std::uint32_t pos, const DBEntry& entry, platform::PresenceProbe& probe);
  // The collection pass over the changed folders of `scope_`.
  void CollectChangedFolders(ScanResult& result);
  // Whether the indexer's walk would list `folder`: it lies in an enabled
  // chosen folder that answers, below it through no hidden or system
  // folder, and exists.
  bool InCollection(const std::string& folder);
  // What a folder's listing already knows of a subfolder it enters: the
  // open folder to open it from, the fit of its paths, and its identity
  // (the entry's properties, which follow links as the opening does).
  struct Subfolder {
    const platform::DirReader* parent;
    ChildPathFit fit;
    std::uint64_t device;
    std::uint64_t inode;
  };
  // Lists `folder` into `result`, with its enabled subfolders when
  // `recurse`. Returns the number of files collected. A subfolder is
  // listed with what its parent's listing knows of it (`from`).
  DWORD CollectFolder(const std::string& folder, ScanResult& result, bool recurse,
                      const Subfolder* from = nullptr);
  // The deleted-file pass for a record that lies in a chosen folder.
  void CheckPresence(const DBEntry& entry, const std::string& path, platform::PresenceProbe& probe);
  // Sets and clears flag bits of the stored record of `path`, leaving
  // every other field as it is on disk now.
  void SetFlags(const std::string& path, DWORD set, DWORD clear);
  // Status messages wait in `outbox_` and go to the main window together:
  // kOutboxMessages at a time, before any pause or look at a chosen folder,
  // and at the end of the run.
  BOOL Post(UINT id, WPARAM job, LPARAM value, std::string text = {});
  void FlushPosts();
  void Pause(std::uint32_t ms);

  AgentContext context_;
  AgentIndexerOptions options_;
  // What this run looks at: the whole collection, or changed folders.
  IndexScope scope_;
  std::unique_ptr<KivDB> db_;
  SearchPathMap search_paths_;
  // Chosen folders looked at in this pass.
  std::map<std::string, FolderProbe> folders_;
  // Record slot -> file-modified time, from the deleted-file pass: over the
  // whole collection by slot (8 bytes per record of the file), for changed
  // folders only for their few records.
  std::vector<std::int64_t> record_modified_;
  std::unordered_map<std::uint32_t, std::int64_t> scoped_modified_;
  // State of one collection pass.
  VisitedFolders visited_;
  bool looking_for_itunes_ = false;
  // New files of this run whose add failed on a database write.
  DWORD unstored_ = 0;
  std::vector<Message> outbox_;
  // The status texts of every file, split once per run.
  IntsFormat progress_text_;
  const TextFormat added_text_;
  const TextFormat updating_text_;
  // KivDB::AddCount() when the collection pass began, and the adds of this
  // run since: while the count is their sum, a file listed without a record
  // still has none.
  std::uint64_t adds_before_walk_ = 0;
  std::uint64_t own_adds_ = 0;
  // The walk's look-up lists, kept from folder to folder: the indexes in
  // `result.files` of the files of the folders being listed, innermost
  // last, then the current folder's paths and positions.
  std::vector<std::size_t> collected_;
  std::vector<std::string_view> lookup_paths_;
  std::vector<std::uint32_t> lookup_positions_;
  // AddBatch's lists, kept from batch to batch with their paths' buffers.
  std::vector<platform::FileInfo> batch_files_;
  std::vector<bool> batch_added_;
};

// Registers the indexer job for AGENT_INDEXER.
void RegisterIndexerAgent(AgentJobRegistry& jobs, AgentIndexerOptions options = {});
