// KivDB::GetTagEntry: filling a record's tag fields from its file.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "db/component_tags.h"
#include "db/db_log.h"
#include "db/db_state.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"
#include "platform/text.h"

namespace {

std::u16string_view TagText(const char16_t* field) {
  std::size_t n = 0;
  while (n < kMediaTagChars && field[n] != 0) ++n;
  return std::u16string_view(field, n);
}

// The integer value of a track text: leading blanks, an optional sign and
// the digits that follow ("3/12" is 3); 0 when there are none.
std::int32_t TrackNumber(const std::string& text) {
  long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT32_MAX || value < INT32_MIN) return 0;
  return static_cast<std::int32_t>(value);
}

// Stores `text` when it is not empty and the field is empty or `overwrite`.
template <std::size_t N>
void StoreText(char (&field)[N], const std::string& text, bool overwrite) {
  if (text.empty() || !(overwrite || field[0] == 0)) return;
  SetEntryText(field, text);
}

// The tag reader's fields GetTagEntry takes, as UTF-8.
ComponentTags FromTagSet(const MediaTagSet& tags) {
  auto text = [](const char16_t* field) { return platform::Utf16ToUtf8(TagText(field)); };
  ComponentTags found;
  found.artist = text(tags.artist);
  found.album = text(tags.album);
  found.title = text(tags.title);
  found.year = text(tags.year);
  found.genre = text(tags.genre);
  found.track = text(tags.track);
  return found;
}

// Stores each found tag that is not empty, where the field is empty or
// `overwrite` is set.
void StoreFound(DBEntry* entry, const ComponentTags& found, bool overwrite) {
  StoreText(entry->artist, found.artist, overwrite);
  StoreText(entry->album, found.album, overwrite);
  StoreText(entry->title, found.title, overwrite);
  StoreText(entry->year, found.year, overwrite);
  StoreText(entry->genre, found.genre, overwrite);
  if (!found.track.empty() && (overwrite || entry->track_number == 0))
    entry->track_number = TrackNumber(found.track);
  StoreText(entry->gn_id, found.gn_id, overwrite);
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
  if (SUCCEEDED(hr)) StoreFound(entry, FromTagSet(tags), overwrite);
  kivdb::DbLogDetail(LEVEL_VERBOSE, path, "GetTagEntry");
  HRESULT component = E_FAIL;
  const ComponentTagReader& reader_of_component = InstalledReader();
  if (reader_of_component && ComponentReads(*entry)) {
    ComponentTags found;
    component = reader_of_component(path, &found);
    if (SUCCEEDED(component)) StoreFound(entry, found, overwrite);
  }
  return SUCCEEDED(hr) || SUCCEEDED(component) ? S_OK : E_FAIL;
}
