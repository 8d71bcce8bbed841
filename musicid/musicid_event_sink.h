// MusicIDEventSink: receives the MusicID object's events during a library
// identification run. It reports status to the log and the status page,
// supplies each file's fingerprint and locally known tags when asked,
// stores every result in the file's record (through the engine's atomic
// read-modify-write) and cancels the run when the agent is asked to stop,
// or near the end of a large run.
//
// Thread safety: created by KivClientMusicID::IdentifyAll; its events
// arrive on the agent's thread during that call. The reference count is
// atomic.
#pragma once

#include <string>

#include "app/messages.h"
#include "musicid/cddb_object.h"
#include "musicid/kiv_client_musicid.h"

inline constexpr WPARAM kJobMusicIdActivity = 4;

class MusicIDEventSink : public CddbObject<ICddbMusicIDEvents, IID_ICddbMusicIDEvents> {
 public:
  MusicIDEventSink(CAgent* agent, KivDB* database, const MusicIdEnvironment& environment);

  void OnCancelCheck(long* cancel) override;
  void OnTrackIDStatusUpdate(long status, const char* item, long current, long total,
                             long* cancel) override;
  void OnLibraryIDListStarted(ICddbList* list, const CddbListCounts& counts) override;
  void OnLibraryIDListComplete(ICddbList* list, const CddbListCounts& counts,
                               long* cancel) override;
  void OnLibraryIDComplete(const CddbListCounts& counts) override;
  HRESULT OnGetFingerprint(const char* path, ICddbFingerprintReceiver* receiver,
                           long* cancel) override;
  HRESULT OnGetFileInfo(const char* path, ICddbFileInfoReceiver* receiver) override;

 private:
  // Stores one item of a completed list in its record.
  void StoreItem(ICddbListItem* item);
  void Post(UINT message, LPARAM value, std::string text = {});
  bool AgentQuits();

  CAgent* agent_;
  KivDB* database_;
  MusicIdEnvironment env_;
  bool processing_ = false;
};
