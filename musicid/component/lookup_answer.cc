// Reading the lookup service's JSON answer.
#include <cstdio>

#include "musicid/component/json.h"
#include "musicid/component/lookup.h"

namespace cddb_component {
namespace {

using Outcome = LookupAnswer::Outcome;

// Artist names joined with their join phrases ("A feat. B").
std::string Artists(const JsonValue& artists) {
  std::string text;
  for (const JsonValue& artist : artists.items) {
    text += artist["name"].text;
    text += artist["joinphrase"].IsString() ? artist["joinphrase"].text
                                            : (&artist != &artists.items.back() ? ", " : "");
  }
  return text;
}

std::string Joined(const JsonValue& texts) {
  std::string text;
  for (const JsonValue& item : texts.items) {
    if (!item.IsString()) continue;
    if (!text.empty()) text += ", ";
    text += item.text;
  }
  return text;
}

// The service's error codes for a refused client key, and for its own
// trouble (internal error, unavailable, too many requests).
Outcome OutcomeOfError(long code) {
  if (code == 4 || code == 6) return Outcome::kKeyRefused;
  if (code == 5 || code == 13 || code == 14) return Outcome::kUnavailable;
  return Outcome::kFileError;
}

void ReadCandidates(const JsonValue& results, LookupAnswer* answer) {
  for (const JsonValue& result : results.items) {
    const double score = result["score"].number;
    for (const JsonValue& recording : result["recordings"].items) {
      LookupCandidate base;
      base.score = score;
      base.recording_id = recording["id"].text;
      base.title = recording["title"].text;
      base.artist = Artists(recording["artists"]);
      if (base.recording_id.empty()) continue;
      const JsonValue& groups = recording["releasegroups"];
      if (groups.items.empty()) answer->candidates.push_back(base);
      for (const JsonValue& group : groups.items) {
        LookupCandidate candidate = base;
        candidate.group_id = group["id"].text;
        candidate.album = group["title"].text;
        candidate.album_artist = Artists(group["artists"]);
        candidate.type = group["type"].text;
        candidate.secondary = Joined(group["secondarytypes"]);
        answer->candidates.push_back(std::move(candidate));
      }
    }
  }
}

}  // namespace

LookupAnswer ReadLookupAnswer(long http_status, std::string_view body) {
  LookupAnswer answer;
  if (http_status == 0) {
    answer.message = "no answer";
    return answer;
  }
  JsonValue doc;
  std::string error;
  const bool parsed = ParseJson(body, &doc, &error) && doc.IsObject();
  if (parsed && doc["status"].text == "error") {
    const JsonValue& e = doc["error"];
    answer.outcome = OutcomeOfError(static_cast<long>(e["code"].number));
    answer.message = e["message"].text;
    return answer;
  }
  // Anything but the service's own answer (a failing or busy server, a
  // captive portal's page, a proxy's refusal) is a passing trouble: the
  // service itself never said that the file or the key is at fault.
  if (http_status != 200) {
    answer.message = "HTTP status " + std::to_string(http_status);
    return answer;
  }
  if (!parsed || doc["status"].text != "ok") {
    answer.message = parsed ? "answer without status ok" : "unreadable answer: " + error;
    return answer;
  }
  answer.outcome = Outcome::kOk;
  ReadCandidates(doc["results"], &answer);
  return answer;
}

}  // namespace cddb_component
