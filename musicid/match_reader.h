// Reading an identification match out of a list item (its track result,
// or one built from its album result) and into a database record, with
// the choice between the album's and the track's artist.
//
// Thread safety: the item belongs to the calling thread; the rest are pure.
#pragma once

#include <optional>
#include <string>

#include "db/db_format.h"
#include "musicid/cddb_interfaces.h"

class CddbModuleLoader;

// The artist to store, from the album result's artist and the track's: the
// album's, unless the track names another artist; a track artist that
// merely extends the album's ("Band feat. Guest" on "Band") keeps the
// album's.
std::string ChooseArtist(const std::string& album_artist, const std::string& track_artist);

// The texts of one match, as read from the component's results.
struct MatchFields {
  std::string artist, album, title, year, genre, extra1, extra2, label, extra3, gn_id;
  std::string track_number;
};

// Reads the match of `item`: nothing when it has no usable track number,
// no album result, or no track of that number (a missing track result is
// built with the result builder that `loader` creates).
std::optional<MatchFields> ReadMatch(ICddbListItem* item, CddbModuleLoader* loader);

// Writes each non-empty field into `entry`, cut to its field's width.
void StoreMatch(const MatchFields& match, DBEntry* entry);
