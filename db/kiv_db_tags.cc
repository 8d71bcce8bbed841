// KivDB::GetTagEntry: filling a record's tag fields from its file.
#include <cstdlib>
#include <cstring>

#include "db/db_log.h"
#include "db/db_state.h"
#include "db/kiv_db.h"
#include "platform/text.h"
#include "media/tag_reader.h"

namespace {

std::u16string_view TagText(const char16_t* field) {
  std::size_t n = 0;
  while (n < kMediaTagChars && field[n] != 0) ++n;
  return std::u16string_view(field, n);
}

// Stores `tag` when it is not empty and the field is empty or `overwrite`.
template <std::size_t N>
void StoreTag(char (&field)[N], const char16_t* tag, bool overwrite) {
  std::u16string_view text = TagText(tag);
  if (text.empty() || !(overwrite || field[0] == 0)) return;
  SetEntryText(field, platform::Utf16ToUtf8(text));
}

// The integer value of a track text: leading blanks, an optional sign and
// the digits that follow ("3/12" is 3); 0 when there are none.
std::int32_t TrackNumber(std::u16string_view text) {
  std::string narrow = platform::Utf16ToUtf8(text);
  long value = std::strtol(narrow.c_str(), nullptr, 10);
  if (value > INT32_MAX || value < INT32_MIN) return 0;
  return static_cast<std::int32_t>(value);
}

}  // namespace

HRESULT KivDB::GetTagEntry(DBEntry* entry, BOOL overwrite) {
  if (!entry || !IsReady()) return E_FAIL;
  // The tags are read without the database lock: reading a media file can
  // take long and touches nothing of the engine.
  std::string path = EntryPath(*entry);
  CTagReaderRef reader;
  MediaTagSet tags;
  std::memset(&tags, 0, sizeof tags);
  tags.cbSize = kMediaTagSetSize;
  tags.cchField = kMediaTagChars;
  HRESULT hr = ReadTags(path, &tags);
  if (SUCCEEDED(hr)) {
    StoreTag(entry->artist, tags.artist, overwrite);
    StoreTag(entry->album, tags.album, overwrite);
    StoreTag(entry->title, tags.title, overwrite);
    StoreTag(entry->year, tags.year, overwrite);
    StoreTag(entry->genre, tags.genre, overwrite);
    std::u16string_view track = TagText(tags.track);
    if (!track.empty() && (overwrite || entry->track_number == 0))
      entry->track_number = TrackNumber(track);
  }
  kivdb::DbLogDetail(LEVEL_VERBOSE, path, "GetTagEntry");
  // The identification component's own tag objects for mp3 and wma files
  // are read here once that component exists.
  return SUCCEEDED(hr) ? S_OK : E_FAIL;
}
