// How the transmit agent stores what the server accepted. The agent works
// on copies of records taken before a call; the call may take seconds, and
// meanwhile other agents may change the same record (the play monitor
// counts a play, the indexer marks the file deleted). So the copy is not
// written over the record: the fields the agent owns for that kind of call
// are carried onto the record as it is on disk at the moment of writing.
//
// Pure functions except WriteBackSent, which uses the caller's database
// connection (any thread that owns it).
#pragma once

#include "db/db_format.h"
#include "platform/win_types.h"

class KivDB;

enum class SentKind {
  // IndexBatch: DBFLAG_REPORTED, kiv id, reported time, and the tags read
  // from the file where the record has none.
  kIndexed,
  // HistoryWide: DBFLAG_REPORTED, DBFLAG_PLAYEDRETRY, kiv id, reported
  // time; DBFLAG_HISTORY only when the iTunes play count and date are still
  // those that were sent.
  kHistory,
  // PlayedWide: DBFLAG_REPORTED, DBFLAG_PLAYEDRETRY, kiv id, reported time;
  // DBFLAG_PLAYED is cleared only when no play was counted since the copy
  // was taken (same play count and played time).
  kPlay,
};

// `current` with the changes of `sent` that `kind` owns.
DBEntry MergeSent(const DBEntry& current, const DBEntry& sent, SentKind kind);

// Merges into the record of sent's path under one hold of the database
// lock (ModifyEntry, no touch). A record that is gone is not created
// again: the write fails and the engine logs it.
BOOL WriteBackSent(KivDB& db, const DBEntry& sent, SentKind kind);
