// SendHistoryCounts and SendPlayCounts: the play history imported from
// iTunes (HistoryWide) and the plays counted by the play monitor
// (PlayedWide), one track per call, with the five-minute wait that a
// retry-later answer imposes on a track.
#include <algorithm>

#include "app/format.h"
#include "app/string_table.h"
#include "db/kiv_db.h"
#include "server/transmit_internal.h"
#include "server/transmit_write_back.h"

using transmit::Log;

namespace {

constexpr transmit::StepTexts kHistoryTexts{
    "AgentTransmit: Sending history counts",
    "SendHistoryCounts: offline or no login credentials. Can not transmit.",
    "AgentTransmit: failed creating kivDB. Can not transmit.",
    "PathList is empty so no history will be sent"};

constexpr transmit::StepTexts kPlayTexts{
    "AgentTransmit: Sending playcounts",
    "SendPlayCounts: offline or no login credentials. Can not transmit.",
    "AgentTransmit: failed creating kivDB. Can not transmit.",
    "PathList is empty so no plays will be sent"};

constexpr std::uint32_t kRetryDelayMs = static_cast<std::uint32_t>(kPlayRetrySeconds) * 1000;

}  // namespace

bool AgentTransmit::CollectCopies(KivDB& db, DWORD flag, std::vector<DBEntry>* copies) {
  const std::int64_t now = Now();
  const KivDB::SummaryTest marked = [flag](const RecordSummary& s) {
    return s.has_kiv_id && (s.flags & flag) != 0;
  };
  DBEntry entry;
  for (std::uint32_t pos = db.GetFirstEntry(&entry, marked); pos != 0;
       pos = db.GetNextEntry(&entry, marked)) {
    if (CheckQuit()) return false;
    if (entry.kiv_id == 0 || !(entry.flags & flag)) continue;
    if (flag == DBFLAG_HISTORY && (entry.flags & DBFLAG_PLAYEDRETRY)) {
      // History waits out a retry-later answer too; once the wait is over
      // the copy goes without the mark (the record keeps it until written).
      if (!(now - entry.reported > kPlayRetrySeconds)) continue;
      entry.flags &= ~DBFLAG_PLAYEDRETRY;
    }
    copies->push_back(entry);
  }
  return true;
}

bool AgentTransmit::SendHistoryCounts() {
  SearchPathMap paths;
  bool result = true;
  std::unique_ptr<KivDB> db = BeginStep(kHistoryTexts, &paths, &result);
  if (!db) return result;

  std::vector<DBEntry> copies;
  if (!CollectCopies(*db, DBFLAG_HISTORY, &copies) || copies.empty()) return true;
  std::stable_sort(copies.begin(), copies.end(), [](const DBEntry& a, const DBEntry& b) {
    return a.played_itunes < b.played_itunes;
  });

  for (DBEntry& copy : copies) {
    if (CheckQuit()) return true;
    const std::string path = EntryPath(copy);
    if (FindEnabledPath(paths, path) == 0) continue;
    const int r = SendHistoryRequest(&copy, db.get());
    if (r > 0) {
      // The count sent leaves out a play that PlayedWide still has to send.
      const int count = (copy.flags & DBFLAG_PLAYED) && copy.play_count > 1 ? copy.play_count - 1
                                                                            : copy.play_count;
      const std::string text = StrFormat(LoadStringResource(IDS_TRANSMIT_SENT_HISTORY), count,
                                         transmit::FileName(copy).c_str());
      PostEvent(text);
      Log(LEVEL_INFO, text);
      copy.flags &= ~DBFLAG_HISTORY;
      if (!(copy.flags & DBFLAG_PLAYED)) copy.flags &= ~DBFLAG_PLAYEDRETRY;
      copy.flags |= DBFLAG_REPORTED;
      copy.reported = Now();
      WriteBackSent(*db, copy, SentKind::kHistory);
    } else if (copy.flags & DBFLAG_PLAYEDRETRY) {
      // The server asked to try later: the wait starts now.
      RequestRelaunch(kRetryDelayMs);
      copy.flags |= DBFLAG_REPORTED;
      copy.reported = Now();
      WriteBackSent(*db, copy, SentKind::kHistory);
    } else {
      HandleSendResult(r, "Failed SendHistoryRequest", path);
      if (r < 0) return false;
    }
  }
  return true;
}

bool AgentTransmit::SendPlayCounts() {
  SearchPathMap paths;
  bool result = true;
  std::unique_ptr<KivDB> db = BeginStep(kPlayTexts, &paths, &result);
  if (!db) return result;

  std::vector<DBEntry> copies;
  if (!CollectCopies(*db, DBFLAG_PLAYED, &copies) || copies.empty()) return true;
  std::stable_sort(copies.begin(), copies.end(),
                   [](const DBEntry& a, const DBEntry& b) { return a.played < b.played; });

  // The shortest wait asked of the controller so far (seconds; 0 = none).
  std::int64_t min_wait = 0;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    if (CheckQuit()) return true;
    DBEntry& copy = copies[i];
    const std::string path = EntryPath(copy);
    if (FindEnabledPath(paths, path) == 0) continue;

    if (copy.flags & DBFLAG_PLAYEDRETRY) {
      const std::int64_t now = Now();
      if (now - copy.reported > kPlayRetrySeconds) {
        copy.flags &= ~DBFLAG_PLAYEDRETRY;
      } else {
        std::int64_t remaining = copy.reported - now + kPlayRetrySeconds;
        if (remaining < 0 || remaining > kPlayRetrySeconds) remaining = kPlayRetrySeconds;
        if (min_wait == 0 || remaining < min_wait) {
          min_wait = remaining;
          RequestRelaunch(static_cast<std::uint32_t>(remaining * 1000));
        }
      }
    }

    if ((copy.flags & DBFLAG_PLAYED) && !(copy.flags & DBFLAG_PLAYEDRETRY)) {
      const int r = SendNowPlayingRequest(&copy, db.get());
      if (r > 0) {
        const std::string text = StrFormat(LoadStringResource(IDS_TRANSMIT_SENT_PLAYING),
                                           transmit::FileName(copy).c_str());
        PostEvent(text);
        Log(LEVEL_INFO, text);
        copy.flags &= ~DBFLAG_PLAYED;
        copy.flags |= DBFLAG_REPORTED;
        copy.reported = Now();
        WriteBackSent(*db, copy, SentKind::kPlay);
      } else if (copy.kiv_id == 0) {
        // Not found: the track is unsent again and will be described anew.
      } else if (copy.flags & DBFLAG_PLAYEDRETRY) {
        PostEvent(StrFormat(LoadStringResource(IDS_TRANSMIT_PLAYS_POSTPONED),
                            transmit::FileName(copy).c_str()));
        if (min_wait == 0) RequestRelaunch(kRetryDelayMs);
        copy.flags |= DBFLAG_REPORTED;
        copy.reported = Now();
        WriteBackSent(*db, copy, SentKind::kPlay);
      } else {
        HandleSendResult(r, "Failed SendNowPlayingRequest", path);
        if (r < 0) return false;
      }
    }

    // Plays go in the order they happened: once one has to wait, the later
    // ones wait behind it.
    if (copy.flags & DBFLAG_PLAYEDRETRY) {
      ListWaitingPlays(copies, i);
      return true;
    }
  }
  return true;
}

void AgentTransmit::ListWaitingPlays(const std::vector<DBEntry>& copies, std::size_t after) {
  bool header = false;
  for (std::size_t j = after + 1; j < copies.size(); ++j) {
    if (copies[j].flags & DBFLAG_PLAYEDRETRY) continue;
    if (!header) {
      PostEvent(LoadStringResource(IDS_TRANSMIT_PLAYS_WAITING));
      header = true;
    }
    PostEvent(transmit::FileName(copies[j]));
  }
}
