#include "server/transmit_write_back.h"

#include "db/kiv_db.h"

namespace {

template <std::size_t N>
void FillIfEmpty(char (&field)[N], const char (&from)[N]) {
  if (field[0] == 0 && from[0] != 0) SetEntryText(field, EntryText(from));
}

void CarryFlags(DBEntry& record, const DBEntry& sent, DWORD mask) {
  record.flags = (record.flags & ~mask) | (sent.flags & mask);
}

}  // namespace

DBEntry MergeSent(const DBEntry& current, const DBEntry& sent, SentKind kind) {
  DBEntry record = current;
  record.kiv_id = sent.kiv_id;
  record.reported = sent.reported;
  switch (kind) {
    case SentKind::kIndexed:
      CarryFlags(record, sent, DBFLAG_REPORTED);
      FillIfEmpty(record.title, sent.title);
      FillIfEmpty(record.album, sent.album);
      FillIfEmpty(record.artist, sent.artist);
      FillIfEmpty(record.genre, sent.genre);
      FillIfEmpty(record.year, sent.year);
      if (record.track_number == 0) record.track_number = sent.track_number;
      break;
    case SentKind::kHistory: {
      // An import that raised the history during the call set the mark
      // again for plays the server has not been told of: it stays.
      const bool new_history = current.play_count_itunes != sent.play_count_itunes ||
                               current.played_itunes != sent.played_itunes;
      CarryFlags(record, sent,
                 DBFLAG_REPORTED | DBFLAG_PLAYEDRETRY | (new_history ? 0 : DBFLAG_HISTORY));
      break;
    }
    case SentKind::kPlay: {
      CarryFlags(record, sent, DBFLAG_REPORTED | DBFLAG_PLAYEDRETRY);
      const bool new_play = current.play_count != sent.play_count || current.played != sent.played;
      if (!(sent.flags & DBFLAG_PLAYED) && !new_play) record.flags &= ~DBFLAG_PLAYED;
      break;
    }
  }
  return record;
}

BOOL WriteBackSent(KivDB& db, const DBEntry& sent, SentKind kind) {
  return db.ModifyEntry(EntryPath(sent), [&](DBEntry& current) {
    current = MergeSent(current, sent, kind);
    return true;
  });
}
