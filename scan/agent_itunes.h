// AgentITunes: the agent job that imports the iTunes library file. It reads
// the library's tracks and, for files inside the chosen music folders, adds
// the records the indexer has not made yet, fills the tags of records that
// have none, and turns iTunes play counts and play dates into play history
// to be sent (DBFLAG_HISTORY). A completed run sets "iTunesComplete"; later
// runs do nothing until something clears it.
//
// Between runs (for the life of the process) it remembers the library
// file's last-write time at the last parse and the database's last-add time
// seen at the last run: an unchanged library is parsed again only after the
// database has gained a record.
//
// Thread safety: a job runs on its agent thread; the process-wide memory is
// atomic. Progress goes to the main window as status messages of job 3.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/agent.h"
#include "app/agent_registry.h"
#include "app/reg_settings.h"
#include "scan/itunes_library.h"

// The status page's activity number of the iTunes import.
inline constexpr WPARAM kJobITunes = 3;

struct AgentITunesOptions {
  // Whether iTunes runs now; called on the agent thread, so it must be
  // thread-safe. Empty: the controller's state (ITunesRunning), as it last
  // heard it from the play monitor.
  std::function<bool()> itunes_running;
  // Pause after each element of the tracks dict, leaving room to the other
  // agents (benchmarks set 0).
  std::uint32_t track_sleep_ms = 5;
  // Settings store (not owned); the program's by default.
  CRegSettings* settings = &AppSettings();
};

class AgentITunes : public CAgent {
 public:
  explicit AgentITunes(const AgentContext& context, AgentITunesOptions options = {});
  ~AgentITunes() override;

  // The run: the complete mark, the re-parse rule, the hold-back while
  // iTunes runs, finding the library file, the unchanged-file skip, then
  // the parse. Returns 1.
  int Run() override;

  // Parses the library at `path` and merges its tracks into the database
  // (nothing but the look-up with `playlist_only`). Returns the track pass
  // result: 1 done, 0 failed.
  int ParseItunesHistoryFile(const std::string& path, BOOL playlist_only,
                             ItunesTrackLookup* lookup = nullptr);

  // Forgets the process-wide memory (tests; a new process starts so).
  static void ResetProcessState();

 private:
  class Import;

  // The library file to read; empty when there is none.
  std::string FindLibraryFile();

  AgentContext context_;
  AgentITunesOptions options_;
};

// Registers the iTunes job for AGENT_ITUNES.
void RegisterITunesAgent(AgentJobRegistry& jobs, AgentITunesOptions options = {});
