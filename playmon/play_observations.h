// PlayObservations: what the play monitor has seen of the media files one
// player process holds open, across its looks, and that player's choice of
// the one file it plays now. Each player has its own: what one player does
// never changes what another plays.
//
// The rules, look by look:
// - A file qualifies once it was seen open at three consecutive looks.
// - A file has moved once its read position grew at two looks after it was
//   first seen. A player playing gaplessly opens the next song early and
//   reads its first blocks once; such a file has not moved.
// - While any file of the player has moved, only files that moved can be
//   the one playing; a file that stays still meanwhile is excluded for as
//   long as it stays open and still (it can be chosen again once it moves).
// - Among the qualified candidates, the most recently opened (fewest looks)
//   wins; when nothing has moved, a still file alone can be the one playing
//   (some players read a whole file at once).
// A file not seen at a look is forgotten, so its count starts again when
// it is opened again.
//
// Pure bookkeeping: no I/O. An object belongs to one thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct PlayObservation {
  std::uint64_t position = 0;           // the read position at the latest look
  std::uint64_t previous_position = 0;  // at the look before
  std::int32_t looks = 0;               // consecutive looks at which the file was open
  std::int32_t advances = 0;            // of those, looks at which the position had grown
  bool excluded = false;                // stayed still while another file moved
  // Which file it is and its length, from the latest look.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
};

// Path -> record, walked in path order (a fixed order, so the choice among
// several qualified files does not change from run to run).
using PlayObservationMap = std::map<std::string, PlayObservation>;

// Looks a file must be seen open before it can be the one playing.
inline constexpr std::int32_t kLooksToQualify = 3;
// Looks with a growing read position that make a file one that moves.
inline constexpr std::int32_t kAdvancesToMove = 2;

// The identity of a file seen open.
struct SeenFile {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
};

class PlayObservations {
 public:
  // Starts a look: nothing is seen yet.
  void BeginLook() { current_.clear(); }
  // A file seen open for reading at this look. Several handles on one file
  // leave the record of the last one.
  void Observe(const std::string& path, std::uint64_t position, const SeenFile& file = {});
  // Ends the look: files not seen drop out, and the file now playing is
  // returned (empty when none qualifies).
  std::string Pick();
  // After Pick: the file is played again from its start, so it counts as
  // opened at this look and qualifies anew.
  void Restart(const std::string& path);

  // The records as the latest Pick left them.
  const PlayObservationMap& records() const { return previous_; }

 private:
  PlayObservationMap previous_;
  PlayObservationMap current_;
};
