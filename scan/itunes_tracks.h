// What one track of the iTunes library means for a database record: the
// property table that fills a record from the track's key/value pairs, the
// preparation of a record for a file the database does not know yet, and
// the merge of the library's values into a known record.
//
// Pure functions on records: safe from any thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "db/db_format.h"
#include "platform/win_types.h"

// Byte limits of the text properties; each is cut at a UTF-8 character
// boundary, never inside a character.
inline constexpr std::size_t kItunesTitleBytes = 127;  // also artist and album
inline constexpr std::size_t kItunesGenreBytes = 31;
inline constexpr std::size_t kItunesYearBytes = 5;
inline constexpr std::size_t kItunesFileTypeBytes = 15;
// A library play counts as a new play only when it is this much later than
// the record's last local play.
inline constexpr std::int64_t kItunesPlayGapSeconds = 1800;

enum class TrackProperty {
  kApplied,   // a field of the table was set
  kIgnored,   // a key the table does not use, or an empty key or value
  kBadValue,  // a key of the table whose value cannot be used (left unset)
};

// Applies one property (key compared ignoring case) to `record`. A key or
// value that is empty leaves the record alone. "Location" sets the path and
// the file type only for a usable local location (see LocationToPath) whose
// path fits the record; `path` (may be null) then receives that path.
TrackProperty ApplyTrackProperty(std::string_view key, std::string_view value, DBEntry* record,
                                 std::string* path = nullptr);

// Stores `text` cut to `max_bytes` (at a character boundary) in a field of
// `size` bytes, zero-filling the rest.
void SetCutText(char* field, std::size_t size, std::string_view text, std::size_t max_bytes);

// A record read from the library about to be added: marks it as iTunes
// data and, when iTunes counted plays, turns them into play history.
void PrepareNewItunesRecord(DBEntry* record);

struct ItunesMerge {
  bool write = false;    // the record changed and is to be written
  BOOL touch = FALSE;    // write with a new modified time (tags were filled)
  bool history = false;  // new plays were added as play history
};

// Merges the library's values (`library`, read from the track) into the
// database's `record`:
// - when the iTunes play count or play date differ, the library's are
//   taken; when the library's play date is more than 1800 s after the
//   record's last local play and its count is higher, the difference is
//   added to the play count as history (DBFLAG_HISTORY) and the play date
//   becomes the last play;
// - a record that neither the identification service nor an earlier import
//   filled takes the library's non-empty tags and is marked as iTunes data.
ItunesMerge MergeItunesRecord(const DBEntry& library, DBEntry* record);
