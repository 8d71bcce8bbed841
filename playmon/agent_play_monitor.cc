#include "playmon/agent_play_monitor.h"

#include <cstring>
#include <memory>

#include "app/format.h"
#include "app/log.h"
#include "app/string_table.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/process_table.h"
#include "platform/text.h"
#include "playmon/handle_information.h"
#include "playmon/process_information.h"

namespace {

constexpr const char* kITunesImage = "itunes.exe";
// The marks of a finished index pass and iTunes import, cleared so that
// both run again over a file the monitor added.
constexpr const char* kIndexCompleteValue = "IndexComplete";
constexpr const char* kITunesCompleteValue = "iTunesComplete";
constexpr DWORD kReadData = 0x1;
constexpr DWORD kWriteData = 0x2;

void LogMonitor(const char* text, DWORD level) { AppLog().Log(text, level, MODULE_PLAY_MONITOR); }
void LogMonitor(const char* text, const std::string& path, DWORD level) {
  AppLog().LogDetail(text, path, level, MODULE_PLAY_MONITOR);
}

// The fields that reading a file's tags fills (GetTagEntry).
void CopyTags(const DBEntry& from, DBEntry& to) {
  std::memcpy(to.artist, from.artist, sizeof to.artist);
  std::memcpy(to.album, from.album, sizeof to.album);
  std::memcpy(to.title, from.title, sizeof to.title);
  std::memcpy(to.year, from.year, sizeof to.year);
  std::memcpy(to.genre, from.genre, sizeof to.genre);
  std::memcpy(to.gn_id, from.gn_id, sizeof to.gn_id);
  to.track_number = from.track_number;
}

}  // namespace

AgentPlayMonitor::AgentPlayMonitor(const AgentContext& context, AgentPlayMonitorOptions options)
    : context_(context),
      options_(std::move(options)),
      counted_(options_.counted ? *options_.counted : CountedPlays::Program()) {}

AgentPlayMonitor::~AgentPlayMonitor() = default;

int AgentPlayMonitor::Run() {
  if (!LoadFolders()) return 1;
  platform::Clock& clock = *context_.clock;
  while (!CheckQuit()) {
    // A look every five seconds, plus the time the look takes.
    bool quit = false;
    for (int step = 0; step < kPlayMonitorSteps && !quit; ++step) {
      clock.SleepMs(kPlayMonitorStepMs);
      quit = CheckQuit();
    }
    if (quit) break;
    Look();
  }
  return 1;
}

bool AgentPlayMonitor::LoadFolders() {
  LoadSearchPaths(folders_, *options_.settings);
  if (folders_.empty()) {
    LogMonitor("PathList is empty so no playing files will be checked for reindexing",
               LEVEL_WARNING);
    return false;
  }
  return true;
}

void AgentPlayMonitor::Look() {
  // The players first, then only their descriptors: the cost of a look
  // follows the players, not every process of the system.
  std::unique_ptr<SystemProcessInformation> processes =
      options_.players.empty()
          ? std::make_unique<SystemProcessInformation>()
          : std::make_unique<SystemProcessInformation>(options_.players, false);
  processes->UseProcessTable(&process_table_);
  if (!processes->Refresh()) {
    LogMonitor("SystemProcessInformation::Refresh() failed.", LEVEL_ERROR);
    return;
  }
  SystemHandleInformation handles(kAllProcesses, false, nullptr);
  std::vector<DWORD> pids;
  bool itunes = false;
  for (const auto& [pid, name] : processes->processes()) {
    pids.push_back(pid);
    if (name == kITunesImage) itunes = true;
  }
  handles.SetProcesses(std::move(pids));
  if (!handles.SetFilter(kFileTypeName, true)) {
    LogMonitor("Could not create instance of SystemHandleInformation", LEVEL_ERROR);
    return;
  }
  // The chosen folders may be links whose targets change; links inside
  // them are searched for now and again only, as that walks their folders.
  spelling_.Refresh(folders_, looks_++ % kLooksPerLinkSearch == 0);

  // An empty list is an ordinary look: it only means that no player holds
  // a file, and the plays that were going on have ended.
  std::map<DWORD, PlayerKey> by_pid;
  UpdatePlayers(processes->processes(), &by_pid);
  for (auto& [key, player] : players_) player.seen.BeginLook();
  std::string path;
  std::uint64_t position = 0;
  for (const HandleEntry& entry : handles.handles()) {
    const auto player = by_pid.find(entry.process_id);
    if (player == by_pid.end() || !Qualifies(entry, &path, &position)) continue;
    players_[player->second].seen.Observe(
        path, position, SeenFile{entry.file_device, entry.file_inode, entry.file_size});
  }
  ReportITunes(itunes);
  StorePendingPlays();

  std::set<OpenInstance> open;
  for (auto& [key, player] : players_) Decide(key, player, &open);
  counted_.KeepOnly(open);
}

void AgentPlayMonitor::UpdatePlayers(const ProcessMap& processes,
                                     std::map<DWORD, PlayerKey>* by_pid) {
  std::set<PlayerKey> running;
  for (const auto& [pid, name] : processes) {
    std::uint64_t start = 0;
    if (!platform::ReadProcessStartTime(pid, &start)) continue;  // ended since the listing
    const PlayerKey key{pid, start};
    running.insert(key);
    (*by_pid)[pid] = key;
    if (players_.try_emplace(key).second) LogMonitor("Found Process: ", name, LEVEL_INFO);
  }
  for (auto it = players_.begin(); it != players_.end();) {
    if (running.count(it->first)) {
      ++it;
      continue;
    }
    if (!it->second.now_playing.empty()) PlayEnded(it->second);
    it = players_.erase(it);
  }
}

void AgentPlayMonitor::Decide(const PlayerKey& key, Player& player, std::set<OpenInstance>* open) {
  std::string candidate = player.seen.Pick();
  OpenInstance chosen;
  for (const auto& [path, record] : player.seen.records()) {
    const OpenInstance instance{key.first, key.second, record.device, record.inode};
    open->insert(instance);
    if (path == candidate) chosen = instance;
    // Played again from the start without being closed: a new play, once
    // it has been heard for as long as a newly opened file.
    if (counted_.Follow(instance, record.position, record.size) == FollowResult::kPlayedAgain) {
      player.seen.Restart(path);
      if (path == candidate) candidate.clear();
    }
  }
  if (!player.now_playing.empty() && candidate != player.now_playing) PlayEnded(player);
  if (candidate != player.failed) player.failed.clear();
  if (player.now_playing.empty() && !candidate.empty() && candidate != player.failed)
    PlayStarted(player, candidate, chosen);
}

std::vector<std::string> AgentPlayMonitor::now_playing() const {
  std::vector<std::string> paths;
  for (const auto& [key, player] : players_)
    if (!player.now_playing.empty()) paths.push_back(player.now_playing);
  return paths;
}

bool AgentPlayMonitor::Qualifies(const HandleEntry& entry, std::string* path,
                                 std::uint64_t* position) const {
  std::string name;
  if (!GetName(entry.handle_value, &name, entry.process_id)) return false;
  if (entry.object_type != kFileTypeNumber) return false;
  std::string real;
  if (!DeviceToDosPath(name, &real)) return false;
  real = platform::PathKey(real);
  if (real.empty() || real[0] != '/') return false;
  if (platform::IsInSystemTree(real)) return false;
  // The kernel shows the real path; the folders and records spell it
  // through the links the user chose.
  *path = spelling_.Spell(real);
  if (!IsSupportedFile(*path)) return false;
  if (FindEnabledPath(folders_, *path) == 0) return false;
  std::uint32_t access = 0;
  GetFilePositionAndAccess(entry.handle_value, position, &access, entry.process_id);
  return (access & kReadData) != 0 && (access & kWriteData) == 0;
}

void AgentPlayMonitor::ReportITunes(bool running) {
  const DWORD state = running ? 1 : 0;
  if (state == itunes_running_ || !context_.main_window) return;
  itunes_running_ = state;
  context_.PostToMainWindow(WM_AGENT_DONE, ID_NOTIFY_ITUNES_RUNNING, state);
}

void AgentPlayMonitor::PlayStarted(Player& player, const std::string& path,
                                   const OpenInstance& instance) {
  // Counted before this job started (the monitor or the program restarted
  // while the song played): still playing, not played again.
  if (counted_.Contains(instance)) {
    LogMonitor("Play already counted for", path, LEVEL_INFO);
    PostNowPlaying(path);
    player.now_playing = path;
    return;
  }
  const std::int64_t now = platform::NowAsStoredTime(context_.clock->WallTime());
  bool added = false;
  if (StorePlay(path, now, &added)) {
    counted_.Add(instance, path);
    AnnouncePlay(path, added);
    player.now_playing = path;
    return;
  }
  if (!KivDB::WritesFailing()) {
    player.failed = path;
    return;
  }
  // The database can not be written (a full disk): the play is kept, and
  // stored and announced at the first look that can write it.
  if (pending_plays_.empty())
    LogMonitor(
        "Could not store the play: the database can not be written; keeping it until it "
        "can",
        path, LEVEL_WARNING);
  pending_plays_.push_back({path, now, instance});
  player.now_playing = path;
}

void AgentPlayMonitor::StorePendingPlays() {
  std::size_t stored = 0;
  bool added = false;
  for (; stored < pending_plays_.size(); ++stored) {
    const PendingPlay& play = pending_plays_[stored];
    if (!StorePlay(play.path, play.when, &added)) break;
    counted_.Add(play.instance, play.path);
    AnnouncePlay(play.path, added);
  }
  if (stored == 0) return;
  pending_plays_.erase(pending_plays_.begin(), pending_plays_.begin() + stored);
  LogMonitor(
      StrFormat("Stored %zu plays kept while the database could not be written", stored).c_str(),
      LEVEL_WARNING);
}

bool AgentPlayMonitor::StorePlay(const std::string& path, std::int64_t when, bool* added) {
  KivDB db;
  if (!db.IsReady()) return false;
  // While writes fail the database has said so once; these lines would
  // repeat at every look.
  const bool quiet = KivDB::WritesFailing();
  DBEntry entry;
  *added = false;
  if (!db.GetEntry(path, &entry)) {
    if (!quiet) LogMonitor("Playing file not in DB. Adding...", path, LEVEL_WARNING);
    *added = db.AddEntry(path) != FALSE;
  }
  if (!db.GetEntry(path, &entry)) {
    if (!KivDB::WritesFailing()) LogMonitor("File just added not found!", path, LEVEL_ERROR);
    return false;
  }
  // Tags are read before the record is changed: reading a file may take
  // long, and the change runs under the database lock.
  if (*added) db.GetTagEntry(&entry, TRUE);
  const DBEntry tagged = entry;
  const bool is_new = *added;
  const BOOL counted = db.ModifyEntry(path, [&](DBEntry& record) {
    if (is_new) CopyTags(tagged, record);
    record.flags |= DBFLAG_PLAYED;
    record.play_count += 1;
    record.played = when;
    if (record.date_added == 0) record.date_added = when;
    return true;
  });
  if (!counted) {
    if (!KivDB::WritesFailing()) LogMonitor("Could not update entry playcount!", path, LEVEL_ERROR);
    return false;
  }
  // On the device before anyone hears of it. The record is written: a
  // failed flush does not make it a play to store again.
  db.Flush();
  return true;
}

void AgentPlayMonitor::AnnouncePlay(const std::string& path, bool added) {
  context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_SERVER, 0);
  if (added) {
    options_.settings->WriteDword(kSubKeySettings, kIndexCompleteValue, 0);
    options_.settings->WriteDword(kSubKeySettings, kITunesCompleteValue, 0);
    context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_INDEXER, 0);
  }
  PostNowPlaying(path);
  LogMonitor("Playcount incremented for", path, LEVEL_INFO);
}

void AgentPlayMonitor::PostNowPlaying(const std::string& path) {
  const std::string shown(platform::BaseName(path));
  context_.PostToMainWindow(WM_STATUS_EVENT, kJobPlayMonitor, 0,
                            StrFormat(LoadStringResource(IDS_PLAY_NOW_PLAYING), shown.c_str()));
}

void AgentPlayMonitor::PlayEnded(Player& player) {
  const std::string shown(platform::BaseName(player.now_playing));
  context_.PostToMainWindow(WM_STATUS_EVENT, kJobPlayMonitor, 0,
                            StrFormat(LoadStringResource(IDS_PLAY_ENDED), shown.c_str()));
  player.now_playing.clear();
}

void RegisterPlayMonitorAgent(AgentJobRegistry& jobs, AgentPlayMonitorOptions options) {
  jobs.Register(AGENT_PLAYMON, [options](const AgentContext& context) -> std::unique_ptr<CAgent> {
    return std::make_unique<AgentPlayMonitor>(context, options);
  });
}
