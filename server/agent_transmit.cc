// The transmit agent's job: the run, its pacing (rate limit, batch size),
// the reaction to call results, the shared beginning of the steps and the
// purge of deleted records. The description step is in transmit_index.cc,
// the history and play steps in transmit_plays.cc.
#include "server/agent_transmit.h"

#include <atomic>
#include <cmath>
#include <limits>

#include "app/format.h"
#include "app/string_table.h"
#include "db/kiv_db.h"
#include "platform/text.h"
#include "server/connectivity.h"
#include "server/http_session.h"
#include "server/server_session.h"
#include "server/transmit_internal.h"
#include "server/transmit_unsendable.h"

using transmit::Log;

namespace {

// Set after a successful IndexStart, cleared after a successful IndexStop;
// it outlives the job, so one IndexStart may cover the batches of several
// jobs.
std::atomic<bool> g_index_session_open{false};
// Tick of the last IndexBatch call of the process, taken when the call was
// made; 0 before the first. Kept across jobs: a job that follows another
// at once must still keep the server's spacing.
std::atomic<std::uint64_t> g_last_call_tick{0};

constexpr transmit::StepTexts kDeleteTexts{
    "AgentTransmit: Sending deleted tracks",
    "SendDeletes: offline or no login credentials. Can not transmit.",
    "SendDeletes: failed creating kivDB. Can not transmit.", nullptr};

}  // namespace

namespace transmit {

std::string FileName(const DBEntry& entry) {
  return std::string(platform::BaseName(EntryPath(entry)));
}

}  // namespace transmit

AgentTransmit::AgentTransmit(const AgentContext& context, AgentTransmitOptions options)
    : context_(context), options_(options) {
  if (!context_.clock) context_.clock = &platform::SystemClock();
  if (!options_.settings) options_.settings = &AppSettings();
}

AgentTransmit::~AgentTransmit() = default;

bool AgentTransmit::IndexSessionOpen() { return g_index_session_open; }

void AgentTransmit::SetIndexSessionOpen(bool open) { g_index_session_open = open; }

void AgentTransmit::ResetProcessState() {
  g_index_session_open = false;
  g_last_call_tick = 0;
  transmit::ForgetUnsendable();
}

int AgentTransmit::Run() {
  failed_ = false;
  use_music_id_ = 0;
  options_.settings->ReadDword(kSubKeySettings, kUseMusicIdValue, use_music_id_);
  GetRateLimitStep();
  // Each step runs only while every step before it went on.
  (void)(SendIndexedEntries(true) && SendHistoryCounts() && SendPlayCounts() && SendDeletes() &&
         SendIndexedEntries(false) && SendPlayCounts());
  context_.PostToMainWindow(WM_STATUS_DONE, kJobTransmit, 0);
  return failed_ ? 0 : 1;
}

void AgentTransmit::GetRateLimitStep() {
  rate_limit_ms_ = 0;
  CServerSession session(context_.main_window);
  if (!IsAuthenticated()) return;
  double seconds = 0;
  GetRateLimit(&seconds);
  if (seconds > 0) {
    const double ms = seconds * 1000;
    // A value beyond the 32-bit range would not convert; it means "as
    // slow as can be".
    constexpr double kMax = std::numeric_limits<std::uint32_t>::max();
    rate_limit_ms_ = ms >= kMax ? static_cast<std::uint32_t>(kMax) : static_cast<std::uint32_t>(ms);
  }
}

void AgentTransmit::GetBatchSizeStep() {
  batch_size_ = 1;
  CServerSession session(context_.main_window);
  if (IsAuthenticated()) GetBatchSize(&batch_size_);
  if (batch_size_ <= 0) batch_size_ = 1;
}

void AgentTransmit::WaitRateLimit() {
  if (rate_limit_ms_ == 0) return;
  platform::Clock& clock = *context_.clock;
  const std::uint64_t last = g_last_call_tick;
  const std::uint64_t elapsed = clock.TickMs() - last;
  if (last != 0 && elapsed < rate_limit_ms_) {
    std::uint64_t rest = rate_limit_ms_ - elapsed;
    while (rest > kRateLimitStepMs) {
      clock.SleepMs(kRateLimitStepMs);
      rest -= kRateLimitStepMs;
      if (CheckQuit()) return;
    }
    clock.SleepMs(static_cast<std::uint32_t>(rest));
  }
  // The call follows now: the spacing is measured from here, after the
  // wait, so no two calls are ever closer than the limit.
  g_last_call_tick = clock.TickMs();
}

void AgentTransmit::NoteRateLimitedCallEnded() {
  if (rate_limit_ms_ != 0) g_last_call_tick = context_.clock->TickMs();
}

void AgentTransmit::HandleSendResult(int result, const std::string& message,
                                     const std::string& detail) {
  if (result < 0) {
    CServerSession session(context_.main_window);
    UINT text_id = IDS_TRANSMIT_CONNECTION_LOST;
    if (IsOnline(1, context_.main_window)) {
      text_id = IDS_TRANSMIT_SERVER_BUSY;
      RequestRelaunch(kTransmitBusyDelayMs);
    }
    const std::string text = LoadStringResource(text_id);
    PostEvent(text);
    Log(LEVEL_ERROR, text);
    failed_ = true;
  } else if (result == 0 && !message.empty()) {
    if (detail.empty())
      Log(LEVEL_ERROR, message);
    else
      transmit::LogDetail(LEVEL_ERROR, message, detail);
  }
}

std::unique_ptr<KivDB> AgentTransmit::BeginStep(const StepTexts& texts, SearchPathMap* paths,
                                                bool* result, bool* refused) {
  Log(LEVEL_INFO, texts.start);
  CServerSession session(context_.main_window);
  if (!IsAuthenticated()) {
    Log(LEVEL_INFO, texts.refusal);
    *result = false;
    if (refused) *refused = true;
    return nullptr;
  }
  auto db = std::make_unique<KivDB>();
  if (!db->IsReady()) {
    Log(LEVEL_ERROR, texts.database);
    *result = false;
    return nullptr;
  }
  if (paths) {
    LoadSearchPaths(*paths, *options_.settings);
    if (paths->empty()) {
      Log(LEVEL_WARNING, texts.empty_paths);
      *result = true;
      return nullptr;
    }
  }
  return db;
}

bool AgentTransmit::SendDeletes() {
  bool result = true;
  std::unique_ptr<KivDB> db = BeginStep(kDeleteTexts, nullptr, &result);
  if (!db) return result;
  // Deleted records go whatever folder they lie in: nothing is sent for
  // them, the database only forgets them.
  const KivDB::SummaryTest deleted = [](const RecordSummary& s) {
    return (s.flags & DBFLAG_DELETED) != 0;
  };
  DBEntry entry;
  for (std::uint32_t pos = db->GetFirstEntry(&entry, deleted); pos != 0;
       pos = db->GetNextEntry(&entry, deleted)) {
    if (CheckQuit()) break;
    if (!(entry.flags & DBFLAG_DELETED)) continue;
    if (!db->DeleteEntry(EntryPath(entry))) continue;
    const std::string text =
        StrFormat(LoadStringResource(IDS_TRANSMIT_DELETED), transmit::FileName(entry).c_str());
    PostEvent(text);
    Log(LEVEL_INFO, text);
  }
  return true;
}

void AgentTransmit::PostEvent(const std::string& text) {
  context_.PostToMainWindow(WM_STATUS_EVENT, kJobTransmit, 0, text);
}

void AgentTransmit::RequestRelaunch(std::uint32_t delay_ms) {
  context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_SERVER, delay_ms);
}

std::int64_t AgentTransmit::Now() const {
  return platform::NowAsStoredTime(context_.clock->WallTime());
}

void RegisterTransmitAgent(AgentJobRegistry& jobs, AgentTransmitOptions options) {
  jobs.Register(AGENT_SERVER, [options](const AgentContext& context) -> std::unique_ptr<CAgent> {
    return std::make_unique<AgentTransmit>(context, options);
  });
}
