// The lookup web service: one v2/lookup call per fingerprint (client key,
// duration, fingerprint, meta=recordings+releasegroups+compress) over
// libcurl, at most three calls a second, and the reading of its JSON
// answer into candidates (a recording on one release group, with the
// service's score).
//
// Thread safety: a LookupClient belongs to one thread; ReadLookupAnswer is
// a pure function.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace cddb_component {

struct LookupCandidate {
  double score = 0;
  std::string recording_id;
  std::string title;
  std::string artist;  // the recording's artists with their join phrases
  std::string group_id;
  std::string album;
  std::string album_artist;
  std::string type;       // the release group's primary type
  std::string secondary;  // its secondary types, ", "-separated
};

struct LookupAnswer {
  enum class Outcome {
    kOk,           // candidates holds the matches (possibly none)
    kFileError,    // the service refused this fingerprint
    kUnavailable,  // unreachable, failing or not answering in its format
    kKeyRefused,   // the client key is not accepted
  };
  Outcome outcome = Outcome::kUnavailable;
  std::string message;
  // Seconds the service asked us to wait (its Retry-After); 0: none.
  std::int64_t retry_after = 0;
  std::vector<LookupCandidate> candidates;
};

// What an answer may cost: its body (as received and decoded), its
// candidates (the first ones count; the service sends the best first) and
// each of their texts (longer ones are cut at a character boundary).
inline constexpr std::size_t kMaxLookupBodyBytes = 16 * 1024 * 1024;
inline constexpr std::size_t kMaxLookupCandidates = 100;
inline constexpr std::size_t kMaxLookupText = 1024;

// Reads an answer with HTTP status `http_status` (0: no answer at all).
// Scores are kept between 0 and 1.
LookupAnswer ReadLookupAnswer(long http_status, std::string_view body);

struct LookupRequest {
  std::string url;
  std::string client_key;
  long duration = 0;  // seconds
  std::string fingerprint;
  std::string proxy_host;
  long proxy_port = 0;
  std::string proxy_user;
  std::string proxy_password;
};

// Spaces calls at least `interval_ms` apart, start to start.
class RequestPacer {
 public:
  using NowFn = std::function<std::int64_t()>;  // milliseconds, monotonic
  using SleepFn = std::function<void(std::int64_t)>;
  RequestPacer(std::int64_t interval_ms, NowFn now, SleepFn sleep);
  // Waits until the next call may start, and counts it as started.
  void Wait();

 private:
  std::int64_t interval_ms_;
  NowFn now_;
  SleepFn sleep_;
  bool first_ = true;
  std::int64_t last_ = 0;
};

// Three calls a second, on the steady clock.
inline constexpr std::int64_t kLookupIntervalMs = 334;

class LookupClient {
 public:
  LookupClient();
  // Answers whether the call must end now; asked on the calling thread at
  // least once a second while the call runs.
  using StopFn = std::function<bool()>;
  // One call over http or https (other schemes are refused), its body
  // capped at kMaxLookupBodyBytes. When `stop` answers true the call ends
  // within about a second, without an answer.
  LookupAnswer Lookup(const LookupRequest& request, const StopFn& stop = {});

 private:
  RequestPacer pacer_;
};

}  // namespace cddb_component
