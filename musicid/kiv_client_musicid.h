// KivClientMusicID: the program's side of the identification component.
// It creates and checks the component's control and MusicID objects,
// gives them the client identity, the lookup service's address and key
// (settings IdentifyUrl and IdentifyClientKey), the proxy and the option
// values, queues files, and runs one whole-library identification, whose
// events its sink (musicid_event_sink.h) handles.
//
// At most one wrapper exists per process: the MusicID agent creates it for
// a run and publishes it (SetMusicIdWrapper) so that the sink's callbacks
// find it; Shutdown and destruction end it.
//
// Thread safety: every call, and every event of the run, happens on the
// MusicID agent's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/reg_settings.h"
#include "musicid/cddb_object.h"
#include "platform/clock.h"

class CAgent;
class CddbModuleLoader;
class KivDB;
class MessageLoop;
class MusicIDEventSink;

inline constexpr const char* kIdentifyUrlValue = "IdentifyUrl";
inline constexpr const char* kIdentifyClientKeyValue = "IdentifyClientKey";
inline constexpr const char* kDefaultIdentifyUrl = "https://api.acoustid.org/v2/lookup";

// What the wrapper works with; the program's by default.
struct MusicIdEnvironment {
  CddbModuleLoader* loader = nullptr;  // null: the process-wide loader
  CRegSettings* settings = &AppSettings();
  MessageLoop* main_window = nullptr;  // null: no main window
  platform::Clock* clock = &platform::SystemClock();
  // The folder the component is told about (empty: the program folder).
  std::string folder;
};

class KivClientMusicID {
 public:
  explicit KivClientMusicID(MusicIdEnvironment environment = {});
  ~KivClientMusicID();
  KivClientMusicID(const KivClientMusicID&) = delete;
  KivClientMusicID& operator=(const KivClientMusicID&) = delete;

  // Creates the objects, checks their versions, sets options and client.
  HRESULT Initialise();
  // Queues one file; E_INVALIDARG for an empty path.
  HRESULT AddFile(const std::string& path);
  // Connects the sink (first call) and identifies everything queued;
  // returns when the run has ended.
  HRESULT IdentifyAll(CAgent* agent, KivDB* database);
  // Ends the run and releases everything.
  void Shutdown();
  // Decodes `path` and fingerprints it with a new fingerprinter of the
  // MusicID object. A set `cancel` ends the decoding with E_ABORT.
  HRESULT GenerateFingerprint(const std::string& path, std::string* fingerprint,
                              const std::atomic<std::int32_t>* cancel);

  // Why identification cannot run, for the log and the status page, after
  // `hr` failed Initialise or IdentifyAll; empty when `hr` is not such a
  // failure (a stop, a success).
  std::string FailureReason(HRESULT hr) const;
  // True when `hr` is a failure that may pass (the service unreachable,
  // failing or busy): worth another attempt later.
  static bool IsPassingFailure(HRESULT hr) { return hr == CDDBSTATUS_SERVICE_UNAVAILABLE; }
  // After such a failure: the seconds the service asked to wait (0: none).
  std::int64_t RetryAfterSeconds() const;

  CddbModuleLoader* loader() const;
  const MusicIdEnvironment& environment() const { return env_; }

 private:
  HRESULT CheckVersions();
  HRESULT SetOnlineSwitch();
  HRESULT SetUpClient(const std::string& folder);
  HRESULT ApplyProxy();

  MusicIdEnvironment env_;
  CddbPtr<ICddbControl> control_;
  CddbPtr<ICddbMusicID> music_id_;
  MusicIDEventSink* sink_ = nullptr;  // one reference while connected
  DWORD cookie_ = 0;
};

// The process-wide wrapper (not owned); null when none exists.
KivClientMusicID* MusicIdWrapper();
void SetMusicIdWrapper(KivClientMusicID* wrapper);
