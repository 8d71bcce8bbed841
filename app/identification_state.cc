#include "app/identification_state.h"

#include <algorithm>
#include <mutex>

#include "app/format.h"
#include "platform/clock.h"

namespace {

std::mutex g_mutex;
IdentificationStatus g_status;

std::string When(std::int64_t t) {
  return platform::FormatLocalTime(static_cast<std::time_t>(t), "%Y-%m-%d %H:%M");
}

}  // namespace

IdentificationStatus GetIdentificationStatus() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_status;
}

bool IdentificationReleasesTracks() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_status.state == IdentificationState::kGivenUp ||
         g_status.state == IdentificationState::kUnavailable;
}

void NoteIdentificationRan() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_status = IdentificationStatus{};
}

void NoteIdentificationUnavailable(const std::string& reason) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_status = IdentificationStatus{};
  g_status.state = IdentificationState::kUnavailable;
  g_status.reason = reason;
}

IdentificationStatus NoteIdentificationFailed(const std::string& reason, std::time_t now,
                                              std::int64_t retry_after,
                                              std::int64_t failing_since) {
  std::lock_guard<std::mutex> lock(g_mutex);
  IdentificationStatus& s = g_status;
  const bool in_a_row =
      s.state == IdentificationState::kRetrying || s.state == IdentificationState::kGivenUp;
  if (!in_a_row) {
    s = IdentificationStatus{};
    // A beginning remembered from before a restart counts, unless the clock
    // makes it a time to come.
    s.failing_since = failing_since > 0 && failing_since <= now ? failing_since : now;
  }
  ++s.failures;
  s.reason = reason;
  s.next_attempt = now + IdentifyRetryDelaySeconds(s.failures, retry_after);
  s.state = now - s.failing_since >= kIdentifyGiveUpSeconds ? IdentificationState::kGivenUp
                                                            : IdentificationState::kRetrying;
  return s;
}

void ResetIdentificationState() { NoteIdentificationRan(); }

std::int64_t IdentifyRetryDelaySeconds(int failures, std::int64_t retry_after) {
  std::int64_t delay = kIdentifyRetryFirstSeconds;
  for (int i = 1; i < failures && delay < kIdentifyRetryMaxSeconds; ++i) delay *= 2;
  delay = std::min(delay, kIdentifyRetryMaxSeconds);
  return std::max(delay, std::min(retry_after, kIdentifyGiveUpSeconds));
}

std::string IdentificationStatusText(bool use_music_id, std::time_t now) {
  if (!use_music_id) return "off (UseMusicID 0): tracks are sent without it";
  const IdentificationStatus s = GetIdentificationStatus();
  switch (s.state) {
    case IdentificationState::kRuns:
      return "on: new tracks are sent once identification has looked at them";
    case IdentificationState::kRetrying:
      return StrFormat(
          "holding new tracks back: %s Failing since %s; next attempt at %s; from %s they are "
          "sent unidentified",
          s.reason.c_str(), When(s.failing_since).c_str(),
          When(std::max<std::int64_t>(s.next_attempt, now)).c_str(),
          When(s.failing_since + kIdentifyGiveUpSeconds).c_str());
    case IdentificationState::kGivenUp:
      return StrFormat("sending tracks unidentified: %s Failing since %s; next attempt at %s",
                       s.reason.c_str(), When(s.failing_since).c_str(),
                       When(std::max<std::int64_t>(s.next_attempt, now)).c_str());
    case IdentificationState::kUnavailable:
      return "sending tracks unidentified: " + s.reason;
  }
  return {};
}
