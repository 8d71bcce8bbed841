#include "scan/itunes_tracks.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <string>
#include <utility>

#include "media/tag_reader.h"
#include "platform/text.h"
#include "scan/itunes_values.h"

namespace {

enum class Field {
  kTitle,
  kArtist,
  kAlbum,
  kGenre,
  kYear,
  kFileSize,
  kDuration,
  kTrackNumber,
  kTrackCount,
  kBitRate,
  kSampleRate,
  kPlayCount,
  kPlayed,
  kDateAdded,
  kFileModified,
  kLocation,
  kNone,  // recognised and ignored
};

struct Property {
  std::string_view key;  // lower case
  Field field;
};

// `text` equals the lower-case `lower` ignoring ASCII case.
bool EqualsLower(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// By key length, so that a key is compared only with keys of its length.
constexpr Property kProperties[] = {
    {"name", Field::kTitle},
    {"year", Field::kYear},
    {"size", Field::kFileSize},
    {"kind", Field::kNone},
    {"album", Field::kAlbum},
    {"genre", Field::kGenre},
    {"artist", Field::kArtist},
    {"season", Field::kNone},
    {"bit rate", Field::kBitRate},
    {"location", Field::kLocation},
    {"play date", Field::kNone},
    {"total time", Field::kDuration},
    {"play count", Field::kPlayCount},
    {"date added", Field::kDateAdded},
    {"track type", Field::kNone},
    {"track count", Field::kTrackCount},
    {"sample rate", Field::kSampleRate},
    {"disc number", Field::kNone},
    {"track number", Field::kTrackNumber},
    {"play date utc", Field::kPlayed},
    {"date modified", Field::kFileModified},
    {"persistent id", Field::kNone},
};
constexpr std::size_t kLongestKey = 13;

// Where the keys of each length begin in kProperties (the end is the next
// length's beginning).
constexpr std::array<std::size_t, kLongestKey + 2> KeyStarts() {
  std::array<std::size_t, kLongestKey + 2> starts{};
  std::size_t at = 0;
  for (std::size_t size = 0; size <= kLongestKey + 1; ++size) {
    while (at < std::size(kProperties) && kProperties[at].key.size() < size) ++at;
    starts[size] = at;
  }
  return starts;
}
constexpr auto kKeyStarts = KeyStarts();
static_assert(kKeyStarts[kLongestKey + 1] == std::size(kProperties), "sorted by length");

TrackProperty SetDate(std::string_view value, std::int64_t* field) {
  return ParseItunesDate(value, field) ? TrackProperty::kApplied : TrackProperty::kBadValue;
}

TrackProperty SetLocation(std::string_view value, DBEntry* record, std::string* set_path) {
  std::string path;
  if (!LocationToPath(value, &path) || !SetEntryPath(*record, path))
    return TrackProperty::kBadValue;
  SetCutText(record->file_type, sizeof record->file_type, GetExtension(path), kItunesFileTypeBytes);
  if (set_path) *set_path = std::move(path);
  return TrackProperty::kApplied;
}

template <std::size_t N>
void CopyIfSet(char (&to)[N], const char (&from)[N], std::size_t max_bytes) {
  std::string text = EntryText(from);
  if (!text.empty()) SetCutText(to, N, text, max_bytes);
}

}  // namespace

void SetCutText(char* field, std::size_t size, std::string_view text, std::size_t max_bytes) {
  SetEntryText(field, size, platform::Utf8Prefix(text, max_bytes < size ? max_bytes : size));
}

TrackProperty ApplyTrackProperty(std::string_view key, std::string_view value, DBEntry* record,
                                 std::string* path) {
  if (key.empty() || value.empty() || key.size() > kLongestKey) return TrackProperty::kIgnored;
  Field field = Field::kNone;
  bool known = false;
  for (std::size_t i = kKeyStarts[key.size()]; i < kKeyStarts[key.size() + 1]; ++i) {
    if (EqualsLower(key, kProperties[i].key)) {
      field = kProperties[i].field;
      known = true;
      break;
    }
  }
  if (!known) return TrackProperty::kIgnored;
  switch (field) {
    case Field::kTitle:
      SetCutText(record->title, sizeof record->title, value, kItunesTitleBytes);
      break;
    case Field::kArtist:
      SetCutText(record->artist, sizeof record->artist, value, kItunesTitleBytes);
      break;
    case Field::kAlbum:
      SetCutText(record->album, sizeof record->album, value, kItunesTitleBytes);
      break;
    case Field::kGenre:
      SetCutText(record->genre, sizeof record->genre, value, kItunesGenreBytes);
      break;
    case Field::kYear:
      SetCutText(record->year, sizeof record->year, value, kItunesYearBytes);
      break;
    case Field::kFileSize:
      // The record keeps the low 32 bits of the size.
      record->file_size = static_cast<std::uint32_t>(ParseDecimal(value));
      break;
    case Field::kDuration:
      record->duration = ParseDecimal32(value);
      break;
    case Field::kTrackNumber:
      record->track_number = ParseDecimal32(value);
      break;
    case Field::kTrackCount:
      record->track_count = ParseDecimal32(value);
      break;
    case Field::kBitRate:
      record->bit_rate = ParseDecimal32(value);
      break;
    case Field::kSampleRate:
      record->sample_rate = ParseDecimal32(value);
      break;
    case Field::kPlayCount:
      record->play_count_itunes = ParseDecimal32(value);
      break;
    case Field::kPlayed:
      return SetDate(value, &record->played_itunes);
    case Field::kDateAdded:
      return SetDate(value, &record->date_added);
    case Field::kFileModified:
      return SetDate(value, &record->file_modified);
    case Field::kLocation:
      return SetLocation(value, record, path);
    case Field::kNone:
      return TrackProperty::kIgnored;
  }
  return TrackProperty::kApplied;
}

void PrepareNewItunesRecord(DBEntry* record) {
  record->flags |= DBFLAG_ITUNESDATA;
  if (record->play_count_itunes != 0) {
    record->flags |= DBFLAG_HISTORY;
    record->play_count = record->play_count_itunes;
    record->played = record->played_itunes;
    record->date_added = record->played_itunes;
  }
}

ItunesMerge MergeItunesRecord(const DBEntry& library, DBEntry* record) {
  ItunesMerge merge;
  if (library.play_count_itunes != record->play_count_itunes ||
      library.played_itunes != record->played_itunes) {
    // Compared in 64 bits: a record's played time near the top of the range
    // must not wrap round and make an old library play look new.
    const bool later = library.played_itunes > record->played &&
                       static_cast<std::uint64_t>(library.played_itunes) -
                               static_cast<std::uint64_t>(record->played) >
                           static_cast<std::uint64_t>(kItunesPlayGapSeconds);
    if (later && library.play_count_itunes > record->play_count_itunes) {
      record->played = library.played_itunes;
      if (record->date_added == 0) record->date_added = library.played_itunes;
      const std::int64_t count = static_cast<std::int64_t>(record->play_count) +
                                 library.play_count_itunes - record->play_count_itunes;
      record->play_count = static_cast<std::int32_t>(
          std::clamp<std::int64_t>(count, std::numeric_limits<std::int32_t>::min(),
                                   std::numeric_limits<std::int32_t>::max()));
      record->flags |= DBFLAG_HISTORY;
      merge.history = true;
    }
    record->play_count_itunes = library.play_count_itunes;
    record->played_itunes = library.played_itunes;
    merge.write = true;
  }
  if (!(record->flags & (DBFLAG_IDENTIFIED | DBFLAG_ITUNESDATA))) {
    CopyIfSet(record->album, library.album, kItunesTitleBytes);
    CopyIfSet(record->title, library.title, kItunesTitleBytes);
    CopyIfSet(record->artist, library.artist, kItunesTitleBytes);
    CopyIfSet(record->genre, library.genre, kItunesGenreBytes);
    CopyIfSet(record->year, library.year, kItunesYearBytes);
    if (library.track_number != 0) record->track_number = library.track_number;
    record->flags |= DBFLAG_ITUNESDATA;
    merge.write = true;
    merge.touch = TRUE;
  }
  return merge;
}
