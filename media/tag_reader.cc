// ReadTags: TagLib for the formats it knows, FFmpeg's metadata for the
// others, for files whose content TagLib cannot place and for the fields
// TagLib left empty, an MP4 atom walk for text items TagLib drops, and a
// FLAC comment walk when both refuse the file.
#include "media/tag_reader.h"

#include <taglib/asffile.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/oggfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>

#include <algorithm>
#include <exception>
#include <string>

#include "app/log.h"
#include "media/av_input.h"
#include "media/cached_file_stream.h"
#include "media/tag_reader_internal.h"
#include "platform/text.h"

namespace scan_internal {
namespace {

// One text field of the set and the names it goes by in each tag system
// (property names of TagLib, keys of FFmpeg's metadata, compared without
// case), first name first.
struct FieldNames {
  TagField field;
  const char* names[3];
};
constexpr FieldNames kFields[] = {
    {&MediaTagSet::title, {"TITLE"}},
    // Speex's own encoder names the artist "author".
    {&MediaTagSet::artist, {"ARTIST", "AUTHOR"}},
    {&MediaTagSet::album, {"ALBUM"}},
    {&MediaTagSet::genre, {"GENRE"}},
    {&MediaTagSet::year, {"DATE", "YEAR"}},
    {&MediaTagSet::track, {"TRACKNUMBER", "TRACK"}},
    {&MediaTagSet::comment, {"COMMENT", "DESCRIPTION"}},
};

// RIFF INFO chunk ids for the same fields, kept as stored (TagLib's own view
// turns the track and date into numbers).
constexpr const char* kInfoIds[][2] = {{"INAM"}, {"IART"},         {"IPRD"}, {"IGNR"},
                                       {"ICRD"}, {"IPRT", "ITRK"}, {"ICMT"}};

char16_t* Field(MediaTagSet* tags, TagField member) { return tags->*member; }

// The fields a record keeps that a second reader may still fill.
bool MainFieldMissing(const MediaTagSet& tags) {
  return tags.title[0] == 0 || tags.artist[0] == 0 || tags.album[0] == 0 || tags.track[0] == 0;
}

std::string Utf8(const TagLib::String& text) { return text.to8Bit(true); }

// TagLib keeps text as UTF-16 units; taking them as they are keeps a value
// with a damaged surrogate (which its UTF-8 conversion would empty).
std::u16string Utf16(const TagLib::String& text) {
  std::u16string units;
  units.reserve(text.size());
  for (wchar_t unit : text) units.push_back(static_cast<char16_t>(unit));
  return units;
}

void FillFromProperties(const TagLib::PropertyMap& properties, MediaTagSet* tags) {
  DWORD cch = FieldCapacity(*tags);
  for (const FieldNames& names : kFields) {
    for (const char* name : names.names) {
      if (name == nullptr) break;
      auto it = properties.find(name);
      if (it != properties.end() && !it->second.isEmpty() && !it->second.front().isEmpty()) {
        FillTagField(Field(tags, names.field), cch, Utf16(it->second.front()));
        break;
      }
    }
  }
}

// ASF attributes that TagLib's common view leaves out: writers disagree on
// the names of the year and the comment.
void FillAsfExtras(TagLib::ASF::Tag* tag, MediaTagSet* tags) {
  DWORD cch = FieldCapacity(*tags);
  for (const auto& [name, attributes] : tag->attributeListMap()) {
    if (attributes.isEmpty()) continue;
    std::string key = platform::AsciiLower(Utf8(name));
    char16_t* field = nullptr;
    if (key == "wm/year" || key == "date" || key == "year") field = tags->year;
    if (key == "description" || key == "comment" || key == "wm/comments") field = tags->comment;
    if (field != nullptr && field[0] == 0) {
      std::u16string value = Utf16(attributes.front().toString());
      if (!value.empty()) FillTagField(field, cch, value);
    }
  }
}

void FillFromRiffInfo(TagLib::RIFF::Info::Tag* info, MediaTagSet* tags) {
  DWORD cch = FieldCapacity(*tags);
  const TagLib::RIFF::Info::FieldListMap fields = info->fieldListMap();
  for (std::size_t i = 0; i < std::size(kFields); ++i) {
    for (const char* id : kInfoIds[i]) {
      if (id == nullptr) break;
      auto it = fields.find(TagLib::ByteVector(id, 4));
      if (it != fields.end() && !it->second.isEmpty()) {
        FillTagField(Field(tags, kFields[i].field), cch, Utf16(it->second));
        break;
      }
    }
  }
}

// The MP4 items as the "key=value" lines of the MP4 route.
void FillFromMp4Items(TagLib::MP4::Tag* tag, MediaTagSet* tags) {
  static constexpr const char* kAtoms[][2] = {
      {"\251nam", "title"}, {"\251ART", "artist"},  {"\251alb", "album"}, {"\251gen", "genre"},
      {"\251day", "date"},  {"\251cmt", "comment"}, {"trkn", "track"},    {"gnre", "genre"}};
  for (const auto& [atom, item] : tag->itemMap()) {
    std::string name = atom.to8Bit(false);  // atom names are Latin-1: "\251nam"
    std::string key;
    std::string value;
    if (name.rfind("----:", 0) == 0) {
      key = name.substr(name.rfind(':') + 1);  // freeform "----:mean:name"
    } else {
      for (const auto& [atom_name, atom_key] : kAtoms) {
        if (name == atom_name) key = atom_key;
      }
    }
    if (key.empty()) continue;
    if (name == "trkn") {
      TagLib::MP4::Item::IntPair pair = item.toIntPair();
      if (pair.first <= 0) continue;
      value = std::to_string(pair.first);
      if (pair.second > 0) value.append("/").append(std::to_string(pair.second));
    } else if (name == "gnre") {
      // The genre as an ID3v1 genre number plus one.
      value = Utf8(tag->genre());
    } else if (!item.toStringList().isEmpty()) {
      value = Utf8(item.toStringList().front());
    }
    ApplyMp4TagLine(key + "=" + value, tags);
  }
}

// Formats whose tag parsing already proves the content (a signature and
// header structures TagLib must find), so that their audio properties need
// not be read as well.
bool ContentCheckedByParsing(const TagLib::File* file) {
  return dynamic_cast<const TagLib::Ogg::File*>(file) != nullptr ||
         dynamic_cast<const TagLib::FLAC::File*>(file) != nullptr ||
         dynamic_cast<const TagLib::MP4::File*>(file) != nullptr ||
         dynamic_cast<const TagLib::ASF::File*>(file) != nullptr;
}

bool ContentCheckedExtension(const std::string& extension) {
  static constexpr std::string_view kExtensions[] = {"ogg", "oga", "opus", "spx", "flac", "fla",
                                                     "m4a", "m4p", "m4b",  "mp4", "wma",  "asf"};
  return std::find(std::begin(kExtensions), std::end(kExtensions), extension) !=
         std::end(kExtensions);
}

// Reads with TagLib. False when TagLib does not know the format or the
// content is not what the format needs (no audio found).
bool ReadWithTagLib(const std::string& path, MediaTagSet* tags) {
  // Read-only: a read-write open would end in a close-after-write event,
  // which the folder monitor takes for a changed file.
  CachedFileStream stream(path);
  if (!stream.isOpen()) return false;
  // Most formats prove their content only through their audio properties
  // (TagLib takes any bytes for an MPEG or RIFF file); reading those is
  // skipped where the tag parsing proves it already.
  bool with_audio = !ContentCheckedExtension(GetExtension(path));
  TagLib::FileRef ref(&stream, with_audio, TagLib::AudioProperties::Fast);
  if (!with_audio && !ref.isNull() && !ContentCheckedByParsing(ref.file())) {
    // The content is of another format than the name says.
    stream.seek(0);
    with_audio = true;
    ref = TagLib::FileRef(&stream, true, TagLib::AudioProperties::Fast);
  }
  if (ref.isNull() || !ref.file()->isValid()) return false;
  if (with_audio) {
    TagLib::AudioProperties* audio = ref.audioProperties();
    if (audio == nullptr || audio->sampleRate() <= 0 || audio->channels() <= 0) return false;
  }
  TagLib::File* file = ref.file();
  // TagLib takes any bytes for a Musepack stream of the old versions 4-6,
  // which nothing decodes any more; only versions 7 and 8 have a signature.
  if (auto* mpc = dynamic_cast<TagLib::MPC::File*>(file);
      mpc != nullptr && mpc->audioProperties() != nullptr) {
    int version = mpc->audioProperties()->mpcVersion();
    if (version != 7 && version != 8) return false;
  }
  if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file);
      mp4 != nullptr && ChooseTagRoute(path) == TagRoute::kMp4Tags) {
    if (mp4->hasMP4Tag()) FillFromMp4Items(mp4->tag(), tags);
    if (MainFieldMissing(*tags)) FillMp4TextItems(path, tags);
    return true;
  }
  FillFromProperties(file->properties(), tags);
  if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file); asf != nullptr) {
    FillAsfExtras(asf->tag(), tags);
  }
  if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file);
      wav != nullptr && !(wav->hasID3v2Tag() && !wav->ID3v2Tag()->isEmpty()) && wav->hasInfoTag()) {
    FillFromRiffInfo(wav->InfoTag(), tags);
  }
  return true;
}

void FillFromDictionary(const AVDictionary* metadata, MediaTagSet* tags) {
  DWORD cch = FieldCapacity(*tags);
  for (const FieldNames& names : kFields) {
    char16_t* field = Field(tags, names.field);
    if (field[0] != 0) continue;
    for (const char* name : names.names) {
      if (name == nullptr) break;
      const AVDictionaryEntry* entry = Av().av_dict_get(metadata, name, nullptr, 0);
      if (entry != nullptr && entry->value[0] != 0) {
        FillTagField(field, cch, entry->value);
        break;
      }
    }
  }
}

// Reads FFmpeg's view of the tags (container, then audio stream). False
// when FFmpeg cannot open the file as audio.
bool ReadWithFfmpeg(const std::string& path, MediaTagSet* tags, std::string* error) {
  AudioInput input = OpenAudioInput(path, false, error);
  if (!input.format) return false;
  FillFromDictionary(input.format->metadata, tags);
  FillFromDictionary(input.Stream()->metadata, tags);
  return true;
}

}  // namespace
}  // namespace scan_internal

HRESULT ReadTags(const std::string& path, MediaTagSet* tags) {
  using namespace scan_internal;
  if (tags == nullptr || tags->cbSize != kMediaTagSetSize) return E_POINTER;
  if (!TagReaderInitialised()) return E_FAIL;
  try {
    std::string error;
    if (ReadWithTagLib(path, tags)) {
      // Some tags TagLib does not read for a format it knows (APE tags in
      // True Audio files, for one), and a damaged frame or block may end its
      // parsing early; FFmpeg may read more. It fills only what is still
      // empty, so the two together give whichever reads more.
      if (MainFieldMissing(*tags)) ReadWithFfmpeg(path, tags, &error);
      return S_OK;
    }
    if (ReadWithFfmpeg(path, tags, &error)) return S_OK;
    if (ReadFlacComments(path, tags)) return S_OK;
    AppLog().LogDetail("ReadTags: cannot open file, " + error, path, LEVEL_VERBOSE, MODULE_INDEXER);
    return E_FAIL;
  } catch (const std::exception& e) {
    AppLog().LogDetail(std::string("ReadTags: fault reading tags, ") + e.what(), path, LEVEL_ERROR,
                       MODULE_INDEXER);
  } catch (...) {
    AppLog().LogDetail("ReadTags: fault reading tags", path, LEVEL_ERROR, MODULE_INDEXER);
  }
  return E_FAIL;
}
