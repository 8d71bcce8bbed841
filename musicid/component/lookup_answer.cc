// Reading the lookup service's JSON answer.
#include <cstdio>

#include "musicid/component/json.h"
#include "musicid/component/lookup.h"

namespace cddb_component {
namespace {

using Outcome = LookupAnswer::Outcome;

// `text` cut to at most kMaxLookupText bytes, at a character boundary.
std::string Capped(std::string_view text) {
  if (text.size() <= kMaxLookupText) return std::string(text);
  std::size_t end = kMaxLookupText;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

// Artist names joined with their join phrases ("A feat. B").
std::string Artists(const JsonValue& artists) {
  std::string text;
  for (const JsonValue& artist : artists.items) {
    if (text.size() > kMaxLookupText) break;
    text += Capped(artist["name"].text);
    text += artist["joinphrase"].IsString() ? Capped(artist["joinphrase"].text)
                                            : (&artist != &artists.items.back() ? ", " : "");
  }
  return Capped(text);
}

std::string Joined(const JsonValue& texts) {
  std::string text;
  for (const JsonValue& item : texts.items) {
    if (!item.IsString() || text.size() > kMaxLookupText) continue;
    if (!text.empty()) text += ", ";
    text += Capped(item.text);
  }
  return Capped(text);
}

// A score the way the service means it, 0 to 1.
double Score(double number) { return number > 0 ? (number < 1 ? number : 1) : 0; }

// An error code read as an integer; out-of-range numbers are no code.
long Code(double number) {
  return number >= -1e9 && number <= 1e9 ? static_cast<long>(number) : -1;
}

// The service's error codes for a refused client key, and for its own
// trouble (internal error, unavailable, too many requests).
Outcome OutcomeOfError(long code) {
  if (code == 4 || code == 6) return Outcome::kKeyRefused;
  if (code == 5 || code == 13 || code == 14) return Outcome::kUnavailable;
  return Outcome::kFileError;
}

void ReadCandidates(const JsonValue& results, LookupAnswer* answer) {
  auto full = [&] { return answer->candidates.size() >= kMaxLookupCandidates; };
  for (const JsonValue& result : results.items) {
    if (full()) return;
    const double score = Score(result["score"].number);
    for (const JsonValue& recording : result["recordings"].items) {
      if (full()) return;
      LookupCandidate base;
      base.score = score;
      base.recording_id = Capped(recording["id"].text);
      if (base.recording_id.empty()) continue;
      base.title = Capped(recording["title"].text);
      base.artist = Artists(recording["artists"]);
      const JsonValue& groups = recording["releasegroups"];
      if (groups.items.empty()) answer->candidates.push_back(base);
      for (const JsonValue& group : groups.items) {
        if (full()) return;
        LookupCandidate candidate = base;
        candidate.group_id = Capped(group["id"].text);
        candidate.album = Capped(group["title"].text);
        candidate.album_artist = Artists(group["artists"]);
        candidate.type = Capped(group["type"].text);
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
    answer.outcome = OutcomeOfError(Code(e["code"].number));
    answer.message = Capped(e["message"].text);
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
