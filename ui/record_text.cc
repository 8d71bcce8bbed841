#include "ui/record_text.h"

#include <ctime>

#include "app/format.h"
#include "app/string_table.h"
#include "platform/clock.h"

namespace {

struct FlagName {
  DWORD flag;
  const char* name;
};

constexpr FlagName kFlagNames[] = {
    {DBFLAG_VALID, "DBFLAG_VALID"},           {DBFLAG_REPORTED, "DBFLAG_REPORTED"},
    {DBFLAG_IDENTIFIED, "DBFLAG_IDENTIFIED"}, {DBFLAG_HISTORY, "DBFLAG_HISTORY"},
    {DBFLAG_ITUNESDATA, "DBFLAG_ITUNESDATA"}, {DBFLAG_PLAYLIST, "DBFLAG_PLAYLIST"},
    {DBFLAG_NOTINPATH, "DBFLAG_NOTINPATH"},   {DBFLAG_DELETED, "DBFLAG_DELETED"},
    {DBFLAG_DONTREPORT, "DBFLAG_DONTREPORT"}, {DBFLAG_MUSICID_INUSE, "DBFLAG_MUSICID_INUSE"},
    {DBFLAG_PLAYED, "DBFLAG_PLAYED"},         {DBFLAG_PLAYEDRETRY, "DBFLAG_PLAYEDRETRY"},
};

// History plays are dated five minutes back.
constexpr std::int64_t kHistoryOffset = 300;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

}  // namespace

std::string StoredTimeText(std::int64_t stored_time) {
  if (stored_time == 0) return "0";
  std::tm tm{};
  if (!platform::TryLocalTime(static_cast<std::time_t>(stored_time), &tm)) return "";
  char buffer[64];
  const std::size_t n =
      std::strftime(buffer, sizeof buffer, LoadStringResource(IDS_TIME_TEXT_FORMAT), &tm);
  return std::string(buffer, n);
}

std::string SummaryText(DWORD entries, DWORD free_slots,
                        const std::vector<std::string>& extensions) {
  std::string joined;
  for (const std::string& extension : extensions) joined += (joined.empty() ? "" : ":") + extension;
  return StrFormat("Entries: %u   Free: %u\r\nSupported Extensions:\r\n", entries, free_slots) +
         joined;
}

std::string FlagNames(DWORD flags) {
  std::string text;
  for (const FlagName& f : kFlagNames)
    if (flags & f.flag) text += std::string(f.name) + "\r\n";
  return text;
}

std::string RecordText(const std::string& path, const DBEntry* entry) {
  const std::string name = BaseName(path);
  if (!entry) return "Filename: " + name + "\r\nNot In Database";
  const std::string gn_id = EntryText(entry->gn_id);
  return "Filename: " + name + "\r\nFormat: " + Upper(EntryText(entry->file_type)) +
         "\r\nKIV ID: " + std::to_string(entry->kiv_id) +
         "\r\nGN ID: " + (gn_id.empty() ? "no ID" : gn_id) +
         "\r\n\r\nModified: " + StoredTimeText(entry->modified) +
         "\r\nIdentified: " + StoredTimeText(entry->identified) +
         "\r\nReported: " + StoredTimeText(entry->reported) +
         "\r\nPlayed: " + StoredTimeText(entry->played) +
         "\r\nPlayed (iTunes): " + StoredTimeText(entry->played_itunes) +
         "\r\n\r\nPlay Count: " + std::to_string(entry->play_count) +
         "\r\nPlay Count (iTunes): " + std::to_string(entry->play_count_itunes) +
         "\r\n\r\nTrack: " + EntryText(entry->title) + "\r\nAlbum: " + EntryText(entry->album) +
         "\r\nArtist: " + EntryText(entry->artist) + "\r\nGenre: " + EntryText(entry->genre) +
         "\r\nYear: " + EntryText(entry->year) +
         "\r\nTrack #: " + std::to_string(entry->track_number) + "\r\n\r\nFlags:\r\n" +
         FlagNames(entry->flags);
}

void ApplyTesterChange(DBEntry& entry, TesterChange change, std::int64_t now) {
  switch (change) {
    case TesterChange::kPlay:
      entry.flags |= DBFLAG_PLAYED;
      ++entry.play_count;
      entry.played = now;
      if (entry.date_added == 0) entry.date_added = now;
      break;
    case TesterChange::kHistory:
      entry.flags |= DBFLAG_HISTORY;
      ++entry.play_count;
      entry.played = now - kHistoryOffset;
      if (entry.date_added == 0) entry.date_added = now - kHistoryOffset;
      break;
    case TesterChange::kSend:
      entry.flags &= ~DBFLAG_REPORTED;
      entry.kiv_id = 0;
      entry.reported = 0;
      break;
    case TesterChange::kDelete:
      entry.flags |= DBFLAG_DELETED;
      break;
  }
}
