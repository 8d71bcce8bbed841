// libFuzzer target over the lookup service's answer (JSON): any body must
// be read without a crash, a hang or a leak, and the answer must stay
// within its limits: at most kMaxLookupCandidates candidates, every text
// at most kMaxLookupText bytes, every score between 0 and 1. Built and run
// by scripts/fuzz-all.sh; not part of the test run.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "musicid/component/json.h"
#include "musicid/component/lookup.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace cddb_component;
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const LookupAnswer answer = ReadLookupAnswer(200, body);
  Check(answer.candidates.size() <= kMaxLookupCandidates);
  Check(answer.message.size() <= kMaxLookupText + 64);
  for (const LookupCandidate& c : answer.candidates) {
    Check(c.score >= 0 && c.score <= 1);
    for (const std::string* text : {&c.recording_id, &c.title, &c.artist, &c.group_id, &c.album,
                                    &c.album_artist, &c.type, &c.secondary})
      Check(text->size() <= kMaxLookupText);
  }
  JsonValue value;
  std::string error;
  ParseJson(body, &value, &error);
  return 0;
}
