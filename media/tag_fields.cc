// The route rule, the MP4 tag line parser and the field writer.
#include <algorithm>
#include <string>

#include "media/tag_reader_internal.h"
#include "platform/text.h"

namespace scan_internal {

TagRoute ChooseTagRoute(std::string_view path) {
  static constexpr std::string_view kTagAddOnExtensions[] = {
      ".mp3", ".mp2", ".mp1", ".ogg", ".flac", ".wma", ".ape", ".ofr", ".mpc"};
  std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return TagRoute::kMp4Tags;
  std::string extension = platform::AsciiLower(path.substr(dot));
  for (std::string_view candidate : kTagAddOnExtensions) {
    if (extension == candidate) return TagRoute::kTagAddOn;
  }
  return TagRoute::kMp4Tags;
}

void ApplyMp4TagLine(std::string_view line, MediaTagSet* tags) {
  static constexpr std::size_t kLineBytes = 1023;
  struct Key {
    std::string_view name;
    TagField field;
  };
  static constexpr Key kKeys[] = {
      {"title", &MediaTagSet::title}, {"artist", &MediaTagSet::artist},
      {"album", &MediaTagSet::album}, {"genre", &MediaTagSet::genre},
      {"year", &MediaTagSet::year},   {"date", &MediaTagSet::year},
      {"track", &MediaTagSet::track}, {"comment", &MediaTagSet::comment},
      {"gnid", &MediaTagSet::gnid},
  };
  line = platform::Utf8Prefix(line, kLineBytes);
  std::size_t key_start = line.find_first_not_of('=');
  if (key_start == std::string_view::npos) return;
  std::size_t equals = line.find('=', key_start);
  if (equals == std::string_view::npos || equals + 1 >= line.size()) return;
  std::string key = platform::AsciiLower(line.substr(key_start, equals - key_start));
  std::string_view value = line.substr(equals + 1);
  for (const Key& candidate : kKeys) {
    if (key == candidate.name) {
      FillTagField(tags->*candidate.field, FieldCapacity(*tags), value);
      return;
    }
  }
}

DWORD FieldCapacity(const MediaTagSet& tags) { return std::min(tags.cchField, kMediaTagChars); }

void FillTagField(char16_t* field, DWORD cch, std::string_view value) {
  if (cch == 0) return;
  FillTagField(field, cch, platform::Utf8ToUtf16(value));
}

void FillTagField(char16_t* field, DWORD cch, std::u16string_view value) {
  if (cch == 0) return;
  cch = std::min(cch, kMediaTagChars);
  auto high = [](char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
  auto low = [](char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
  std::size_t out = 0;
  for (std::size_t i = 0; i < value.size() && out + 1 < cch; ++i) {
    char16_t unit = value[i];
    if (high(unit) && i + 1 < value.size() && low(value[i + 1])) {
      if (out + 2 >= cch) break;  // a pair that does not fit whole is dropped whole
      field[out++] = unit;
      field[out++] = value[++i];
    } else {
      field[out++] = high(unit) || low(unit) ? u'\uFFFD' : unit;
    }
  }
  field[out] = 0;
}

}  // namespace scan_internal
