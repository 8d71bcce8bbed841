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
    case SentKind::kHistory:
      CarryFlags(record, sent, DBFLAG_REPORTED | DBFLAG_HISTORY | DBFLAG_PLAYEDRETRY);
      break;
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
  DBEntry current;
  if (!db.GetEntry(EntryPath(sent), &current)) {
    DBEntry copy = sent;
    return db.UpdateEntry(&copy, FALSE);
  }
  DBEntry merged = MergeSent(current, sent, kind);
  return db.UpdateEntry(&merged, FALSE);
}
