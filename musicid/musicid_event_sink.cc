#include "musicid/musicid_event_sink.h"

#include <cstdlib>

#include "app/agent.h"
#include "app/agent_kinds.h"
#include "app/format.h"
#include "app/message_loop.h"
#include "app/messages.h"
#include "db/kiv_db.h"
#include "musicid/cddb_module_loader.h"
#include "musicid/match_reader.h"
#include "musicid/musicid_log.h"

using musicid::Log;
using musicid::LogDetail;

namespace {

// A run this large is stopped this close to its end, so that its last
// album is not split between two runs.
constexpr long kEarlyStopTotal = 1000;
constexpr long kEarlyStopRemaining = 100;
// Text fields read from the record are converted up to this many characters.
constexpr std::size_t kTagTextChars = 1024;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsMatch(long code) {
  return code == kCddbMatchExact || code == kCddbMatchFuzzy || code == kCddbMatchMultiple;
}

std::string CountsText(const char* what, const CddbListCounts& c) {
  return StrFormat("%s: complete=%ld total=%ld exact=%ld fuzzy=%ld nomatch=%ld error=%ld", what,
                   c.complete, c.total, c.exact, c.fuzzy, c.nomatch, c.error);
}

}  // namespace

MusicIDEventSink::MusicIDEventSink(CAgent* agent, KivDB* database,
                                   const MusicIdEnvironment& environment)
    : agent_(agent), database_(database), env_(environment) {}

void MusicIDEventSink::Post(UINT message, LPARAM value, std::string text) {
  if (env_.main_window)
    env_.main_window->PostMessage(message, kJobMusicIdActivity, value, std::move(text));
}

bool MusicIDEventSink::AgentQuits() { return agent_ != nullptr && agent_->CheckQuit(); }

void MusicIDEventSink::OnCancelCheck(long* cancel) {
  if (AgentQuits()) {
    if (cancel) *cancel = 1;
    Log(LEVEL_INFO, "OnTrackIDStatusUpdate: CheckQuit=TRUE. Cancelling MusicID.");
  }
}

void MusicIDEventSink::OnTrackIDStatusUpdate(long status, const char* item, long current,
                                             long total, long* cancel) {
  OnCancelCheck(cancel);
  const std::string detail = item ? item : "";
  bool processing = false;
  switch (status) {
    case kCddbStatusQuerying:
    case 6:
      LogDetail(LEVEL_VERBOSE, "MusicID status: STATUS_ALBUMID_Querying", detail);
      Post(WM_STATUS_PROGRESS_TEXT, 0, StrFormat("%ld/%ld Querying...", current, total));
      Post(WM_STATUS_PROGRESS_POS, current);
      break;
    case kCddbStatusQueried:
      LogDetail(LEVEL_VERBOSE, "MusicID status: STATUS_ALBUMID_Queried", detail);
      break;
    case kCddbStatusProcessing:
      LogDetail(LEVEL_VERBOSE, "MusicID status: STATUS_ALBUMID_Processing", detail);
      processing = true;
      break;
    case kCddbStatusProcessed:
      LogDetail(LEVEL_VERBOSE, "MusicID status: STATUS_ALBUMID_Processed", detail);
      processing = true;
      break;
    case kCddbStatusAnalyzingWaveForm:
      LogDetail(LEVEL_VERBOSE, "MusicID status: STATUS_MUSICID_AnalyzingWaveForm", detail);
      break;
    default:
      break;
  }
  if (processing != processing_) {
    processing_ = processing;
    if (processing) Post(WM_STATUS_PROGRESS_TEXT, 0, "Processing...");
  }
}

void MusicIDEventSink::OnLibraryIDListStarted(ICddbList* list, const CddbListCounts& counts) {
  Log(LEVEL_VERBOSE, CountsText("MusicID LibraryIDList STARTED", counts));
  long n = 0;
  if (list == nullptr || FAILED(list->GetCount(&n))) return;
  Post(WM_STATUS_PROGRESS_POS, 0);
  Post(WM_STATUS_PROGRESS_RANGE, n);
  Post(WM_STATUS_PROGRESS_TEXT, 0, StrFormat("%ld/%ld", counts.complete + 1, counts.complete + n));
  if (database_ == nullptr) return;
  for (long i = 1; i <= n; ++i) {
    CddbPtr<ICddbListItem> item;
    std::string path;
    if (FAILED(list->GetItem(i, item.Out())) || !item || FAILED(item->GetFilePath(&path)) ||
        path.empty() || database_->LookupEntry(path) == 0)
      continue;
    database_->ModifyEntry(path, [](DBEntry& entry) {
      entry.flags |= DBFLAG_MUSICID_INUSE;
      return true;
    });
  }
}

void MusicIDEventSink::StoreItem(ICddbListItem* item) {
  std::string path;
  long code = 0;
  if (item == nullptr || FAILED(item->GetFilePath(&path)) || path.empty() ||
      FAILED(item->GetMatchCode(&code)) || database_->LookupEntry(path) == 0)
    return;
  if (code == kCddbMatchNotQueried) {
    // The service was never asked about this file: the attempt did not
    // happen, so the file stays due for identification.
    database_->ModifyEntry(path, [](DBEntry& entry) {
      entry.flags &= ~DBFLAG_MUSICID_INUSE;
      return true;
    });
    return;
  }
  std::optional<MatchFields> match;
  if (IsMatch(code)) {
    match = ReadMatch(item, CddbLoader());
    // A match that cannot be read is no outcome: the record stays as it is
    // stored, and the file is tried again by a later run.
    if (!match) {
      LogDetail(LEVEL_WARNING, "MusicID match could not be read", path);
      return;
    }
  }
  const std::int64_t now = platform::NowAsStoredTime(env_.clock->WallTime());
  database_->ModifyEntry(path, [&](DBEntry& entry) {
    entry.flags &= ~DBFLAG_MUSICID_INUSE;
    entry.identified = now;
    entry.match_quality = static_cast<std::int32_t>(code);
    if (match) {
      StoreMatch(*match, &entry);
      entry.flags &= ~DBFLAG_ITUNESDATA;
      entry.flags |= DBFLAG_IDENTIFIED;
      entry.modified = now;
    }
    return true;
  });
  Post(WM_STATUS_EVENT, 0,
       StrFormat(match ? "Identified: %s" : "Could not identify: %s", BaseName(path).c_str()));
}

void MusicIDEventSink::OnLibraryIDListComplete(ICddbList* list, const CddbListCounts& counts,
                                               long* cancel) {
  Log(LEVEL_VERBOSE, CountsText("MusicID LibraryIDList COMPLETE", counts));
  long n = 0;
  if (list != nullptr && database_ != nullptr && SUCCEEDED(list->GetCount(&n))) {
    for (long i = 1; i <= n; ++i) {
      CddbPtr<ICddbListItem> item;
      if (SUCCEEDED(list->GetItem(i, item.Out()))) StoreItem(item.get());
    }
    database_->Flush();
    if (env_.main_window) env_.main_window->PostMessage(WM_AGENT_REQUEST, ID_AGENT_SERVER, 0);
  }
  if (agent_ == nullptr) return;
  if (counts.total >= kEarlyStopTotal && counts.total - counts.complete <= kEarlyStopRemaining) {
    if (cancel) *cancel = 1;
    Log(LEVEL_INFO,
        "OnLibraryIDListComplete: Stopping LibraryID early to help avoid breaking last album.");
  }
  if (AgentQuits()) {
    if (cancel) *cancel = 1;
    Log(LEVEL_INFO, "OnLibraryIDListComplete: CheckQuit=TRUE. Cancelling MusicID.");
  }
}

void MusicIDEventSink::OnLibraryIDComplete(const CddbListCounts&) {
  Log(LEVEL_INFO, "MusicID LibraryID COMPLETE");
}

HRESULT MusicIDEventSink::OnGetFingerprint(const char* path, ICddbFingerprintReceiver* receiver,
                                           long* cancel) {
  KivClientMusicID* wrapper = MusicIdWrapper();
  if (wrapper == nullptr || path == nullptr) return E_FAIL;
  LogDetail(LEVEL_INFO, "MusicID fingerprint GET", path);
  std::atomic<std::int32_t> cancelled{cancel ? static_cast<std::int32_t>(*cancel) : 0};
  std::string fingerprint;
  HRESULT hr = wrapper->GenerateFingerprint(path, &fingerprint, &cancelled);
  if (SUCCEEDED(hr) && !fingerprint.empty() && receiver != nullptr) {
    hr = receiver->SetFingerprint(fingerprint.c_str());
    LogDetail(LEVEL_INFO, SUCCEEDED(hr) ? "MusicID fingerprint OK" : "MusicID fingerprint FAILED",
              path);
    return hr;
  }
  LogDetail(LEVEL_INFO, "MusicID fingerprint FAILED", path);
  return FAILED(hr) ? hr : E_FAIL;
}

HRESULT MusicIDEventSink::OnGetFileInfo(const char* path, ICddbFileInfoReceiver* receiver) {
  KivClientMusicID* wrapper = MusicIdWrapper();
  if (wrapper == nullptr || path == nullptr) return E_FAIL;
  LogDetail(LEVEL_INFO, "MusicID tag info GET", path);
  HRESULT hr = E_FAIL;
  CddbPtr<ICddbFileTag> tag;
  CddbModuleLoader* loader = wrapper->loader();
  if (loader) hr = loader->CreateObject(CLSID_CddbFileTag, IID_ICddbFileTag, tag.OutVoid());
  if (tag) {
    KivDB db;
    DBEntry entry;
    hr = E_FAIL;
    if (db.IsReady() && db.GetEntry(path, &entry)) {
      auto set = [&](CddbField field, std::string text) {
        if (text.empty()) return;
        if (text.size() > kTagTextChars) text.resize(kTagTextChars);
        tag->SetText(field, text.c_str());
      };
      set(CddbField::kAlbum, EntryText(entry.album));
      set(CddbField::kArtist, EntryText(entry.artist));
      set(CddbField::kTitle, EntryText(entry.title));
      set(CddbField::kYear, EntryText(entry.year));
      set(CddbField::kGenre, EntryText(entry.genre));
      set(CddbField::kGnId, EntryText(entry.gn_id));
      tag->SetText(CddbField::kTrackNumber, std::to_string(entry.track_number).c_str());
      hr = receiver ? receiver->SetFileInfo(tag.get()) : E_POINTER;
    }
  } else if (SUCCEEDED(hr)) {
    hr = E_FAIL;
  }
  LogDetail(LEVEL_INFO, SUCCEEDED(hr) ? "MusicID tag info OK" : "MusicID tag info FAILED", path);
  return hr;
}
