#include "musicid/match_reader.h"

#include <cctype>
#include <cstdlib>

#include "musicid/cddb_module_loader.h"
#include "musicid/cddb_object.h"

namespace {

// The year and label fields hold at most 6 and 32 bytes.
constexpr std::size_t kYearBytes = 6;
constexpr std::size_t kLabelBytes = 32;

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

template <class T>
std::string Text(T* object, CddbField field) {
  std::string value;
  if (object == nullptr || FAILED(object->GetText(field, &value))) return {};
  return value;
}

template <std::size_t N>
void Put(char (&field)[N], const std::string& value, std::size_t width = N) {
  if (!value.empty()) SetEntryText(field, width, value);
}

}  // namespace

std::string ChooseArtist(const std::string& album_artist, const std::string& track_artist) {
  if (album_artist.empty()) return track_artist.empty() ? album_artist : track_artist;
  if (track_artist.empty()) return album_artist;
  if (track_artist.size() > album_artist.size() && StartsWithNoCase(track_artist, album_artist))
    return album_artist;
  return track_artist;
}

std::optional<MatchFields> ReadMatch(ICddbListItem* item, CddbModuleLoader* loader) {
  if (item == nullptr) return std::nullopt;
  CddbPtr<ICddbTrackResult> track;
  item->GetTrackResult(track.Out());
  CddbPtr<ICddbAlbumResult> album;
  long number = 0;
  if (FAILED(item->GetTrackNumber(&number)) || FAILED(item->GetAlbumResult(album.Out())) || !album)
    return std::nullopt;
  if (number == 0 && FAILED(album->GetTrackNumber(&number))) return std::nullopt;
  if (number == 0) return std::nullopt;
  if (!track) {
    CddbPtr<ICddbResultBuilder> builder;
    if (loader == nullptr ||
        FAILED(loader->CreateObject(CLSID_CddbResultBuilder, IID_ICddbResultBuilder,
                                    builder.OutVoid())) ||
        !builder || FAILED(builder->MakeTrackResult(album.get(), number, track.Out())) || !track)
      return std::nullopt;
  }
  CddbPtr<ICddbTrackResult> album_track;
  if (FAILED(album->GetTrack(number, album_track.Out())) || !album_track) return std::nullopt;

  MatchFields match;
  match.artist = ChooseArtist(Text(album.get(), CddbField::kArtist),
                              Text(album_track.get(), CddbField::kArtist));
  match.album = Text(track.get(), CddbField::kAlbum);
  match.title = Text(track.get(), CddbField::kTitle);
  match.year = Text(track.get(), CddbField::kYear);
  match.genre = Text(track.get(), CddbField::kGenre);
  match.extra1 = Text(track.get(), CddbField::kExtra1);
  match.extra2 = Text(track.get(), CddbField::kExtra2);
  match.label = Text(track.get(), CddbField::kLabel);
  match.extra3 = Text(track.get(), CddbField::kExtra3);
  match.gn_id = Text(track.get(), CddbField::kGnId);
  match.track_number = Text(track.get(), CddbField::kTrackNumber);
  return match;
}

void StoreMatch(const MatchFields& match, DBEntry* entry) {
  Put(entry->artist, match.artist);
  Put(entry->album, match.album);
  Put(entry->title, match.title);
  Put(entry->year, match.year, kYearBytes);
  Put(entry->genre, match.genre);
  Put(entry->extra1, match.extra1);
  Put(entry->extra2, match.extra2);
  Put(entry->label, match.label, kLabelBytes);
  Put(entry->extra3, match.extra3);
  Put(entry->gn_id, match.gn_id);
  if (!match.track_number.empty())
    entry->track_number =
        static_cast<std::int32_t>(std::strtol(match.track_number.c_str(), nullptr, 10));
}
