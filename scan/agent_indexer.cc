#include "scan/agent_indexer.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "app/format.h"
#include "app/string_table.h"
#include "db/kiv_db.h"
#include "platform/dir_walk.h"
#include "platform/file_info.h"
#include "platform/text.h"
#include "scan/absent_volume.h"
#include "scan/indexer_log.h"

namespace {

// Record summaries taken at a time by the deleted-file pass.
constexpr std::size_t kSummaryBlock = 256;

// New files added with one write of their records: at most this many, and
// the first waits at most this long for the others.
constexpr std::size_t kAddBatch = 64;
constexpr std::uint64_t kAddBatchMs = 100;

// The record slot at file position `pos` (at least kDbHeaderSize).
std::size_t SlotOf(std::uint32_t pos) { return (pos - kDbHeaderSize) / kDbRecordSize; }

// Status messages handed to the main window with one post.
constexpr std::size_t kOutboxMessages = 64;

// Files the last run could not store (process-wide: each run is a new
// job). While not 0 a run over the whole collection goes ahead whatever
// "IndexComplete" says, and the retry has been announced in the log.
std::atomic<DWORD> g_unstored{0};

}  // namespace

AgentIndexer::AgentIndexer(const AgentContext& context, AgentIndexerOptions options)
    : context_(context),
      options_(options),
      scope_(IndexScope::FromPayload(context.request)),
      db_(std::make_unique<KivDB>()),
      progress_text_(LoadStringResource(IDS_INDEX_PROGRESS)),
      added_text_(LoadStringResource(IDS_INDEX_ADDED)),
      updating_text_(LoadStringResource(IDS_INDEX_UPDATING)) {
  if (scope_.empty()) scope_ = IndexScope::WholeCollection();
}

AgentIndexer::~AgentIndexer() = default;

int AgentIndexer::Run() {
  if (!db_ || !db_->IsReady()) {
    IndexerLog("AgentIndexer: failed creating kivDB. Can not continue indexing.", LEVEL_ERROR);
    return 1;
  }
  CRegSettings& settings = *options_.settings;
  const bool whole = scope_.whole();
  DWORD complete = 0;
  settings.ReadDword(kSubKeySettings, kIndexCompleteValue, complete);
  if (whole && complete != 0 && g_unstored == 0) {
    IndexerLog("AgentIndexer: No need to index, marked as complete.", LEVEL_INFO);
    return 1;
  }
  // Folders that changed are looked at whatever the mark says; the mark
  // keeps telling whether the last run over the whole collection finished.
  if (!whole)
    IndexerLog(StrFormat("AgentIndexer: looking at %zu changed folders", scope_.folders().size()),
               LEVEL_INFO);
  DWORD pauses_off = 0;
  if (settings.ReadDword(kSubKeySettings, kIndexerPausesOffValue, pauses_off) && pauses_off != 0) {
    IndexerLog("AgentIndexer: pauses off for measurement", LEVEL_INFO);
    options_.record_sleep_ms = 0;
    options_.file_sleep_ms = 0;
  }
  ShowIndexingNotice();
  Post(WM_STATUS_PROGRESS_RANGE, kJobScan, 0);

  IndexerLog("AgentIndexer: scanning for deleted", LEVEL_INFO);
  ScanResult result;
  bool going = DeletedFilePass(result);
  if (going) {
    IndexerLog("AgentIndexer: scanning for added", LEVEL_INFO);
    // Over the whole collection the walk was the deleted-file pass's first
    // step.
    going = whole || CollectionPass(result);
  }
  if (going) {
    IndexerLog("AgentIndexer: indexing added", LEVEL_INFO);
    going = IndexingPass(result);
    if (going) SettleUnstored();
    if (going && whole && unstored_ == 0 && !CheckQuit())
      settings.WriteDword(kSubKeySettings, kIndexCompleteValue, 1);
  }
  Post(WM_STATUS_DONE, kJobScan, 0);
  FlushPosts();
  return 1;
}

void AgentIndexer::SettleUnstored() {
  const DWORD before = g_unstored.exchange(unstored_);
  if (unstored_ == 0) {
    if (before != 0) IndexerLog("AgentIndexer: every file found is stored again", LEVEL_WARNING);
    return;
  }
  if (before == 0)
    IndexerLog(
        StrFormat("AgentIndexer: %u files could not be stored in the database; indexing "
                  "again every %d s until they are",
                  static_cast<unsigned>(unstored_), static_cast<int>(kIndexerRetryMs / 1000)),
        LEVEL_ERROR);
  Post(WM_AGENT_REQUEST, ID_AGENT_INDEXER, kIndexerRetryMs);
}

void AgentIndexer::ShowIndexingNotice() {
  CRegSettings& settings = *options_.settings;
  DWORD previously_run = 0;
  if (settings.ReadDword(kSubKeySettings, kPreviouslyRunValue, previously_run)) return;
  DWORD notified = 0;
  settings.ReadDword(kSubKeySettings, kNotifiedValue, notified);
  if (notified & kNotifiedIndexingBit) return;
  Post(WM_STATUS_EVENT, kJobIndex, 0, LoadStringResource(IDS_INDEX_NOTICE));
  settings.WriteDword(kSubKeySettings, kNotifiedValue, notified | kNotifiedIndexingBit);
}

std::string AgentIndexer::HoldingFolder(const std::string& path) const {
  std::string key = SearchPathKey(path);
  std::size_t best_length = 0;
  std::size_t best_end = 0;
  for (const auto& entry : search_paths_) {
    const std::string& folder = entry.first;
    if (folder.size() <= best_length) continue;
    std::size_t at = key.find(folder);
    if (at == std::string::npos) continue;
    best_length = folder.size();
    best_end = at + folder.size();
  }
  return path.substr(0, best_end);
}

bool AgentIndexer::DeletedFilePass(ScanResult& result) {
  IndexerLog("AgentIndexer: Checking for deleted files", LEVEL_INFO);
  LoadSearchPaths(search_paths_, *options_.settings);
  record_modified_.clear();
  scoped_modified_.clear();
  folders_.clear();
  platform::PresenceProbe probe;
  if (!scope_.whole()) {
    // Only the records of the changed folders, found through the index.
    KivDB::PositionedEntries records;
    db_->GetEntriesIn([this](std::string_view folder) { return scope_.CoversFilesIn(folder); },
                      &records);
    for (const auto& [pos, entry] : records) {
      if (CheckQuit()) return false;
      CheckRecord(pos, entry, probe);
    }
    return true;
  }
  // The walk comes first: a file it listed is there, so a record of such a
  // file with no flag to clear needs no look of its own and is not read.
  // The other records are read and looked for one by one.
  if (!CollectionPass(result)) return false;
  // Sized once: growing record by record would cost more than the test.
  std::size_t slots = 0;
  for (const ScanResult::Listed& file : result.listed)
    if (file.position >= kDbHeaderSize) slots = std::max(slots, SlotOf(file.position) + 1);
  std::vector<bool> listed(slots, false);
  for (const ScanResult::Listed& file : result.listed)
    if (file.position >= kDbHeaderSize) listed[SlotOf(file.position)] = true;
  record_modified_.reserve(KivDB::ValidCount() + KivDB::EmptyCount());
  KivDB::PositionedSummaries block;
  KivDB::PositionedEntries record;
  std::uint32_t from = 0;
  do {
    block.clear();
    from = db_->GetSummaryBlock(from, kSummaryBlock, &block);
    for (const auto& [pos, summary] : block) {
      if (CheckQuit()) return false;
      const std::size_t slot = SlotOf(pos);
      if (slot < listed.size() && listed[slot] &&
          !(summary.flags & (DBFLAG_NOTINPATH | DBFLAG_DELETED))) {
        RememberModified(pos, summary.file_modified);
        Pause(options_.record_sleep_ms);
        continue;
      }
      // Read whole; a record gone since its summary was taken has nothing
      // to check.
      record.clear();
      db_->GetEntryBlock(pos, 1, &record);
      if (!record.empty()) CheckRecord(pos, record.front().second, probe);
    }
  } while (from != 0);
  return true;
}

void AgentIndexer::CheckRecord(std::uint32_t pos, const DBEntry& entry,
                               platform::PresenceProbe& probe) {
  const std::string path = EntryPath(entry);
  RememberModified(pos, entry.file_modified);
  if (!IsInAnySearchPath(search_paths_, path)) {
    IndexerLogPath("AgentIndexer: marking entry as 'not in path'", path, LEVEL_INFO);
    SetFlags(path, DBFLAG_NOTINPATH, 0);
  } else {
    CheckPresence(entry, path, probe);
  }
  Pause(options_.record_sleep_ms);
}

const FolderProbe& AgentIndexer::ChosenFolder(const std::string& folder) {
  auto it = folders_.find(folder);
  if (it != folders_.end()) return it->second;
  // The look may take seconds on a mount that hangs.
  FlushPosts();
  FolderProbe probe = ProbeFolder(folder, options_.folder_probe_timeout_ms);
  if (!probe.answered)
    IndexerLogPath("AgentIndexer: chosen folder is not answering, leaving it for this run", folder,
                   LEVEL_WARNING);
  else if (probe.is_directory)
    RememberEnclosingMountPoint(folder);
  return folders_.emplace(folder, probe).first->second;
}

void AgentIndexer::CheckPresence(const DBEntry& entry, const std::string& path,
                                 platform::PresenceProbe& probe) {
  // A folder on a mount that hangs would hang every look at its files.
  const std::string folder = HoldingFolder(path);
  const FolderProbe& chosen = ChosenFolder(folder);
  if (!chosen.answered) return;
  switch (probe.Probe(path)) {
    case platform::PathPresence::kMissing:
      // An unplugged drive or an unmounted share leaves an empty mount point
      // (or nothing): the records of its files stay as they are.
      if (!chosen.is_directory || OnAbsentVolume(path)) {
        IndexerLogPath("AgentIndexer: file is on a volume that is not mounted, leaving it", path,
                       LEVEL_VERBOSE);
      } else {
        IndexerLogPath("AgentIndexer: marking entry as deleted", path, LEVEL_INFO);
        SetFlags(path, DBFLAG_DELETED, 0);
      }
      break;
    case platform::PathPresence::kPresent:
      if (entry.flags & (DBFLAG_NOTINPATH | DBFLAG_DELETED))
        SetFlags(path, 0, DBFLAG_NOTINPATH | DBFLAG_DELETED);
      break;
    case platform::PathPresence::kUnknown:
      // No permission or an I/O error: the file may well be there.
      IndexerLogPath("AgentIndexer: can not tell whether the file exists, leaving it", path,
                     LEVEL_VERBOSE);
      break;
  }
}

void AgentIndexer::SetFlags(const std::string& path, DWORD set, DWORD clear) {
  // The record read at the start of the pass may be seconds old by now
  // (a folder probe waits up to 5 s): only the flags change on disk.
  db_->ModifyEntry(path, [set, clear](DBEntry& e) {
    const DWORD flags = (e.flags | set) & ~clear;
    if (flags == e.flags) return false;
    e.flags = flags;
    return true;
  });
}

bool AgentIndexer::IndexingPass(const ScanResult& result) {
  const int total = static_cast<int>(result.new_count + result.known_count);
  Post(WM_STATUS_PROGRESS_RANGE, kJobIndex, total);
  int done = 0;
  // New files wait to be added together (one write for their records), at
  // most kAddBatch of them and for at most kAddBatchMs.
  std::vector<std::size_t> batch;
  std::uint64_t batch_start_ms = 0;
  const auto add_batch = [&] {
    AddBatch(result, batch);
    for (std::size_t k = 0; k < batch.size(); ++k) Progress(++done, total);
    batch.clear();
  };
  bool stopped = false;
  for (std::size_t i = 0; i < result.files.size(); ++i) {
    if (CheckQuit()) {
      stopped = true;
      break;
    }
    const std::string_view path = result.files[i];
    // A file without a record when it was listed is looked up again when
    // another job added records since the walk began (it may be one of
    // them); LookupEntry, as a miss of GetEntry logs a line of its own.
    const ScanResult::Listed listed =
        i < result.listed.size() ? result.listed[i] : ScanResult::Listed();
    const bool others_added = KivDB::AddCount() != adds_before_walk_ + own_adds_;
    const std::uint32_t pos = listed.position != 0 ? listed.position
                              : others_added       ? db_->LookupEntry(std::string(path))
                                                   : 0;
    if (pos != 0 || listed.modified == kUnknownTime) {
      add_batch();
      if (pos != 0)
        RefreshIfChanged(path, pos, listed.modified);
      else
        Added(path, db_->AddEntry(std::string(path)) != FALSE);
      Progress(++done, total);
    } else {
      if (batch.empty()) batch_start_ms = context_.clock->TickMs();
      batch.push_back(i);
      if (batch.size() >= kAddBatch || context_.clock->TickMs() - batch_start_ms >= kAddBatchMs)
        add_batch();
    }
    Pause(options_.file_sleep_ms);
  }
  // The files taken before a stop are added all the same.
  add_batch();
  db_->Flush();
  Post(WM_STATUS_DONE, kJobIndex, 0);
  return !stopped;
}

void AgentIndexer::AddBatch(const ScanResult& result, const std::vector<std::size_t>& batch) {
  if (batch.empty()) return;
  std::vector<platform::FileInfo>& files = batch_files_;
  files.resize(batch.size());
  for (std::size_t k = 0; k < batch.size(); ++k) {
    const ScanResult::Listed& listed = result.listed[batch[k]];
    platform::FileInfo& info = files[k];
    info.path.assign(result.files[batch[k]]);
    info.is_regular = true;
    info.size = listed.size;
    info.created = listed.created;
    info.accessed = listed.accessed;
    info.modified = listed.modified;
  }
  // Files listed without a record still have none while only this run
  // added records since the walk began.
  db_->AddEntries(files, &batch_added_, adds_before_walk_ + own_adds_);
  for (std::size_t k = 0; k < batch.size(); ++k) Added(files[k].path, batch_added_[k]);
}

void AgentIndexer::Added(std::string_view path, bool added) {
  if (added) {
    ++own_adds_;
    IndexerLogPath("AgentIndexer: added new file to db", path, LEVEL_INFO);
    Post(WM_STATUS_EVENT, kJobIndex, 0, added_text_(platform::BaseName(path)));
  } else if (KivDB::WritesFailing()) {
    // The database said so once; the retry of the pass is announced once.
    ++unstored_;
    IndexerLogPath("AgentIndexer: could not store new file, left for the next pass", path,
                   LEVEL_VERBOSE);
  } else {
    IndexerLogPath("AgentIndexer: FAILED adding new file to db", path, LEVEL_ERROR);
  }
}

void AgentIndexer::Progress(int done, int total) {
  Post(WM_STATUS_PROGRESS_TEXT, kJobIndex, 0, progress_text_(done, total));
  Post(WM_STATUS_PROGRESS_POS, kJobIndex, done);
}

void AgentIndexer::RefreshIfChanged(std::string_view path_view, std::uint32_t pos,
                                    std::int64_t listed_modified) {
  // The record's time as the deleted-file pass read it spares reading the
  // record again for the many files that did not change; a file that looks
  // changed is decided on its fresh record and a fresh look at the file
  // (either may have changed since).
  const std::int64_t seen = RecordedModified(pos);
  if (seen != kUnknownTime && listed_modified != kUnknownTime &&
      listed_modified <= seen + kIndexerRefreshSlackSeconds)
    return;
  const std::string path(path_view);
  DBEntry entry;
  if (!db_->GetEntry(path, &entry)) return;
  const std::int64_t refresh_after = entry.file_modified + kIndexerRefreshSlackSeconds;
  if (listed_modified != kUnknownTime && listed_modified <= refresh_after) return;
  platform::FileInfo info;
  if (!platform::StatFile(path, &info) || !info.is_regular || info.modified <= refresh_after)
    return;
  db_->UpdateEntry(info);
  Post(WM_STATUS_EVENT, kJobIndex, 0, updating_text_(platform::BaseName(path)));
}

std::int64_t AgentIndexer::RecordedModified(std::uint32_t pos) const {
  if (pos < kDbHeaderSize) return kUnknownTime;
  if (!scope_.whole()) {
    const auto it = scoped_modified_.find(pos);
    return it != scoped_modified_.end() ? it->second : kUnknownTime;
  }
  const std::size_t slot = SlotOf(pos);
  return slot < record_modified_.size() ? record_modified_[slot] : kUnknownTime;
}

void AgentIndexer::RememberModified(std::uint32_t pos, std::int64_t modified) {
  if (pos < kDbHeaderSize) return;
  // A table as long as the file would cost a changed folder's run in
  // proportion to the collection.
  if (!scope_.whole()) {
    scoped_modified_[pos] = modified;
    return;
  }
  const std::size_t slot = SlotOf(pos);
  if (slot >= record_modified_.size())
    record_modified_.resize(std::max(slot + 1, record_modified_.capacity()), kUnknownTime);
  record_modified_[slot] = modified;
}

BOOL AgentIndexer::Post(UINT id, WPARAM job, LPARAM value, std::string text) {
  if (!context_.main_window) return FALSE;
  if (outbox_.capacity() == 0) outbox_.reserve(kOutboxMessages);
  outbox_.emplace_back(id, job, value, std::move(text));
  if (outbox_.size() >= kOutboxMessages) FlushPosts();
  return TRUE;
}

void AgentIndexer::FlushPosts() {
  if (outbox_.empty()) return;
  context_.PostAllToMainWindow(std::move(outbox_));
  outbox_.clear();
}

void AgentIndexer::Pause(std::uint32_t ms) {
  if (ms == 0) return;
  FlushPosts();
  context_.clock->SleepMs(ms);
}

void RegisterIndexerAgent(AgentJobRegistry& jobs, AgentIndexerOptions options) {
  jobs.Register(AGENT_INDEXER, [options](const AgentContext& context) -> std::unique_ptr<CAgent> {
    return std::make_unique<AgentIndexer>(context, options);
  });
}
