// AgentPlayMonitor: the agent job that notices what the user plays, with no
// plug-in in the player. Every five seconds it lists the files the running
// media players hold open for reading, keeps the supported media files in
// the enabled chosen folders (spelled as the folders spell them, links and
// all: playmon/folder_spelling.h), follows their read positions from look
// to look, for each player on its own (playmon/play_observations.h), and
// counts a play for the file that becomes a player's one now playing: its
// record (added first when the file has none) gets one more play, the
// played time and DBFLAG_PLAYED, and the transmit agent is requested to
// send it. It also tells the controller whether iTunes runs (WM_AGENT_DONE
// 33018), which holds back the iTunes import.
//
// A play is counted once per time it is played: the open files already
// counted are remembered beyond this job (playmon/counted_plays.h), so the
// restarts of the agent and of the program do not count a playing song
// again, while a song played again without being closed is counted again.
//
// A counted play is on the storage device before it is announced: the
// record is written and flushed before "Now Playing" is posted and the
// transmit agent requested, so a power cut after the event loses no play.
//
// Thread safety: a job runs on its agent thread only and talks to the rest
// of the program by posting to the main window.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/agent.h"
#include "app/agent_registry.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "platform/process_table.h"
#include "playmon/counted_plays.h"
#include "playmon/folder_spelling.h"
#include "playmon/handle_information.h"
#include "playmon/play_observations.h"
#include "playmon/process_information.h"

// The status page's activity number of the play monitor.
inline constexpr WPARAM kJobPlayMonitor = 8;
// The wait between two looks, in steps that each end with a stop check.
inline constexpr std::uint32_t kPlayMonitorStepMs = 500;
inline constexpr int kPlayMonitorSteps = 10;

struct AgentPlayMonitorOptions {
  // Settings store (not owned); the program's by default.
  CRegSettings* settings = &AppSettings();
  // Image names to watch instead of the program's list (tests, benchmarks);
  // empty: WatchedPlayers().
  std::vector<std::string> players;
  // The counted plays (not owned); the program's by default.
  CountedPlays* counted = nullptr;
};

// Looks between two searches of the chosen folders for links to folders.
inline constexpr int kLooksPerLinkSearch = 120;

class AgentPlayMonitor : public CAgent {
 public:
  explicit AgentPlayMonitor(const AgentContext& context, AgentPlayMonitorOptions options = {});
  ~AgentPlayMonitor() override;

  // Looks every five seconds until stopped; returns 1. Ends at once, with
  // a warning, when no music folder is chosen.
  int Run() override;

  // The steps of Run, for tests and benchmarks that drive the looks
  // themselves. LoadFolders reads the chosen folders (false, with the
  // warning, when there are none); Look lists, observes, picks and reacts.
  bool LoadFolders();
  void Look();

  // The files the players play now, in player order; empty when none.
  std::vector<std::string> now_playing() const;

 private:
  // A player process: its id and start time.
  using PlayerKey = std::pair<DWORD, std::uint64_t>;
  struct Player {
    PlayObservations seen;
    std::string now_playing;
    // A file whose play could not be recorded: not tried again while it
    // stays the candidate, so its failure is logged once.
    std::string failed;
  };

  // Whether an open handle is a file to observe, and its path and position.
  bool Qualifies(const HandleEntry& entry, std::string* path, std::uint64_t* position) const;
  // The players running now; new ones are logged.
  void UpdatePlayers(const ProcessMap& processes, std::map<DWORD, PlayerKey>* by_pid);
  // Follows the counted files of `player` and picks its file now playing.
  void Decide(const PlayerKey& key, Player& player, std::set<OpenInstance>* open);
  void ReportITunes(bool running);
  // Counts the play of `path` (unless this open instance was counted
  // already) and makes it the player's one now playing.
  void PlayStarted(Player& player, const std::string& path, const OpenInstance& instance);
  void PlayEnded(Player& player);
  // Stores one play of `path` made at `when` (adding the file's record when
  // it has none); false when it could not be stored. `added`: a record was
  // made for it.
  bool StorePlay(const std::string& path, std::int64_t when, bool* added);
  // After a play is stored: the transmit agent, the indexer for a new
  // record, and the status page hear of it.
  void AnnouncePlay(const std::string& path, bool added);
  void PostNowPlaying(const std::string& path);
  // Stores the plays kept while the database could not be written, oldest
  // first, as far as it can be written now.
  void StorePendingPlays();

  struct PendingPlay {
    std::string path;
    std::int64_t when;
    OpenInstance instance;
  };

  AgentContext context_;
  AgentPlayMonitorOptions options_;
  CountedPlays& counted_;
  SearchPathMap folders_;
  FolderSpelling spelling_;
  int looks_ = 0;
  // Outlives the looks, so a look reads the names of new processes only.
  platform::ProcessTable process_table_;
  std::map<PlayerKey, Player> players_;
  // Plays counted while the database could not be written (a full disk),
  // kept until it can be.
  std::vector<PendingPlay> pending_plays_;
  DWORD itunes_running_ = 0;
};

// Registers the play monitor job for AGENT_PLAYMON.
void RegisterPlayMonitorAgent(AgentJobRegistry& jobs, AgentPlayMonitorOptions options = {});
