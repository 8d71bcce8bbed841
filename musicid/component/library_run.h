// One library identification run of the MusicID object: the queued files
// are grouped into lists, one per folder (an album, as a rule), in the
// order they were queued. For each list the run announces it, asks the
// event receiver for each file's fingerprint and locally known tags, looks
// each fingerprint up, then chooses every file's match so that the files
// of one folder agree on a release where they can, and reports the list
// complete with its items' match codes and results.
//
// A stop or a cancel flag ends the run before the list in progress is
// reported, so its files stay marked as being identified. When the service
// cannot be used (unreachable, failing, client key refused) the list in
// progress is reported with its unasked files as not queried, and the run
// ends with the matching status.
//
// Thread safety: runs on the caller's thread; `stop` may be set from any.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "musicid/component/fingerprinter.h"
#include "musicid/component/lookup.h"
#include "musicid/component/results.h"

namespace cddb_component {

// Candidates below this score are no match.
inline constexpr double kMinMatchScore = 0.5;
// A best candidate at or above this score is an exact match.
inline constexpr double kExactMatchScore = 0.9;

struct RunSettings {
  LookupRequest request;  // address, key and proxy; per-file values empty
  bool network = true;    // lookups may use the network
};

class LibraryRun {
 public:
  // `last_fingerprinter` gives the fingerprinter the receiver used for the
  // file just fingerprinted (the file's length as the decoder told it, or
  // the audio it was given, stands in for a length the tags do not state);
  // it may answer null.
  LibraryRun(ICddbMusicIDEvents* events, RunSettings settings, LookupClient& client,
             const std::atomic<bool>& stop, std::function<Fingerprinter*()> last_fingerprinter);
  // S_OK when every list was reported (or a cancel ended the run), else the
  // status that ended it.
  HRESULT Run(const std::vector<std::string>& files);
  // After a run that ended with CDDBSTATUS_SERVICE_UNAVAILABLE: the seconds
  // the service asked to wait (0: it did not say).
  std::int64_t retry_after() const { return retry_after_; }

 private:
  // Fingerprints and looks up one file; false when the run must end here.
  bool QueryItem(ListItem& item, std::vector<LookupCandidate>* candidates, long* local_track);
  void ChooseMatches(ResultList& list, const std::vector<std::vector<LookupCandidate>>& found,
                     const std::vector<long>& local_tracks);
  void Status(long code, const std::string& item, long current);

  ICddbMusicIDEvents* events_;
  RunSettings settings_;
  LookupClient& client_;
  const std::atomic<bool>& stop_;
  std::function<Fingerprinter*()> last_fingerprinter_;
  CddbListCounts counts_;
  long current_ = 0;
  bool cancelled_ = false;
  HRESULT failure_ = S_OK;
  std::int64_t retry_after_ = 0;
};

}  // namespace cddb_component
