#include "db/db_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "db/db_log.h"
#include "platform/text.h"

DBHeader MakeDBHeader() {
  DBHeader header;
  std::memset(&header, 0, sizeof header);
  std::memcpy(header.magic, "KIVDB", 5);
  header.version = kDbHeaderVersion;
  header.header_size = kDbHeaderSize;
  header.record_size = kDbRecordSize;
  return header;
}

DBEntry MakeFreshEntry(std::int64_t now) {
  DBEntry entry;
  ResetEntry(&entry, now);
  return entry;
}

void ResetEntry(DBEntry* entry, std::int64_t now) {
  std::memset(entry, 0, sizeof *entry);
  std::memcpy(entry->magic, "KIV", 3);
  entry->version = kDbEntryVersion;
  entry->record_size = kDbRecordSize;
  entry->created = now;
  entry->modified = now;
}

bool ValidEntry(const DBEntry* entry) {
  if (!entry) return false;
  if (entry->record_size != kDbRecordSize) {
    kivdb::DbLog(LEVEL_ERROR, "ValidEntry failed due to record size (%u instead of %u)",
                 entry->record_size, kDbRecordSize);
    return false;
  }
  if (std::memcmp(entry->magic, "KIV", 3) != 0) {
    kivdb::DbLog(LEVEL_ERROR, "ValidEntry failed due to magic (%c %c %c)", entry->magic[0],
                 entry->magic[1], entry->magic[2]);
    return false;
  }
  return true;
}

namespace {

std::size_t PathUnits(const DBEntry& entry) {
  // Four units at a time up to the four that hold the terminator.
  std::size_t n = 0;
  for (; n + 4 <= kDbPathUnits; n += 4) {
    std::uint64_t units;
    std::memcpy(&units, entry.path + n, sizeof units);
    if ((units - 0x0001000100010001u) & ~units & 0x8000800080008000u) break;
  }
  while (n < kDbPathUnits && entry.path[n] != 0) ++n;
  return n;
}

}  // namespace

std::string EntryPath(const DBEntry& entry) {
  return platform::Utf16ToUtf8(std::u16string_view(entry.path, PathUnits(entry)));
}

void EntryPathInto(const DBEntry& entry, std::string* out) {
  out->clear();
  platform::AppendUtf16AsUtf8(std::u16string_view(entry.path, PathUnits(entry)), out);
}

bool EntryPathTerminated(const DBEntry& entry) { return PathUnits(entry) < kDbPathUnits; }

bool SetEntryPath(DBEntry& entry, std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return false;
  // Most paths are ASCII: one code unit per byte, no conversion needed.
  // Checked before anything is written: a path refused leaves the record
  // as it was.
  if (path.size() < kDbPathUnits &&
      std::all_of(path.begin(), path.end(), [](char c) { return (c & 0x80) == 0; })) {
    for (std::size_t i = 0; i < path.size(); ++i) entry.path[i] = static_cast<char16_t>(path[i]);
    std::memset(entry.path + path.size(), 0, sizeof entry.path - path.size() * sizeof(char16_t));
    return true;
  }
  bool valid = true;
  std::u16string wide = platform::Utf8ToUtf16(path, &valid);
  if (!valid || wide.size() >= kDbPathUnits) return false;
  std::memset(entry.path, 0, sizeof entry.path);
  std::memcpy(entry.path, wide.data(), wide.size() * sizeof(char16_t));
  return true;
}

std::string EntryText(const char* field, std::size_t size) {
  return std::string(field, ::strnlen(field, size));
}

void SetEntryText(char* field, std::size_t size, std::string_view text) {
  std::string_view fit = platform::Utf8Prefix(text, size);
  std::memset(field, 0, size);
  std::memcpy(field, fit.data(), fit.size());
}
