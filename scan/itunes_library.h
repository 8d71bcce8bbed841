// The walk over an iTunes library document: finds the "Tracks" dict of the
// property list, reads one track at a time into a record through the
// property table, and hands every track whose file exists here and is a
// supported media file to an ItunesTrackHandler (the iTunes agent, which
// merges it into the database). It writes the parse's log lines and keeps
// their meaning: elements in document order, the text of an element's
// first child, the element that follows a key.
//
// The document is read twice: once to check that it is well-formed, then
// for the walk, which reads only bytes the check saw (a file changed in
// between ends the walk as failed). A damaged library thus changes no
// record.
//
// Thread safety: a walk runs on the caller's thread; the handler is called
// on that thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "db/db_format.h"
#include "platform/win_types.h"
#include "scan/itunes_parser.h"

// Log module of the play-list look-up's two result lines.
inline constexpr DWORD kItunesPlaylistLogModule = 1792;

// What the walk asks of its user.
class ItunesTrackHandler {
 public:
  virtual ~ItunesTrackHandler() = default;
  // The stop test, asked at every element of the library dict, at every
  // element of the tracks dict and between the chunks of the check.
  virtual bool CheckQuit() = 0;
  // A track pass begins; false ends it as failed (the handler logs why).
  virtual bool BeginTracks() = 0;
  // The track pass that began has ended, whatever its result.
  virtual void EndTracks() {}
  // Before element number `count` (from 1) of the tracks dict is looked at.
  virtual void OnTrackElement(int count) = 0;
  // A track whose file exists and is supported, read into a fresh record
  // (path, file type and the table's fields set); `path` is the record's
  // path in UTF-8. Not called in play-list mode.
  virtual void OnTrack(DBEntry& track, const std::string& path) = 0;
};

// Play-list mode: look up one track id and report three of its tags.
struct ItunesTrackLookup {
  std::uint32_t wanted_id = 0;
  std::string title;
  std::string artist;
  std::string album;
};

// Opens the document afresh for each of the two reads; null when it cannot
// be opened.
using ByteSourceOpener = std::function<std::unique_ptr<platform::ByteSource>()>;

struct ItunesWalkOptions {
  // Shown in log lines as the library's path.
  std::string path;
  // Do not run the track pass (the "Tracks" dict is still found).
  BOOL playlist_only = FALSE;
  // Play-list mode when set; receives the tags of the wanted track.
  ItunesTrackLookup* lookup = nullptr;
  // Created and modified time of the fresh records.
  std::int64_t now = 0;
};

// ParseItunesHistoryFile for a document read through `open`: returns the
// last track pass's result (1 success, 0 failure), 1 when "Tracks" has no
// element after it, and 0 when the document cannot be read, is not
// well-formed, has no dict in its plist, or the walk was stopped.
int WalkItunesLibrary(const ByteSourceOpener& open, const ItunesWalkOptions& options,
                      ItunesTrackHandler& handler);

// The same for the file at `path`; an empty path is refused with its log
// line.
int ParseItunesHistoryFile(const std::string& path, BOOL playlist_only, ItunesTrackHandler& handler,
                           std::int64_t now, ItunesTrackLookup* lookup = nullptr);
