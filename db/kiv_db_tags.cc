// KivDB::GetTagEntry: filling a record's tag fields from its file.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "db/component_tags.h"
#include "db/db_log.h"
#include "db/db_state.h"
#include "db/kiv_db.h"
#include "platform/text.h"
#include "scan/tag_reader.h"

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

// Stores `text` when it is not empty and the field is empty or `overwrite`.
template <std::size_t N>
void StoreText(char (&field)[N], const std::string& text, bool overwrite) {
  if (text.empty() || !(overwrite || field[0] == 0)) return;
  SetEntryText(field, text);
}

ComponentTagReader& InstalledReader() {
  static ComponentTagReader reader;
  return reader;
}

// The component's tag object reads mp3 and wma files only.
bool ComponentReads(const DBEntry& entry) {
  std::string type = EntryText(entry.file_type);
  for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return type == "mp3" || type == "wma";
}

}  // namespace

void SetComponentTagReader(ComponentTagReader reader) { InstalledReader() = std::move(reader); }

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
  HRESULT component = E_FAIL;
  const ComponentTagReader& reader_of_component = InstalledReader();
  if (reader_of_component && ComponentReads(*entry)) {
    ComponentTags found;
    component = reader_of_component(path, &found);
    if (SUCCEEDED(component)) {
      StoreText(entry->artist, found.artist, overwrite);
      StoreText(entry->album, found.album, overwrite);
      StoreText(entry->title, found.title, overwrite);
      StoreText(entry->year, found.year, overwrite);
      StoreText(entry->genre, found.genre, overwrite);
      if (!found.track.empty() && (overwrite || entry->track_number == 0))
        entry->track_number = static_cast<std::int32_t>(std::strtol(found.track.c_str(), nullptr, 10));
      StoreText(entry->gn_id, found.gn_id, overwrite);
    }
  }
  return SUCCEEDED(hr) || SUCCEEDED(component) ? S_OK : E_FAIL;
}
