// The media tag reader: the program's only access to the content of media
// files. It keeps the list of supported file extensions, reads the tags of
// one file into a fixed-size MediaTagSet (TagLib, with FFmpeg for formats
// TagLib does not know). Decoding to PCM is in media/decoder.h.
//
// The state is process-wide. A CTagReaderRef keeps it initialised: the first
// live reference fills the extension list, the last one empties it. Start-up
// holds one for the program's life; ReadTags and DecodeToSink callers hold
// one for the duration of a call.
//
// Thread safety: any thread may call every function here at the same time.
// Paths are UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

// Size that callers put in MediaTagSet::cbSize; any other value is refused.
inline constexpr DWORD kMediaTagSetSize = 4104;
// Characters in each text field of MediaTagSet, terminator included.
inline constexpr DWORD kMediaTagChars = 256;

// The tags of one file. The caller zero-fills the set, sets cbSize to
// kMediaTagSetSize and cchField to the number of characters ReadTags may
// write into each field (kMediaTagChars at most). Every field written is
// zero-terminated: a longer value is cut at a character boundary. Fields
// the file has no value for stay empty.
struct MediaTagSet {
  DWORD cbSize;
  DWORD cchField;
  char16_t title[kMediaTagChars];
  char16_t artist[kMediaTagChars];
  char16_t album[kMediaTagChars];
  char16_t genre[kMediaTagChars];
  char16_t year[kMediaTagChars];   // year or date, as stored in the file
  char16_t track[kMediaTagChars];  // as stored, possibly "3/12"
  char16_t comment[kMediaTagChars];
  char16_t gnid[kMediaTagChars];  // MP4 freeform item "gnid", else empty
};
static_assert(sizeof(MediaTagSet) == kMediaTagSetSize);

// Holds the tag reader initialised while it lives. Not copyable.
class CTagReaderRef {
 public:
  CTagReaderRef();
  ~CTagReaderRef();
  CTagReaderRef(const CTagReaderRef&) = delete;
  CTagReaderRef& operator=(const CTagReaderRef&) = delete;
};

// Reads the tags of the file at `path` into `tags`.
// Returns E_POINTER when `tags` is null or its cbSize is not
// kMediaTagSetSize (the set is then left untouched), E_FAIL when the reader
// is not initialised or the file cannot be opened as a media file, S_OK
// otherwise.
HRESULT ReadTags(const std::string& path, MediaTagSet* tags);

// The text after the last '.', lower-cased (ASCII); the whole text,
// lower-cased, when there is no dot or the only dot is at position 0.
std::string GetExtension(std::string_view path);

// True when GetExtension(path) is in the extension list. "song.MP3" and the
// bare text "mp3" are supported; ".mp3" is not. False while no reference
// has filled the list.
bool IsSupportedFile(std::string_view path);

// Appends `extension` lower-cased unless the list already accepts it.
void AddExtension(std::string_view extension);

// The extension list in insertion order (lower case, without the dot).
std::vector<std::string> SupportedExtensions();
