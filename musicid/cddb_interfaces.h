// The object model of the identification component: the interfaces that the
// program and the component's modules (shared libraries loaded from the
// program folder by CddbModuleLoader) use to talk to each other. Objects
// are reference counted; an object handed out through an out-pointer
// carries one reference for the receiver. Text is UTF-8; out-texts are
// std::string, since the modules are built with the program.
//
// Thread safety: the component's objects are used on one thread at a time
// (the MusicID agent's); events arrive on the thread that runs
// IdentifyLibrary.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"

struct CddbGuid {
  std::uint32_t d1;
  std::uint16_t d2;
  std::uint16_t d3;
  std::uint8_t d4[8];
  friend bool operator==(const CddbGuid&, const CddbGuid&) = default;
};

// Class and interface identifiers of the objects the program creates.
inline constexpr CddbGuid CLSID_CddbControl = {
    0xF4BAFF02, 0xF907, 0x11D2, {0x8F, 0x8F, 0x00, 0xC0, 0x4F, 0x4C, 0x3B, 0x9F}};
inline constexpr CddbGuid IID_ICddbControl = {
    0x6740769B, 0x689B, 0x42E5, {0xB7, 0x11, 0x13, 0xA0, 0x83, 0xC2, 0x57, 0xCC}};
inline constexpr CddbGuid CLSID_CddbMusicID = {
    0x22C86DDD, 0x3456, 0x48F9, {0xB1, 0xB0, 0xE1, 0x4B, 0x79, 0x7F, 0xCC, 0xA0}};
inline constexpr CddbGuid IID_ICddbMusicID = {
    0xE8BD726B, 0x7ED0, 0x4781, {0x95, 0xE8, 0xFB, 0x41, 0x9D, 0x6F, 0xC5, 0x07}};
inline constexpr CddbGuid CLSID_CddbFileTag = {
    0xD734EAE8, 0x0810, 0x4513, {0x99, 0xB6, 0xDD, 0xAC, 0x4B, 0xC3, 0x0E, 0x29}};
inline constexpr CddbGuid IID_ICddbFileTag = {
    0x0306D2A8, 0xB7E2, 0x4EA2, {0xAD, 0xC6, 0x78, 0xF8, 0x0D, 0x65, 0xB1, 0xE2}};
inline constexpr CddbGuid CLSID_CddbResultBuilder = {
    0xDFEF3E96, 0xF1D4, 0x47CE, {0xA4, 0x29, 0x2C, 0xC8, 0xC1, 0x0D, 0xFD, 0xB6}};
inline constexpr CddbGuid IID_ICddbResultBuilder = {
    0xB2C767ED, 0x0E50, 0x4A1D, {0xAF, 0x6E, 0xEA, 0xF1, 0xF1, 0x6E, 0xB1, 0xC2}};
// The MusicID object's event interface.
inline constexpr CddbGuid IID_ICddbMusicIDEvents = {
    0x37641C48, 0x3EC4, 0x448C, {0x80, 0x03, 0xE2, 0x48, 0xC0, 0x47, 0x7C, 0x75}};
inline constexpr CddbGuid IID_ICddbUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr CddbGuid IID_ICddbClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Results beyond the common ones.
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
// The component's own statuses.
inline constexpr HRESULT CDDBSTATUS_EMPTY_VERSION = static_cast<HRESULT>(0xC2FE0005u);
inline constexpr HRESULT CDDBSTATUS_NO_CLIENT_KEY = static_cast<HRESULT>(0xC2FE0101u);
inline constexpr HRESULT CDDBSTATUS_SERVICE_UNAVAILABLE = static_cast<HRESULT>(0xC2FE0102u);
inline constexpr HRESULT CDDBSTATUS_CLIENT_KEY_REFUSED = static_cast<HRESULT>(0xC2FE0103u);
inline constexpr HRESULT CDDBSTATUS_NOT_ATTACHED = static_cast<HRESULT>(0xC2FE0104u);

// Match codes of a list item.
inline constexpr long kCddbMatchExact = 1;
inline constexpr long kCddbMatchNone = 2;
inline constexpr long kCddbMatchFuzzy = 3;
inline constexpr long kCddbMatchMultiple = 4;
// The service answered with an error for this file.
inline constexpr long kCddbMatchError = 5;
// The service was never asked about the file (it became unreachable, or
// the run was stopped first).
inline constexpr long kCddbMatchNotQueried = 6;

// Status codes of the status-update event.
inline constexpr long kCddbStatusQuerying = 3;
inline constexpr long kCddbStatusQueried = 7;
inline constexpr long kCddbStatusProcessing = 8;
inline constexpr long kCddbStatusProcessed = 9;
inline constexpr long kCddbStatusAnalyzingWaveForm = 10;

// Text fields of tags and results.
enum class CddbField {
  kArtist,
  kAlbum,
  kTitle,
  kYear,
  kGenre,
  kLabel,
  kExtra1,  // the release's primary type ("Album", "Single", ...)
  kExtra2,  // the service's score in percent
  kExtra3,  // the release's secondary types ("Compilation, Live")
  kGnId,    // the service's recording identifier
  kTrackNumber,
};

// Option slots of the options object.
enum class CddbOption {
  kFolder,          // text: the program folder
  kFlags,           // number
  kOnlineLookup,    // switch: lookups may use the network
  kProgressEvents,  // number: 1 = send status events
  kLocalOnly,       // number: 1 = never use the network
  kCacheResults,    // number
  kPromptUser,      // number
  kProxyHost,       // text
  kProxyPort,       // number
  kProxyUser,       // text
  kProxyPassword,   // text
  kLookupUrl,       // text: the lookup service's address
  kClientKey,       // text: the client key the lookup service knows us by
  kRetryAfter,      // number: seconds the service asked to wait, after a run
                    // that ended with CDDBSTATUS_SERVICE_UNAVAILABLE
};

class ICddbUnknown {
 public:
  virtual HRESULT QueryInterface(const CddbGuid& iid, void** out) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  ~ICddbUnknown() = default;
};

class ICddbClassFactory : public ICddbUnknown {
 public:
  virtual HRESULT CreateInstance(ICddbUnknown* outer, const CddbGuid& iid, void** out) = 0;
};

class ICddbOptions : public ICddbUnknown {
 public:
  virtual HRESULT SetText(CddbOption option, const char* value) = 0;
  virtual HRESULT SetNumber(CddbOption option, long value) = 0;
  virtual HRESULT GetText(CddbOption option, std::string* value) = 0;
  virtual HRESULT GetNumber(CddbOption option, long* value) = 0;
};

class ICddbControl : public ICddbUnknown {
 public:
  virtual HRESULT GetVersion(std::string* version) = 0;
  virtual HRESULT SetClientInfo(const char* client_id, const char* client_tag,
                                const char* client_version, const char* extra) = 0;
  // A copy of the current options; SetOptions stores one back.
  virtual HRESULT GetOptions(ICddbOptions** options) = 0;
  virtual HRESULT SetOptions(ICddbOptions* options) = 0;
  virtual HRESULT SetWindow(void* window, long flags) = 0;
  virtual HRESULT IsReady(bool* ready) = 0;
  // Makes the control object ready; fails with CDDBSTATUS_NO_CLIENT_KEY
  // while no client key is set.
  virtual HRESULT SetUp(const char* argument) = 0;
  virtual HRESULT Close() = 0;
};

class ICddbFileTag : public ICddbUnknown {
 public:
  // Reads the tags of a media file into the object.
  virtual HRESULT Load(const char* path) = 0;
  virtual HRESULT SetText(CddbField field, const char* value) = 0;
  virtual HRESULT GetText(CddbField field, std::string* value) = 0;
};

class ICddbTrackResult : public ICddbUnknown {
 public:
  virtual HRESULT GetText(CddbField field, std::string* value) = 0;
};

class ICddbAlbumResult : public ICddbUnknown {
 public:
  virtual HRESULT GetText(CddbField field, std::string* value) = 0;
  // The number of the track the list item was matched to.
  virtual HRESULT GetTrackNumber(long* number) = 0;
  virtual HRESULT GetTrack(long number, ICddbTrackResult** track) = 0;
};

class ICddbResultBuilder : public ICddbUnknown {
 public:
  virtual HRESULT MakeTrackResult(ICddbAlbumResult* album, long number,
                                  ICddbTrackResult** track) = 0;
};

class ICddbListItem : public ICddbUnknown {
 public:
  virtual HRESULT GetFilePath(std::string* path) = 0;
  virtual HRESULT GetMatchCode(long* code) = 0;
  // S_FALSE with a null track when the item has none.
  virtual HRESULT GetTrackResult(ICddbTrackResult** track) = 0;
  virtual HRESULT GetTrackNumber(long* number) = 0;
  virtual HRESULT GetAlbumResult(ICddbAlbumResult** album) = 0;
};

class ICddbList : public ICddbUnknown {
 public:
  virtual HRESULT GetCount(long* count) = 0;
  // Items are numbered from 1.
  virtual HRESULT GetItem(long index, ICddbListItem** item) = 0;
};

// The audio a fingerprinter works on: given at this rate in mono it is
// taken as it is; any other format is converted to it first.
inline constexpr DWORD kFingerprintRate = 11025;
inline constexpr DWORD kFingerprintChannels = 1;

class ICddbFingerprinter : public ICddbUnknown {
 public:
  virtual HRESULT Begin(DWORD sample_rate, DWORD bits_per_sample, DWORD channels) = 0;
  // 1 once enough audio was seen; negative on error.
  virtual HRESULT Write(const void* buffer, DWORD bytes) = 0;
  virtual HRESULT Finish(std::string* fingerprint) = 0;
  // The length of the whole file in seconds, from the decoder's stream
  // information (0: unknown); the lookup is made with it.
  virtual HRESULT SetStreamSeconds(long seconds) = 0;
};

class ICddbFingerprintReceiver : public ICddbUnknown {
 public:
  virtual HRESULT SetFingerprint(const char* fingerprint) = 0;
};

class ICddbFileInfoReceiver : public ICddbUnknown {
 public:
  virtual HRESULT SetFileInfo(ICddbFileTag* tag) = 0;
};

struct CddbListCounts {
  long complete = 0;
  long total = 0;
  long exact = 0;
  long fuzzy = 0;
  long nomatch = 0;
  long error = 0;
};

// The receiver of the MusicID object's events. A cancel flag is an
// out-value: setting it to 1 asks the component to stop the run.
class ICddbMusicIDEvents : public ICddbUnknown {
 public:
  virtual void OnCancelCheck(long* cancel) = 0;
  virtual void OnTrackIDStatusUpdate(long status, const char* item, long current, long total,
                                     long* cancel) = 0;
  virtual void OnLibraryIDListStarted(ICddbList* list, const CddbListCounts& counts) = 0;
  virtual void OnLibraryIDListComplete(ICddbList* list, const CddbListCounts& counts,
                                       long* cancel) = 0;
  virtual void OnLibraryIDComplete(const CddbListCounts& counts) = 0;
  virtual HRESULT OnGetFingerprint(const char* path, ICddbFingerprintReceiver* receiver,
                                   long* cancel) = 0;
  virtual HRESULT OnGetFileInfo(const char* path, ICddbFileInfoReceiver* receiver) = 0;
};

class ICddbMusicID : public ICddbUnknown {
 public:
  virtual HRESULT GetVersion(std::string* version) = 0;
  virtual HRESULT Attach(ICddbControl* control) = 0;
  virtual HRESULT AddFile(const char* path) = 0;
  virtual HRESULT Advise(ICddbMusicIDEvents* events, DWORD* cookie) = 0;
  virtual HRESULT Unadvise(DWORD cookie) = 0;
  // Identifies every file added; returns when the run has ended.
  virtual HRESULT IdentifyLibrary(long flags) = 0;
  virtual HRESULT NewFingerprinter(ICddbFingerprinter** fingerprinter) = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Close() = 0;
};

// The entry points a module exports (each may be absent).
extern "C" {
using CddbDllGetObjectFn = HRESULT (*)(const CddbGuid* clsid, const CddbGuid* iid, void** out);
using CddbDllGetClassObjectFn = HRESULT (*)(const CddbGuid* clsid, const CddbGuid* iid, void** out);
using CddbDllDisableComFalloverFn = void (*)(int disable);
using CddbDllSetHandleFn = HRESULT (*)(void* handle);
}
