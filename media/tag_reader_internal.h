// Pieces of the tag reader shared between its source files and open to its
// tests: the route rule, the MP4 tag line parser, the field writer and the
// extension-list splitter. Not for use outside scan/.
//
// Thread safety: the pure functions are safe from any thread; the ones that
// touch the process-wide state lock it themselves.
#pragma once

#include <string>
#include <string_view>

#include "media/tag_reader.h"

namespace scan_internal {

// Pointer to one text field of a MediaTagSet.
using TagField = char16_t (MediaTagSet::*)[kMediaTagChars];

// How ReadTags reads a file's tags. kTagAddOn: the format's common tags
// only. kMp4Tags: the MP4 items as "key=value" lines, which also carry the
// freeform "gnid" item; files of this route that are not MP4 fall back to
// their common tags.
enum class TagRoute { kTagAddOn, kMp4Tags };

// The route by the text from the last '.' of `path` (compared without case):
// .mp3 .mp2 .mp1 .ogg .flac .wma .ape .ofr .mpc take kTagAddOn, anything
// else (m4a, wav, no dot...) kMp4Tags.
TagRoute ChooseTagRoute(std::string_view path);

// Applies one MP4 tag line "key=value" to `tags`: leading '=' characters are
// skipped, the key ends at the next '=', the value is the rest of the line
// (it may itself hold '='). Keys title, artist, album, genre, year, date,
// track, comment and gnid are taken (without case; year and date both fill
// `year`, the later line winning); lines with another key, no '=' or an empty
// value are ignored. The line is cut at 1023 bytes first, as the tag buffer
// of the original reader was.
void ApplyMp4TagLine(std::string_view line, MediaTagSet* tags);

// Writes UTF-8 `value` into a field of capacity `cch` characters (clamped to
// kMediaTagChars): invalid UTF-8 becomes U+FFFD, a longer value is cut
// without splitting a surrogate pair, and the field is always terminated.
// Does nothing when `cch` is 0.
void FillTagField(char16_t* field, DWORD cch, std::string_view value);
// The same for UTF-16 `value`; unpaired surrogates become U+FFFD.
void FillTagField(char16_t* field, DWORD cch, std::u16string_view value);

// The capacity ReadTags honours for `tags`: cchField clamped to the field.
DWORD FieldCapacity(const MediaTagSet& tags);

// Splits `list` at ';', '*', '.' and ',' ("*.flac;*.fla", "ape,mac") and
// passes every non-empty piece to AddExtension.
void AddExtensionList(std::string_view list);

// Fills the empty fields of `tags` from the Vorbis comment block of the
// FLAC file at `path`, found by walking the block headers and read by its
// own lengths, bounded by the bytes there (for metadata the libraries
// refuse). False when the file has no readable comment.
bool ReadFlacComments(const std::string& path, MediaTagSet* tags);

// Fills the empty title, artist and album of `tags` from the MP4 file at
// `path` where its tag holds them as text of implicit or UTF-16 type, which
// TagLib does not read.
void FillMp4TextItems(const std::string& path, MediaTagSet* tags);

// True while a reference holds the reader initialised.
bool TagReaderInitialised();

// The FFmpeg demuxers that the reader lets open a file, as FFmpeg's
// comma-separated format whitelist. Fixed once the reader is initialised.
std::string AllowedDemuxers();

}  // namespace scan_internal
