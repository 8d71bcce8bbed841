// SendIndexedEntries: describes the tracks the server does not know yet in
// IndexBatch calls between IndexStart and IndexStop, and stores the kiv id
// of every track the server accepted right after the call.
#include <algorithm>
#include <iterator>
#include <new>
#include <unordered_set>
#include <vector>

#include "app/controller_state.h"
#include "app/format.h"
#include "app/identification_state.h"
#include "app/string_table.h"
#include "db/kiv_db.h"
#include "server/connectivity.h"
#include "server/server_session.h"
#include "server/transmit_internal.h"
#include "server/transmit_unsendable.h"
#include "server/transmit_write_back.h"

using transmit::Log;
using transmit::LogDetail;

namespace {

constexpr transmit::StepTexts kIndexTexts{
    "AgentTransmit: Sending new/updated entries",
    "SendIndexedEntries: PreparedToSend failed. Cancelling transmit.",
    "AgentTransmit: KivDB not ready. Cancelling transmit.",
    "PathList is empty so no files will be sent"};

constexpr const char* kQuitLine = "SendIndexedEntries: CheckQuit=TRUE. Cancelling transmit.";
constexpr const char* kOfflineLine =
    "SendIndexedEntries: client went offline. Cancelling transmit.";

constexpr DWORD kNeverSent = DBFLAG_NOTINPATH | DBFLAG_DELETED | DBFLAG_DONTREPORT;

// A record that carries only the path and the file type of `entry`.
DBEntry BlankRecord(const DBEntry& entry) {
  DBEntry blank = MakeFreshEntry(0);
  blank.created = blank.modified = 0;
  std::copy(std::begin(entry.path), std::end(entry.path), std::begin(blank.path));
  std::copy(std::begin(entry.file_type), std::end(entry.file_type), std::begin(blank.file_type));
  return blank;
}

}  // namespace

bool AgentTransmit::IsCandidate(const DBEntry& entry, bool played_only,
                                const SearchPathMap& paths) const {
  if (entry.kiv_id != 0) return false;
  if (played_only && entry.play_count == 0) return false;
  // With identification in use a track waits until the identification
  // agent has looked at it since it was last reported (a track once sent
  // is never sent again, so it is held through passing failures), unless
  // identification cannot run for good, or has failed for a day: then it
  // goes unidentified.
  if (use_music_id_ != 0 && !IdentificationReleasesTracks() && !(entry.identified > entry.reported))
    return false;
  if (entry.flags & kNeverSent) return false;
  return FindEnabledPath(paths, EntryPath(entry)) != 0;
}

bool AgentTransmit::SendIndexedEntries(bool played_only) {
  SearchPathMap paths;
  bool result = true;
  bool refused = false;
  std::unique_ptr<KivDB> db = BeginStep(kIndexTexts, &paths, &result, &refused);
  if (!db) {
    if (refused && played_only) PostEvent(LoadStringResource(IDS_TRANSMIT_UNAVAILABLE));
    return result;
  }

  // Counting pass, over the records that may be candidates. A candidate
  // found unsendable by an earlier job, whose file did not change since, is
  // skipped as the sending pass would skip it, without reading its tags
  // again.
  const KivDB::SummaryTest may_be_candidate = [played_only](const RecordSummary& s) {
    return !s.has_kiv_id && !(s.flags & kNeverSent) && (!played_only || s.played);
  };
  IndexPass pass;
  std::unordered_set<std::string> unsendable;
  std::vector<std::uint32_t> skipped_at;  // in file order
  DBEntry entry;
  for (std::uint32_t pos = db->GetFirstEntry(&entry, may_be_candidate); pos != 0;
       pos = db->GetNextEntry(&entry, may_be_candidate)) {
    if (CheckQuit()) {
      Log(LEVEL_INFO, kQuitLine);
      return false;
    }
    if (!IsCandidate(entry, played_only, paths)) continue;
    const std::string path = EntryPath(entry);
    if (!(entry.flags & DBFLAG_IDENTIFIED) && transmit::StillUnsendable(path)) {
      unsendable.insert(path);
      skipped_at.push_back(pos);
    } else {
      ++pass.to_send;
    }
  }
  if (pass.to_send == 0) return true;
  // The progress display's counts, over every record whatever its folder;
  // a skipped candidate counts as reported.
  const KivDB::SummaryTest reported = [](const RecordSummary& s) {
    return (s.flags & DBFLAG_REPORTED) != 0;
  };
  const KivDB::SummaryTest unsent = [](const RecordSummary& s) {
    return !(s.flags & (DBFLAG_REPORTED | kNeverSent));
  };
  pass.reported = static_cast<int>(db->CountWhere(reported, skipped_at) + skipped_at.size());
  pass.unsent = static_cast<int>(db->CountWhere(unsent, skipped_at));
  if (CheckQuit()) {
    Log(LEVEL_INFO, kQuitLine);
    return false;
  }

  GetBatchSizeStep();
  if (!IndexSessionOpen()) {
    Log(LEVEL_INFO, StrFormat("Prepared to send index start request for %u entries",
                              static_cast<unsigned>(pass.to_send)));
    const int r = SendIndexStartRequest(pass.to_send, *context_.clock);
    if (r < 1) {
      HandleSendResult(r, "Failed SendIndexStartRequest. Cancelling transmit.");
      return false;
    }
    SetIndexSessionOpen(true);
  }
  PostProgress(pass, true);

  // No more elements than there are candidates: a server may ask for
  // batches far larger than the collection.
  const int capacity = std::min(batch_size_, pass.to_send);
  try {
    pass.elements.assign(static_cast<std::size_t>(capacity), BatchIndexData_t{});
  } catch (const std::bad_alloc&) {
    Log(LEVEL_CRITICAL, "new BatchIndexData_t failed: out of memory");
    return false;
  }

  // Sending pass, over the records in database order again.
  for (std::uint32_t pos = db->GetFirstEntry(&entry, may_be_candidate);
       pos != 0 && pass.processed < pass.to_send && pass.leave.empty();
       pos = db->GetNextEntry(&entry, may_be_candidate)) {
    // Every record may cost a read of its file's tags, and a run of records
    // without artist or title sends nothing: the stop is looked at here, not
    // only between batches.
    if (CheckQuit()) {
      pass.leave = kQuitLine;
      break;
    }
    if (!IsCandidate(entry, played_only, paths)) continue;
    if (!unsendable.empty() && unsendable.count(EntryPath(entry)) != 0) continue;
    BatchIndexData_t& element = pass.elements[static_cast<std::size_t>(pass.n)];
    DBEntry blank = BlankRecord(entry);
    if (entry.flags & DBFLAG_IDENTIFIED) {
      // The identification service's tags describe the track; the file's
      // own tags travel beside them.
      db->GetTagEntry(&blank, FALSE);
      element.gracenote = entry;
      element.user = blank;
      element.record = &element.gracenote;
    } else {
      const std::string path = EntryPath(entry);
      platform::FileInfo before;
      const bool looked = platform::StatFile(path, &before);
      db->GetTagEntry(&entry, FALSE);
      if (entry.artist[0] == 0 || entry.title[0] == 0) {
        LogDetail(LEVEL_INFO, "SendIndexedEntries: entry has no artist/title to send", path);
        if (looked) transmit::RememberUnsendable(path, before);
        --pass.to_send;
        --pass.unsent;
        ++pass.reported;
        // The skipped record may have been the last one the gathered
        // elements were waiting for.
        if (pass.n > 0 && pass.processed + pass.n == pass.to_send && !SendBatch(*db, pass))
          return false;
        continue;
      }
      element.gracenote = blank;
      element.user = entry;
      element.record = &element.user;
    }
    ++pass.n;
    const bool full = pass.n == batch_size_ || pass.n == capacity;
    if ((full || pass.processed + pass.n == pass.to_send) && !SendBatch(*db, pass)) return false;
  }
  // Candidates that vanished between the two passes (another agent changed
  // the records) leave gathered elements behind: they are sent all the same.
  if (pass.n > 0 && pass.leave.empty() && !SendBatch(*db, pass)) return false;
  if (!pass.leave.empty()) Log(LEVEL_INFO, pass.leave);
  pass.elements.clear();

  if (IndexSessionOpen() && (pass.unsent <= 0 || ControllerShuttingDown())) {
    Log(LEVEL_INFO, "Prepared to send index stop request");
    const int r = SendIndexStopRequest();
    if (r < 1) {
      HandleSendResult(r, "Failed SendIndexStopRequest");
      return false;
    }
    SetIndexSessionOpen(false);
  }
  return true;
}

bool AgentTransmit::SendBatch(KivDB& db, IndexPass& pass) {
  WaitRateLimit();
  if (CheckQuit()) {
    pass.leave = kQuitLine;
    return true;
  }
  const int r = SendIndexBatchRequest(pass.elements.data(), pass.n);
  NoteRateLimitedCallEnded();
  if (r < 1) {
    HandleSendResult(r, "Failed SendIndexBatchRequest. Cancelling transmit.");
    return false;
  }
  const std::int64_t now = Now();
  for (int i = 0; i < pass.n; ++i) {
    BatchIndexData_t& element = pass.elements[static_cast<std::size_t>(i)];
    // An element without an identifier was not accepted: it stays unsent
    // and the next job offers it again.
    if (element.kiv_id == 0) continue;
    DBEntry& record = *element.record;
    LogDetail(LEVEL_INFO,
              (record.flags & DBFLAG_REPORTED) ? "Sending updated file to server successful."
                                               : "Sending new file to server successful.",
              EntryPath(record));
    PostEvent(StrFormat(LoadStringResource(IDS_TRANSMIT_SENT), transmit::FileName(record).c_str()));
    record.flags |= DBFLAG_REPORTED;
    record.kiv_id = static_cast<std::uint64_t>(element.kiv_id);
    record.reported = now;
    WriteBackSent(db, record, SentKind::kIndexed);
    --pass.unsent;
    ++pass.reported;
  }
  pass.processed += pass.n;
  for (int i = 0; i < pass.n; ++i) pass.elements[static_cast<std::size_t>(i)] = BatchIndexData_t{};
  pass.n = 0;
  if (CheckQuit())
    pass.leave = kQuitLine;
  else if (!IsAuthenticated())
    pass.leave = kOfflineLine;
  PostProgress(pass, false);
  return true;
}

void AgentTransmit::PostProgress(const IndexPass& pass, bool with_range) {
  const int total = pass.reported + pass.unsent;
  context_.PostToMainWindow(
      WM_STATUS_PROGRESS_TEXT, kJobTransmit, 0,
      StrFormat(LoadStringResource(IDS_TRANSMIT_PROGRESS), pass.reported, total));
  if (with_range)
    context_.PostToMainWindow(WM_STATUS_PROGRESS_RANGE, kJobTransmit, total);
  else
    context_.PostToMainWindow(WM_STATUS_PROGRESS_POS, kJobTransmit, pass.reported);
}
