// AgentPlayMonitor: the agent job that notices what the user plays, with no
// plug-in in the player. Every five seconds it lists the files the running
// media players hold open for reading, keeps the supported media files in
// the enabled chosen folders, follows their read positions from look to
// look (playmon/play_observations.h) and counts a play for the file that
// becomes the one now playing: its record (added first when the file has
// none) gets one more play, the played time and DBFLAG_PLAYED, and the
// transmit agent is requested to send it. It also tells the controller
// whether iTunes runs (WM_AGENT_DONE 33018), which holds back the iTunes
// import.
//
// A counted play is on the storage device before it is announced: the
// record is written and flushed before "Now Playing" is posted and the
// transmit agent requested, so a power cut after the event loses no play.
//
// Thread safety: a job runs on its agent thread only and talks to the rest
// of the program by posting to the main window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/agent.h"
#include "app/agent_registry.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "platform/process_table.h"
#include "playmon/play_observations.h"

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
};

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

  // Full path of the file counted as playing; empty when none.
  const std::string& now_playing() const { return now_playing_; }

 private:
  // Whether an open handle is a file to observe, and its path and position.
  bool Qualifies(DWORD handle, DWORD process_id, std::uint8_t object_type, std::string* path,
                 std::uint32_t* position) const;
  void ReportITunes(bool running);
  // Counts the play of `path` and makes it the one now playing.
  void PlayStarted(const std::string& path);
  void PlayEnded();
  // Stores one play of `path` made at `when` (adding the file's record when
  // it has none); false when it could not be stored. `added`: a record was
  // made for it.
  bool StorePlay(const std::string& path, std::int64_t when, bool* added);
  // After a play is stored: the transmit agent, the indexer for a new
  // record, and the status page hear of it.
  void AnnouncePlay(const std::string& path, bool added);
  // Stores the plays kept while the database could not be written, oldest
  // first, as far as it can be written now.
  void StorePendingPlays();

  struct PendingPlay {
    std::string path;
    std::int64_t when;
  };

  AgentContext context_;
  AgentPlayMonitorOptions options_;
  SearchPathMap folders_;
  // Outlives the looks, so a look reads the names of new processes only.
  platform::ProcessTable process_table_;
  PlayObservations observations_;
  std::string now_playing_;
  // Plays counted while the database could not be written (a full disk),
  // kept until it can be.
  std::vector<PendingPlay> pending_plays_;
  DWORD itunes_running_ = 0;
};

// Registers the play monitor job for AGENT_PLAYMON.
void RegisterPlayMonitorAgent(AgentJobRegistry& jobs, AgentPlayMonitorOptions options = {});
