// PlayObservations: what the play monitor has seen of each open media file
// across its looks, and its choice of the one file now playing.
//
// A file qualifies once it was seen open at three consecutive looks; files
// whose read position grows are preferred to files that stay still, and a
// file that stays still while another advances is excluded for as long as
// it stays open. Among the qualified files the most recently opened (fewest
// looks) wins. A file not seen at a look is forgotten, so its count starts
// again when it is opened again.
//
// Pure bookkeeping: no I/O. An object belongs to one thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct PlayObservation {
  std::uint32_t position = 0;           // low 32 bits of the read position at the latest look
  std::uint32_t previous_position = 0;  // at the look before
  std::int32_t looks = 0;               // consecutive looks at which the file was open
  std::int32_t advances = 0;            // of those, looks at which the position had grown
  bool excluded = false;                // stayed still while another file advanced
};

// Path -> record, walked in path order (a fixed order, so the choice among
// several qualified files does not change from run to run).
using PlayObservationMap = std::map<std::string, PlayObservation>;

// Looks a file must be seen open before it can be the one playing.
inline constexpr std::int32_t kLooksToQualify = 3;

class PlayObservations {
 public:
  // Starts a look: nothing is seen yet.
  void BeginLook() { current_.clear(); }
  // A file seen open for reading at this look. Several handles on one file
  // leave the record of the last one.
  void Observe(const std::string& path, std::uint32_t position);
  // Ends the look: files not seen drop out, and the file now playing is
  // returned (empty when none qualifies).
  std::string Pick();

  // The records as the latest Pick left them.
  const PlayObservationMap& records() const { return previous_; }

 private:
  PlayObservationMap previous_;
  PlayObservationMap current_;
};
