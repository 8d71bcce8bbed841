#include "musicid/agent_musicid.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <random>
#include <thread>

#include "app/format.h"
#include "app/identification_state.h"
#include "app/messages.h"
#include "app/search_paths.h"
#include "db/kiv_db.h"
#include "musicid/kiv_client_musicid.h"
#include "musicid/musicid_log.h"
#include "platform/clock.h"
#include "platform/network.h"

using musicid::Log;

namespace {

constexpr const char* kUseMusicIdValue = "UseMusicID";
// When the identification failures in a row began (seconds since the
// epoch), kept while they last.
constexpr const char* kFailingSinceValue = "IdentifyFailingSince";

bool ContainsAny(const std::string& text, std::initializer_list<const char*> words) {
  return std::any_of(words.begin(), words.end(),
                     [&](const char* w) { return text.find(w) != std::string::npos; });
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string TimeText(std::int64_t t) {
  return platform::FormatLocalTime(static_cast<std::time_t>(t), "%Y-%m-%d %H:%M:%S");
}

// Copies the fields GetTagEntry fills from `from` into `to`.
void CopyTagFields(const DBEntry& from, DBEntry& to) {
  std::copy(std::begin(from.artist), std::end(from.artist), std::begin(to.artist));
  std::copy(std::begin(from.album), std::end(from.album), std::begin(to.album));
  std::copy(std::begin(from.title), std::end(from.title), std::begin(to.title));
  std::copy(std::begin(from.year), std::end(from.year), std::begin(to.year));
  std::copy(std::begin(from.genre), std::end(from.genre), std::begin(to.genre));
  std::copy(std::begin(from.gn_id), std::end(from.gn_id), std::begin(to.gn_id));
  to.track_number = from.track_number;
}

// The process-wide wrapper for this run: the one that exists, else a new
// one, initialised. Null when it cannot be had; `result` tells why.
KivClientMusicID* ObtainWrapper(const MusicIdEnvironment& env,
                                std::unique_ptr<KivClientMusicID>* owned, HRESULT* result) {
  *result = S_OK;
  if (KivClientMusicID* existing = MusicIdWrapper()) return existing;
  Log(LEVEL_VERBOSE, "AgentMusicID: Initializing KivClientMusicID");
  *owned = std::make_unique<KivClientMusicID>(env);
  SetMusicIdWrapper(owned->get());
  *result = (*owned)->Initialise();
  if (FAILED(*result)) {
    Log(LEVEL_ERROR, "AgentMusicID: KivClientMusicID initialization failed");
    return nullptr;
  }
  return owned->get();
}

}  // namespace

AgentMusicID::AgentMusicID(const AgentContext& context, AgentMusicIDOptions options)
    : context_(context), options_(std::move(options)) {
  if (!options_.settings) options_.settings = &AppSettings();
}

void AgentMusicID::ReportUnavailable(const std::string& reason) {
  NoteIdentificationUnavailable(reason);
  options_.settings->DeleteValue(kSubKeySettings, kFailingSinceValue);
  Log(LEVEL_WARNING,
      "AgentMusicID: identification cannot run: " + reason + " Tracks are sent unidentified.");
  context_.PostToMainWindow(WM_STATUS_EVENT, kJobMusicId, 0,
                            "Cannot perform music identification. " + reason);
  context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_SERVER, 0);
}

void AgentMusicID::ScheduleRetry(const std::string& reason, std::int64_t retry_after) {
  const std::time_t now = context_.clock->WallTime();
  // The beginning of the failures outlives a restart, so that restarting
  // every day does not hold the tracks for ever.
  DWORD stored_since = 0;
  const bool failing = GetIdentificationStatus().failing_since != 0;
  if (!failing) options_.settings->ReadDword(kSubKeySettings, kFailingSinceValue, stored_since);
  const IdentificationStatus status =
      NoteIdentificationFailed(reason, now, retry_after, static_cast<std::int64_t>(stored_since));
  if (static_cast<std::int64_t>(stored_since) != status.failing_since && !failing)
    options_.settings->WriteDword(kSubKeySettings, kFailingSinceValue,
                                  static_cast<DWORD>(status.failing_since));
  const std::int64_t delay = std::max<std::int64_t>(1, status.next_attempt - now);
  const std::string next = TimeText(status.next_attempt);
  if (status.state == IdentificationState::kGivenUp) {
    Log(LEVEL_WARNING,
        StrFormat("AgentMusicID: identification failed again: %s It has failed since %s, so "
                  "tracks are sent unidentified; next attempt at %s.",
                  reason.c_str(), TimeText(status.failing_since).c_str(), next.c_str()));
    context_.PostToMainWindow(WM_STATUS_EVENT, kJobMusicId, 0,
                              "Identification has failed for a day: tracks are sent "
                              "unidentified. " +
                                  reason);
    context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_SERVER, 0);
  } else {
    Log(LEVEL_WARNING, StrFormat("AgentMusicID: identification failed: %s New tracks are held "
                                 "back; next attempt at %s (attempt %d).",
                                 reason.c_str(), next.c_str(), status.failures + 1));
    context_.PostToMainWindow(
        WM_STATUS_EVENT, kJobMusicId, 0,
        "Identification failed, new tracks wait: " + reason + " Next attempt at " + next + ".");
  }
  context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_MUSICID, static_cast<LPARAM>(delay * 1000));
}

void AgentMusicID::NoteRan() {
  if (GetIdentificationStatus().state != IdentificationState::kRuns)
    Log(LEVEL_INFO, "AgentMusicID: identification runs again");
  NoteIdentificationRan();
  options_.settings->DeleteValue(kSubKeySettings, kFailingSinceValue);
}

int AgentMusicID::Run() {
  DWORD use_music_id = 0;
  options_.settings->ReadDword(kSubKeySettings, kUseMusicIdValue, use_music_id);
  if (use_music_id == 0) {
    Log(LEVEL_INFO, "AgentMusicID: Not using MusicID. Cancelling identification.");
    context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_SERVER, 0);
    return 1;
  }
  Log(LEVEL_INFO, "AgentMusicID: Starting identification");
  KivDB db;
  if (!db.IsReady()) {
    Log(LEVEL_ERROR, "AgentMusicID: failed openning kivDB. Can not continue identification.");
    return 1;
  }
  const bool online = options_.is_online ? options_.is_online() : platform::HasConnectedInterface();
  if (!online) {
    context_.PostToMainWindow(WM_STATUS_EVENT, kJobMusicId, 0,
                              "Cannot perform music identification. No Internet connection.");
    Log(LEVEL_INFO, "AgentMusicID: IsOnline returned FALSE. Can not continue identification.");
    return 1;
  }
  std::minstd_rand lottery(
      static_cast<std::uint_fast32_t>(std::hash<std::thread::id>{}(std::this_thread::get_id())));
  SearchPathMap paths;
  LoadSearchPaths(paths, *options_.settings);
  if (paths.empty()) {
    Log(LEVEL_WARNING, "PathList is empty so no files will identified");
    return 1;
  }

  MusicIdEnvironment env;
  env.settings = options_.settings;
  env.main_window = context_.main_window;
  env.clock = context_.clock;
  env.folder = options_.component_folder;
  std::unique_ptr<KivClientMusicID> owned;
  KivClientMusicID* wrapper = nullptr;
  HRESULT wrapper_result = S_OK;

  const KivDB::SummaryTest unidentified = [](const RecordSummary& s) {
    return !(s.flags & DBFLAG_IDENTIFIED);
  };
  DBEntry entry;
  bool stopped = false;
  for (std::uint32_t pos = db.GetFirstEntry(&entry, unidentified); pos != 0;
       pos = db.GetNextEntry(&entry, unidentified)) {
    if (counts_.queued >= kMusicIdMaxQueued) break;
    // Each record may cost a read of its file's tags.
    if (CheckQuit()) {
      stopped = true;
      break;
    }
    context_.clock->SleepMs(1);
    const std::string path = EntryPath(entry);
    if (entry.flags & DBFLAG_IDENTIFIED) continue;
    if (entry.modified <= entry.identified) continue;
    if (FindEnabledPath(paths, path) == 0) continue;
    DBEntry tagged = entry;
    if (db.GetTagEntry(&tagged, TRUE) == S_OK) {
      db.ModifyEntry(path, [&](DBEntry& stored) {
        CopyTagFields(tagged, stored);
        return true;
      });
      entry = tagged;
    }
    if (entry.identified != 0) continue;
    const std::int64_t now = platform::NowAsStoredTime(context_.clock->WallTime());
    if (Lower(EntryText(entry.file_type)) == "m4p") {
      // Protected files cannot be decoded: the attempt ends here for good.
      db.ModifyEntry(path, [&](DBEntry& stored) {
        stored.identified = now;
        return true;
      });
      ++counts_.updated;
      continue;
    }
    const std::string genre = Lower(EntryText(entry.genre));
    if (!genre.empty() && ContainsAny(genre, {"podcast", "book", "spoken"})) {
      db.ModifyEntry(path, [](DBEntry& stored) {
        stored.flags |= DBFLAG_DONTREPORT;
        return true;
      });
      ++counts_.updated;
      continue;
    }
    ++counts_.candidates;
    if ((entry.flags & DBFLAG_MUSICID_INUSE) && lottery() % 4 == 1) {
      ++counts_.deferred;
      continue;
    }
    if (entry.flags & (DBFLAG_NOTINPATH | DBFLAG_DELETED)) continue;
    if (wrapper == nullptr) {
      wrapper = ObtainWrapper(env, &owned, &wrapper_result);
      if (wrapper == nullptr) break;
    }
    if (SUCCEEDED(wrapper->AddFile(path))) ++counts_.queued;
  }

  if (counts_.updated != 0) context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_SERVER, 0);
  bool can_run = true;
  if (FAILED(wrapper_result)) {
    ReportUnavailable(owned ? owned->FailureReason(wrapper_result)
                            : std::string("The identification component failed."));
    can_run = false;
  } else if (owned && counts_.queued != 0 && !stopped) {
    can_run = IdentifyQueued(db);
  } else if (counts_.candidates == 0 && !stopped) {
    // Nothing waits for identification any more: no retry is needed.
    const IdentificationState state = GetIdentificationStatus().state;
    if (state == IdentificationState::kRetrying || state == IdentificationState::kGivenUp)
      NoteRan();
  }
  if (owned) {
    owned->Shutdown();
    owned.reset();
    SetMusicIdWrapper(nullptr);
  }
  Log(LEVEL_INFO, StrFormat("AgentMusicID: queued=%d updated=%d candidates=%d deferred=%d",
                            counts_.queued, counts_.updated, counts_.candidates, counts_.deferred));
  const bool run_again = counts_.queued >= kMusicIdMaxQueued ||
                         (counts_.deferred >= 1 && counts_.deferred < counts_.candidates);
  if (can_run && run_again && !CheckQuit())
    context_.PostToMainWindow(WM_AGENT_REQUEST, ID_AGENT_MUSICID, 0);
  return 1;
}

bool AgentMusicID::IdentifyQueued(KivDB& db) {
  KivClientMusicID* wrapper = MusicIdWrapper();
  context_.PostToMainWindow(WM_STATUS_PROGRESS_TEXT, kJobMusicId, 0,
                            StrFormat("%d to identify", counts_.queued));
  HRESULT hr = S_OK;
  try {
    hr = wrapper->IdentifyAll(this, &db);
  } catch (...) {
    Log(LEVEL_CRITICAL, "Fatal exception in MusicID.");
    ++counts_.deferred;
  }
  context_.PostToMainWindow(WM_STATUS_DONE, kJobMusicId, 0);
  const std::string reason = wrapper->FailureReason(hr);
  if (reason.empty()) {
    NoteRan();
    return true;
  }
  if (KivClientMusicID::IsPassingFailure(hr))
    ScheduleRetry(reason, wrapper->RetryAfterSeconds());
  else
    ReportUnavailable(reason);
  return false;
}

void RegisterMusicIdAgent(AgentJobRegistry& jobs, AgentMusicIDOptions options) {
  jobs.Register(AGENT_MUSICID, [options](const AgentContext& context) -> std::unique_ptr<CAgent> {
    return std::make_unique<AgentMusicID>(context, options);
  });
}
