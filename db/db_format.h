// The layout of the local media database file kivclient.db: a 256-byte
// header (DBHeader) followed by an array of 1296-byte records (DBEntry),
// all little-endian. A record's file position is its identity inside the
// engine; position 0 means "no record".
//
// DBEntry is also the in-memory copy of a record that every other part of
// the program works with. The helpers below fill and read its fields; they
// are pure functions (ValidEntry only logs) and safe from any thread.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win_types.h"

static_assert(std::endian::native == std::endian::little,
              "records are read and written as little-endian memory images");

// Record flag bits.
inline constexpr DWORD DBFLAG_VALID = 0x00000001;
inline constexpr DWORD DBFLAG_REPORTED = 0x00000002;
inline constexpr DWORD DBFLAG_IDENTIFIED = 0x00000004;
inline constexpr DWORD DBFLAG_HISTORY = 0x00000008;
inline constexpr DWORD DBFLAG_ITUNESDATA = 0x00000010;
inline constexpr DWORD DBFLAG_PLAYLIST = 0x00000020;
inline constexpr DWORD DBFLAG_MUSICID_INUSE = 0x00100000;
inline constexpr DWORD DBFLAG_PLAYED = 0x00200000;
inline constexpr DWORD DBFLAG_PLAYEDRETRY = 0x00400000;
inline constexpr DWORD DBFLAG_NOTINPATH = 0x10000000;
inline constexpr DWORD DBFLAG_DELETED = 0x20000000;
inline constexpr DWORD DBFLAG_DONTREPORT = 0x40000000;

inline constexpr std::uint32_t kDbHeaderSize = 256;
inline constexpr std::uint32_t kDbRecordSize = 1296;
inline constexpr std::uint32_t kDbHeaderVersion = 2;
inline constexpr std::uint32_t kDbEntryVersion = 3;
// Files of fewer bytes than this are not media worth a record.
inline constexpr std::uint32_t kDbMinFileSize = 131072;
// UTF-16 units of the path field, terminator included.
inline constexpr std::size_t kDbPathUnits = 260;
inline constexpr const char* kDbFileName = "kivclient.db";

struct DBHeader {
  char magic[5];  // "KIVDB", no terminator
  std::uint8_t padding[3];
  std::uint32_t version;      // kDbHeaderVersion
  std::uint32_t header_size;  // kDbHeaderSize, checked on open
  std::uint32_t record_size;  // kDbRecordSize
  std::uint32_t valid_count;  // records with DBFLAG_VALID
  std::uint32_t empty_count;  // records without DBFLAG_VALID inside the file
  std::uint8_t reserved[228];
};

// Times are signed seconds since 1970 (0 = never); see NowAsStoredTime for
// the program's own "now". Narrow text fields are UTF-8, NUL-terminated when
// shorter than the field.
struct DBEntry {
  char magic[3];  // "KIV", no terminator
  std::uint8_t padding;
  std::uint32_t version;        // kDbEntryVersion
  std::uint32_t record_size;    // kDbRecordSize
  std::uint32_t flags;          // DBFLAG_*
  std::uint64_t kiv_id;         // the server's identifier, 0 = not known yet
  char16_t path[kDbPathUnits];  // UTF-16LE full path, NUL-terminated
  char file_type[16];           // extension without the dot, lower case
  std::uint32_t file_size;      // low 32 bits
  std::uint32_t reserved1;
  std::int64_t created;
  std::int64_t modified;  // last update with "touch"
  std::int64_t identified;
  std::int64_t reported;
  std::int64_t played;
  std::int64_t played_itunes;
  std::int64_t date_added;  // iTunes "Date Added"
  std::int64_t file_created;
  std::int64_t file_accessed;
  std::int64_t file_modified;
  std::int32_t play_count;
  std::int32_t play_count_itunes;
  std::int32_t match_quality;  // 1 = authoritative match
  char gn_id[64];
  char title[128];
  char album[128];
  char artist[128];
  char genre[32];
  char year[6];
  char extra1[32];
  char extra2[6];
  char extra3[32];
  char label[48];  // writers store at most 32 bytes
  std::int32_t beats_per_minute;
  std::int32_t track_number;
  std::int32_t track_count;
  std::int32_t duration;
  std::int32_t bit_rate;
  std::int32_t sample_rate;
  std::int32_t sample_size;
  std::uint32_t reserved2;
};

static_assert(sizeof(DBHeader) == kDbHeaderSize);
static_assert(offsetof(DBHeader, version) == 8 && offsetof(DBHeader, header_size) == 12 &&
              offsetof(DBHeader, record_size) == 16 && offsetof(DBHeader, valid_count) == 20 &&
              offsetof(DBHeader, empty_count) == 24 && offsetof(DBHeader, reserved) == 28);

static_assert(sizeof(DBEntry) == kDbRecordSize);
static_assert(offsetof(DBEntry, version) == 4 && offsetof(DBEntry, record_size) == 8 &&
              offsetof(DBEntry, flags) == 12 && offsetof(DBEntry, kiv_id) == 16 &&
              offsetof(DBEntry, path) == 24 && offsetof(DBEntry, file_type) == 544 &&
              offsetof(DBEntry, file_size) == 560 && offsetof(DBEntry, reserved1) == 564);
static_assert(offsetof(DBEntry, created) == 568 && offsetof(DBEntry, modified) == 576 &&
              offsetof(DBEntry, identified) == 584 && offsetof(DBEntry, reported) == 592 &&
              offsetof(DBEntry, played) == 600 && offsetof(DBEntry, played_itunes) == 608 &&
              offsetof(DBEntry, date_added) == 616 && offsetof(DBEntry, file_created) == 624 &&
              offsetof(DBEntry, file_accessed) == 632 && offsetof(DBEntry, file_modified) == 640);
static_assert(offsetof(DBEntry, play_count) == 648 && offsetof(DBEntry, play_count_itunes) == 652 &&
              offsetof(DBEntry, match_quality) == 656 && offsetof(DBEntry, gn_id) == 660 &&
              offsetof(DBEntry, title) == 724 && offsetof(DBEntry, album) == 852 &&
              offsetof(DBEntry, artist) == 980 && offsetof(DBEntry, genre) == 1108 &&
              offsetof(DBEntry, year) == 1140 && offsetof(DBEntry, extra1) == 1146 &&
              offsetof(DBEntry, extra2) == 1178 && offsetof(DBEntry, extra3) == 1184 &&
              offsetof(DBEntry, label) == 1216);
static_assert(offsetof(DBEntry, beats_per_minute) == 1264 &&
              offsetof(DBEntry, track_number) == 1268 && offsetof(DBEntry, track_count) == 1272 &&
              offsetof(DBEntry, duration) == 1276 && offsetof(DBEntry, bit_rate) == 1280 &&
              offsetof(DBEntry, sample_rate) == 1284 && offsetof(DBEntry, sample_size) == 1288 &&
              offsetof(DBEntry, reserved2) == 1292);

// A header image with zero counts.
DBHeader MakeDBHeader();

// The fresh record: all zero except magic, version, record size, and
// created = modified = `now`.
DBEntry MakeFreshEntry(std::int64_t now);
// Makes `*entry` that record in place (no copy of a whole record).
void ResetEntry(DBEntry* entry, std::int64_t now);

// True when the record's size field is 1296 and it starts with "KIV"; logs
// why not otherwise. A null record is invalid (not logged).
bool ValidEntry(const DBEntry* entry);

// A record boundary: at or after the header, not beyond `length`, and a
// whole number of records from the header.
constexpr bool IsRecordBoundary(std::uint64_t pos, std::uint64_t length) {
  return pos >= kDbHeaderSize && pos <= length && (pos - kDbHeaderSize) % kDbRecordSize == 0;
}

// The record's path as UTF-8, up to its terminator (all 260 units when it
// has none).
std::string EntryPath(const DBEntry& entry);
// The same into `*out`, a buffer reused for many records.
void EntryPathInto(const DBEntry& entry, std::string* out);
// True when the path field holds a terminator.
bool EntryPathTerminated(const DBEntry& entry);
// Stores `path` when it is valid UTF-8 and fits with its terminator (at most
// 259 UTF-16 units); otherwise leaves the field alone and returns false.
// A path cut to fit would name another file, so it is never stored cut.
bool SetEntryPath(DBEntry& entry, std::string_view path);

// A narrow text field up to its first NUL (the whole field when full).
std::string EntryText(const char* field, std::size_t size);
template <std::size_t N>
std::string EntryText(const char (&field)[N]) {
  return EntryText(field, N);
}
// Stores the longest prefix of `text` that fits without cutting a UTF-8
// character, zero-filling the rest of the field.
void SetEntryText(char* field, std::size_t size, std::string_view text);
template <std::size_t N>
void SetEntryText(char (&field)[N], std::string_view text) {
  SetEntryText(field, N, text);
}
