// CountedPlays: the open files whose play has been counted, remembered
// beyond the play monitor that counted them.
//
// The controller stops and starts the play monitor often (a folder saved,
// Disable and Enable, sleep and resume) and the program itself restarts;
// a song still playing across such a restart must not be counted again.
// So a counted play is remembered by its open instance: the player process
// (its id and start time) and the file (device and inode). While that
// player keeps that file open, the file is not counted again, with one
// exception: a song played again without being closed (repeat one, or the
// user going back to its start), seen as a read position that reached near
// the end of the file and then fell back near its start.
//
// The ledger is kept in a small text file beside the database, rewritten
// whenever it changes (a play counted, a counted file closed), so a new
// start of the program reads what the last one counted. An instance is
// forgotten at the first look that does not see it open.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

// One file held open by one player process.
struct OpenInstance {
  std::uint32_t pid = 0;
  std::uint64_t start = 0;  // the process's start time (ticks after boot)
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  auto operator<=>(const OpenInstance&) const = default;
};

struct CountedPlay {
  bool reached_end = false;  // the read position came near the file's end
  std::string path;          // for the reader of the file only
};

using CountedPlayMap = std::map<OpenInstance, CountedPlay>;

// What a look at a counted instance found.
enum class FollowResult { kNotCounted, kCounted, kPlayedAgain };

class CountedPlays {
 public:
  // The program's ledger, in the data folder (loaded on first use).
  static CountedPlays& Program();

  // A ledger kept in `file` (loaded now); empty: in memory only.
  explicit CountedPlays(std::string file);
  CountedPlays(const CountedPlays&) = delete;
  CountedPlays& operator=(const CountedPlays&) = delete;

  bool Contains(const OpenInstance& instance) const;
  // Remembers a counted play of `path` held open as `instance`.
  void Add(const OpenInstance& instance, const std::string& path);
  // Follows the read position of a counted instance: kPlayedAgain (and the
  // instance is forgotten, so it can be counted again) when it fell back
  // near the start after reaching near the end.
  FollowResult Follow(const OpenInstance& instance, std::uint64_t position, std::uint64_t size);
  // Forgets every instance not in `open` (those a look did not see open).
  void KeepOnly(const std::set<OpenInstance>& open);

  std::size_t size() const;

 private:
  void SaveLocked();

  mutable std::mutex mutex_;
  std::string file_;
  CountedPlayMap plays_;
};

// The ledger file's text: one line per instance, "pid start device inode
// reached_end path". Parsing skips damaged lines (they only cost a play
// counted twice, never a play lost).
std::string SerializeCountedPlays(const CountedPlayMap& plays);
CountedPlayMap ParseCountedPlays(std::string_view text);

// The read position rules of a replay, in bytes of a file of `size` bytes:
// near the end is the last tenth (players read ahead, so the position gets
// there before the song is over); near the start is the first quarter.
bool NearEnd(std::uint64_t position, std::uint64_t size);
bool NearStart(std::uint64_t position, std::uint64_t size);
