// Whether identification can run, and so whether the transmit agent, which
// with UseMusicID on holds a track back until identification has looked at
// it, must go on holding the tracks or send them unidentified.
//
// The MusicID agent notes the outcome of every attempt:
// - it ran: tracks wait for it, as they should;
// - a passing failure (the service unreachable, failing, busy or answering
//   in another format): the tracks stay held, since a track once sent is
//   never sent again, and the agent tries again after a growing delay;
//   only when the failures have lasted kIdentifyGiveUpSeconds do the tracks
//   go unidentified (the attempts go on);
// - a lasting state (no component, no client key, a key the service
//   refuses): the tracks go unidentified at once.
// Identification counts as able to run until an attempt shows otherwise.
//
// Any thread: the state is guarded by a mutex.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// The first retry waits this long, each further one twice the one before,
// up to kIdentifyRetryMaxSeconds.
inline constexpr std::int64_t kIdentifyRetryFirstSeconds = 60;
inline constexpr std::int64_t kIdentifyRetryMaxSeconds = 3600;
// Passing failures this long release the held tracks.
inline constexpr std::int64_t kIdentifyGiveUpSeconds = 24 * 3600;

enum class IdentificationState {
  kRuns,         // tracks wait for identification
  kRetrying,     // a passing failure: tracks are held, an attempt is due later
  kGivenUp,      // passing failures for a day: tracks go unidentified
  kUnavailable,  // a lasting state: tracks go unidentified
};

struct IdentificationStatus {
  IdentificationState state = IdentificationState::kRuns;
  // Why identification does not run (empty while it runs).
  std::string reason;
  // Wall times (seconds since the epoch) of the first failure in a row and
  // of the next attempt; 0 while it runs.
  std::int64_t failing_since = 0;
  std::int64_t next_attempt = 0;
  int failures = 0;
};

IdentificationStatus GetIdentificationStatus();
// True when the transmit agent sends tracks without waiting for
// identification.
bool IdentificationReleasesTracks();

// An attempt ran (whatever it matched): tracks wait for identification.
void NoteIdentificationRan();
// A lasting state: tracks go unidentified from now on.
void NoteIdentificationUnavailable(const std::string& reason);
// A passing failure at `now`. `failing_since`, when not 0, is when the
// failures began (kept across restarts by the caller); `retry_after` is the
// service's own wish in seconds (0: none). Returns the new status, whose
// next_attempt says when to try again.
IdentificationStatus NoteIdentificationFailed(const std::string& reason, std::time_t now,
                                              std::int64_t retry_after,
                                              std::int64_t failing_since = 0);
// Back to the start (tests).
void ResetIdentificationState();

// Seconds before the attempt after the `failures`-th failure in a row,
// honouring the service's `retry_after` (bounded by a day).
std::int64_t IdentifyRetryDelaySeconds(int failures, std::int64_t retry_after);

// One line for the status page and `--status`: whether identification is
// on, and when it holds tracks back or lets them go unidentified, why.
std::string IdentificationStatusText(bool use_music_id, std::time_t now);
