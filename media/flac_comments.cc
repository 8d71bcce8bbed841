// The last resort for a FLAC file whose metadata both libraries refuse (a
// block that declares a wrong length): the Vorbis comment block is found by
// walking the block headers and read by its own inner lengths, each bounded
// by the bytes that are there.
#include <cstdint>
#include <string>
#include <string_view>

#include "media/tag_reader_internal.h"
#include "platform/file_handle.h"
#include "platform/text.h"

namespace scan_internal {
namespace {

// Metadata sits at the start of the file; a comment block is far smaller.
constexpr std::size_t kMetadataLimit = 1 << 20;
constexpr unsigned kVorbisCommentBlock = 4;

std::uint32_t Little32(std::string_view data, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[at + i]);
  return v;
}

void ApplyComment(std::string_view comment, MediaTagSet* tags) {
  static constexpr std::pair<std::string_view, TagField> kKeys[] = {
      {"title", &MediaTagSet::title},    {"artist", &MediaTagSet::artist},
      {"album", &MediaTagSet::album},    {"genre", &MediaTagSet::genre},
      {"date", &MediaTagSet::year},      {"tracknumber", &MediaTagSet::track},
      {"comment", &MediaTagSet::comment}};
  const std::size_t equals = comment.find('=');
  if (equals == std::string_view::npos || equals + 1 == comment.size()) return;
  const std::string key = platform::AsciiLower(std::string(comment.substr(0, equals)));
  for (const auto& [name, member] : kKeys) {
    char16_t* field = tags->*member;
    if (key == name && field[0] == 0)
      FillTagField(field, FieldCapacity(*tags), comment.substr(equals + 1));
  }
}

// Reads the comments of a block that starts at `at` and may run to the end
// of `data`.
bool ReadComments(std::string_view data, std::size_t at, MediaTagSet* tags) {
  if (at + 4 > data.size()) return false;
  std::size_t pos = at + 4 + Little32(data, at);  // past the vendor string
  if (pos + 4 > data.size() || pos < at) return false;
  std::uint32_t count = Little32(data, pos);
  pos += 4;
  bool any = false;
  for (; count > 0 && pos + 4 <= data.size(); --count) {
    const std::uint32_t length = Little32(data, pos);
    pos += 4;
    if (length > data.size() - pos) break;
    ApplyComment(data.substr(pos, length), tags);
    any = true;
    pos += length;
  }
  return any;
}

}  // namespace

bool ReadFlacComments(const std::string& path, MediaTagSet* tags) {
  platform::FileHandle file;
  if (!file.OpenRead(path)) return false;
  std::string bytes(kMetadataLimit, '\0');
  std::size_t got = 0;
  file.ReadAt(0, bytes.data(), bytes.size(), &got);
  bytes.resize(got);
  std::string_view data(bytes);
  if (data.substr(0, 4) != "fLaC") return false;
  for (std::size_t at = 4; at + 4 <= data.size();) {
    const unsigned char head = static_cast<unsigned char>(data[at]);
    const std::size_t length = (static_cast<unsigned char>(data[at + 1]) << 16) |
                               (static_cast<unsigned char>(data[at + 2]) << 8) |
                               static_cast<unsigned char>(data[at + 3]);
    if ((head & 0x7F) == kVorbisCommentBlock) return ReadComments(data, at + 4, tags);
    if (head & 0x80) return false;  // the last block, and no comments
    at += 4 + length;
  }
  return false;
}

}  // namespace scan_internal
