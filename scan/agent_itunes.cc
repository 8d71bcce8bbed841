#include "scan/agent_itunes.h"

#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

#include "app/controller_state.h"
#include "app/format.h"
#include "app/log.h"
#include "app/search_paths.h"
#include "app/string_table.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "platform/clock.h"
#include "platform/file_info.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "scan/itunes_tracks.h"

namespace {

constexpr const char* kCompleteValue = "iTunesComplete";
constexpr const char* kHistoryFileValue = "ITunesHistoryFile";
constexpr const char* kLibraryRelativePath = "iTunes/iTunes Music Library.xml";

// Seconds between 1601-01-01 and 1970-01-01: file times count from 1601.
constexpr std::int64_t kFileTimeEpochSeconds = 11644473600;

// The library file's last-write time at the last parse (file time, 100 ns
// units; 0 = never parsed) and the database's last-add time seen at the
// last run.
std::atomic<std::int64_t> g_library_time{0};
std::atomic<std::int64_t> g_last_add_seen{0};

void Log(DWORD level, const std::string& message) { AppLog().Log(message, level, MODULE_ITUNES); }

bool IsRegularFile(const std::string& path) {
  platform::FileInfo info;
  return !path.empty() && platform::StatFile(path, &info) && info.is_regular;
}

}  // namespace

// The database side of a parse: merges each track into the agent's own
// database connection.
class AgentITunes::Import : public ItunesTrackHandler {
 public:
  explicit Import(AgentITunes& agent) : agent_(agent) {}

  bool CheckQuit() override { return agent_.CheckQuit() != FALSE; }

  bool BeginTracks() override {
    db_ = std::make_unique<KivDB>();
    if (!db_->IsReady()) {
      Log(LEVEL_ERROR, "AgentITunes: KivDB not ready. Cancelling iTunes parsing.");
      return false;
    }
    LoadSearchPaths(search_paths_, *agent_.options_.settings);
    if (search_paths_.empty()) {
      Log(LEVEL_ERROR, "AgentITunes: No search paths set. Cancelling iTunes parsing.");
      return false;
    }
    return true;
  }

  void OnTrackElement(int count) override {
    if (agent_.options_.track_sleep_ms > 0)
      agent_.context_.clock->SleepMs(agent_.options_.track_sleep_ms);
    agent_.context_.PostToMainWindow(WM_STATUS_PROGRESS_TEXT, kJobITunes, 0, std::to_string(count));
  }

  void OnTrack(DBEntry& track, const std::string& path) override {
    // A track of a path waiting to be added (the library names the file
    // twice) is merged into the record once it is there.
    if (std::find(new_paths_.begin(), new_paths_.end(), path) != new_paths_.end()) AddNew();
    if (db_->LookupEntry(path) != 0) {
      // Merged into the record as stored at this moment, under the engine's
      // lock: a play counted meanwhile is kept.
      const std::int64_t now = KivDB::StoredNow();
      const BOOL stored = db_->ModifyEntry(path, [&](DBEntry& known) {
        const ItunesMerge merge = MergeItunesRecord(track, &known);
        if (merge.touch) known.modified = now;
        return merge.write;
      });
      if (!stored)
        AppLog().LogDetail("Failed to update entry for file", path, LEVEL_ERROR, MODULE_ITUNES);
      return;
    }
    if (FindEnabledPath(search_paths_, path) == 0) return;
    PrepareNewItunesRecord(&track);
    new_tracks_.push_back(track);
    new_paths_.push_back(path);
    // A paced import adds each record at once (its write is nothing next to
    // the pauses, and the add keeps the track's time); flat out, records are
    // added together.
    if (new_tracks_.size() == kAddBatch || agent_.options_.track_sleep_ms > 0) AddNew();
  }

  void EndTracks() override { AddNew(); }

 private:
  // New records added together, written with one write.
  static constexpr std::size_t kAddBatch = 64;

  void AddNew() {
    if (new_tracks_.empty()) return;
    std::vector<bool> added;
    db_->AddEntries(&new_tracks_, &added);
    for (std::size_t i = 0; i < new_paths_.size(); ++i) {
      if (!added[i]) continue;
      const std::string& path = new_paths_[i];
      AppLog().LogDetail("AgentITunes: added new file to db", path, LEVEL_INFO, MODULE_ITUNES);
      agent_.context_.PostToMainWindow(WM_STATUS_EVENT, kJobITunes, 0,
                                       StrFormat(LoadStringResource(IDS_ITUNES_ADDED),
                                                 std::string(platform::BaseName(path)).c_str()));
    }
    new_tracks_.clear();
    new_paths_.clear();
  }

  AgentITunes& agent_;
  std::unique_ptr<KivDB> db_;
  SearchPathMap search_paths_;
  std::vector<DBEntry> new_tracks_;
  std::vector<std::string> new_paths_;
};

AgentITunes::AgentITunes(const AgentContext& context, AgentITunesOptions options)
    : context_(context), options_(std::move(options)) {
  if (!context_.clock) context_.clock = &platform::SystemClock();
  if (!options_.settings) options_.settings = &AppSettings();
  if (!options_.itunes_running) options_.itunes_running = [] { return ITunesRunning(); };
}

AgentITunes::~AgentITunes() = default;

void AgentITunes::ResetProcessState() {
  g_library_time = 0;
  g_last_add_seen = 0;
}

std::string AgentITunes::FindLibraryFile() {
  CRegSettings& settings = *options_.settings;
  std::string path;
  if (settings.ReadString(kSubKeySettings, kHistoryFileValue, path) && IsRegularFile(path))
    return path;
  std::string music = platform::MusicDir();
  path = music + (!music.empty() && music.back() == '/' ? "" : "/") + kLibraryRelativePath;
  if (!IsRegularFile(path)) return {};
  settings.WriteString(kSubKeySettings, kHistoryFileValue, path);
  AppLog().LogDetail("AgentItunes: iTunes History File found at", path, LEVEL_INFO, MODULE_ITUNES);
  return path;
}

int AgentITunes::Run() {
  CRegSettings& settings = *options_.settings;
  DWORD complete = 0;
  settings.ReadDword(kSubKeySettings, kCompleteValue, complete);
  if (complete != 0) {
    AppLog().Log("AgentITunes: No need to scan, marked as complete.", LEVEL_INFO, MODULE_INDEXER);
    return 1;
  }
  // A new record may be a file the library knows: parse again even if the
  // library itself did not change.
  const std::int64_t last_add = KivDB::LastAddTime();
  if (last_add > g_last_add_seen.load()) g_library_time = 0;
  g_last_add_seen = last_add;

  if (g_library_time.load() != 0 && options_.itunes_running && options_.itunes_running()) {
    Log(LEVEL_INFO, "AgentItunes: Not running agent while iTunes is running.");
    return 1;
  }
  const std::string path = FindLibraryFile();
  if (path.empty()) return 1;

  platform::FileInfo info;
  std::int64_t file_time = 0;
  if (platform::StatFile(path, &info)) {
    file_time = (info.modified + kFileTimeEpochSeconds) * 10000000;
    if (g_library_time.load() >= file_time) {
      Log(LEVEL_INFO, "AgentItunes: ITunes history file not updated since last read. Skipping.");
      return 1;
    }
  }
  context_.PostToMainWindow(WM_STATUS_PROGRESS_TEXT, kJobITunes, 0,
                            LoadStringResource(IDS_ITUNES_PARSING));
  const int parsed = ParseItunesHistoryFile(path, FALSE);
  context_.PostToMainWindow(WM_STATUS_DONE, kJobITunes, 0);
  // Only a whole parse counts: a stopped or failed one leaves the rest of
  // the history to the next run (merging a track twice changes nothing).
  if (parsed == 0 || CheckQuit()) {
    Log(LEVEL_INFO, "AgentItunes: parse not completed, the library will be read again");
    return 1;
  }
  if (file_time != 0) g_library_time = file_time;
  settings.WriteDword(kSubKeySettings, kCompleteValue, 1);
  return 1;
}

int AgentITunes::ParseItunesHistoryFile(const std::string& path, BOOL playlist_only,
                                        ItunesTrackLookup* lookup) {
  // Keeps the supported-extension list filled for the files' test.
  CTagReaderRef tag_reader;
  Import import(*this);
  const std::int64_t now = platform::NowAsStoredTime(context_.clock->WallTime());
  return ::ParseItunesHistoryFile(path, playlist_only, import, now, lookup);
}

void RegisterITunesAgent(AgentJobRegistry& jobs, AgentITunesOptions options) {
  jobs.Register(AGENT_ITUNES, [options](const AgentContext& context) -> std::unique_ptr<CAgent> {
    return std::make_unique<AgentITunes>(context, options);
  });
}
