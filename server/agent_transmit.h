// AgentTransmit: the agent job (AGENT_SERVER) that brings the KIV server up
// to date with the local database. One run asks the server for its pacing
// (RateLimit, BatchSize), then, each step only while the ones before it
// went on: describes the played tracks the server does not know yet,
// reports imported play history, reports plays, purges records marked
// deleted, describes every other unknown track, and reports the plays once
// more. Descriptions travel in IndexBatch calls between one IndexStart and
// one IndexStop; that index session may stay open from one job to the next.
//
// Every record the server accepted is written back to the database right
// after the call that accepted it (its kiv id, DBFLAG_REPORTED, the reported
// time, cleared play flags), so a stop, a crash or a kill at any moment
// loses no acknowledgement; only the call in flight is repeated later. The
// write-back is applied to the record as it is on disk then, so what other
// agents changed meanwhile (a new play, a deletion mark) is kept.
//
// Progress and events go to the main window as status messages of
// activity 5; a server that gives no answer while the network is up makes
// the job ask the controller for a relaunch after 20 s.
//
// Thread safety: a job runs on its agent thread only. The index session
// flag and the time of the last IndexBatch call are process-wide atomics.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/agent.h"
#include "app/agent_registry.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "db/db_format.h"
#include "platform/win_types.h"

class KivDB;
namespace transmit {
struct StepTexts;
struct IndexPass;
}  // namespace transmit

// The status page's activity number of the transmit agent.
inline constexpr WPARAM kJobTransmit = 5;

// DWORD setting (sub-key "Settings"): non-zero sends a track only after the
// identification agent has looked at it.
inline constexpr const char* kUseMusicIdValue = "UseMusicID";

// A relaunch after a call that got no answer while the network is up.
inline constexpr std::uint32_t kTransmitBusyDelayMs = 20000;
// The wait a retry-later answer imposes on a track's plays, counted from
// its reported time.
inline constexpr std::int64_t kPlayRetrySeconds = 300;
// Rate-limit waits are cut into sleeps of this length, checking for a stop
// after each.
inline constexpr std::uint32_t kRateLimitStepMs = 500;

struct AgentTransmitOptions {
  // Settings store (not owned); the program's by default.
  CRegSettings* settings = &AppSettings();
};

class AgentTransmit : public CAgent {
 public:
  explicit AgentTransmit(const AgentContext& context, AgentTransmitOptions options = {});
  ~AgentTransmit() override;

  // The whole job. Returns 1 when every call got an answer, else 0.
  int Run() override;

  // The steps. Each returns false when the job should stop.
  bool SendIndexedEntries(bool played_only);
  bool SendHistoryCounts();
  bool SendPlayCounts();
  bool SendDeletes();

  // The common reaction to a call result: no answer (below 0) reports
  // "Server Busy" and asks for a relaunch in 20 s when the server can be
  // reached, else "Connection lost", and marks the job failed; a refusal
  // (0) logs `message` (with `detail` when not empty) as an error.
  void HandleSendResult(int result, const std::string& message = {},
                        const std::string& detail = {});

  // Asks the server for its pacing; without login or answer there is no
  // rate limit and batches hold one element.
  void GetRateLimitStep();
  void GetBatchSizeStep();
  // Waits until the last IndexBatch call of the process is at least the
  // rate limit ago (returns early on a stop), then takes the time of the
  // call that follows.
  void WaitRateLimit();
  // Takes the end of that call as its time too, so the next call leaves
  // the rate limit after the whole of this one, however long its request
  // took to reach the server.
  void NoteRateLimitedCallEnded();

  bool failed() const { return failed_; }
  std::uint32_t rate_limit_ms() const { return rate_limit_ms_; }
  int batch_size() const { return batch_size_; }

  // True between a successful IndexStart and a successful IndexStop.
  static bool IndexSessionOpen();
  // Back to a fresh process: no index session, no IndexBatch call yet, no
  // record remembered as unsendable.
  static void ResetProcessState();

 private:
  using StepTexts = transmit::StepTexts;
  using IndexPass = transmit::IndexPass;

  // The beginning every step shares: start line, session, login test,
  // database, search paths (when `paths` is given). Returns the database
  // when the step may go on; otherwise null and `*result` is the step's
  // return value (`*refused`, when given, tells a failed login test).
  std::unique_ptr<KivDB> BeginStep(const StepTexts& texts, SearchPathMap* paths, bool* result,
                                   bool* refused = nullptr);
  bool IsCandidate(const DBEntry& entry, bool played_only, const SearchPathMap& paths) const;
  // Sends the gathered elements of `pass` and stores what the server
  // accepted. False when the step must return false at once.
  bool SendBatch(KivDB& db, IndexPass& pass);
  // Copies of the records that have a kiv id and carry `flag`.
  bool CollectCopies(KivDB& db, DWORD flag, std::vector<DBEntry>* copies);
  static void SetIndexSessionOpen(bool open);
  // "%d of %d" with the reported count and the total, and the range (at
  // the start of the pass) or the position (after a batch).
  void PostProgress(const IndexPass& pass, bool with_range);
  // Posts the waiting list of plays that follow a postponed one.
  void ListWaitingPlays(const std::vector<DBEntry>& copies, std::size_t after);

  void PostEvent(const std::string& text);
  void RequestRelaunch(std::uint32_t delay_ms);
  std::int64_t Now() const;

  AgentContext context_;
  AgentTransmitOptions options_;
  bool failed_ = false;
  DWORD use_music_id_ = 0;
  std::uint32_t rate_limit_ms_ = 0;
  int batch_size_ = 1;
};

// Registers the transmit job for AGENT_SERVER.
void RegisterTransmitAgent(AgentJobRegistry& jobs, AgentTransmitOptions options = {});
