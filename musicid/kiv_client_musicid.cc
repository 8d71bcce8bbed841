#include "musicid/kiv_client_musicid.h"

#include <exception>
#include <new>

#include "app/format.h"
#include "media/decoder.h"
#include "media/tag_reader.h"
#include "musicid/cddb_module_loader.h"
#include "musicid/musicid_checks.h"
#include "musicid/musicid_event_sink.h"
#include "musicid/musicid_log.h"
#include "platform/folders.h"
#include "platform/network.h"

using musicid::Log;
using musicid::LogDetail;

namespace {

// The client identity the component is given.
constexpr const char* kClientId = "4081937";
constexpr const char* kClientTag = "5C1D7E20B94F0A63D8E2147AC09B3F6E";
constexpr long kSetUpFlags = 0xF000;
constexpr long kRunFlags = 0x1F000;
constexpr long kLibraryIdFlags = 0x1110;
constexpr std::size_t kMaxFolderChars = 260;

std::atomic<KivClientMusicID*> g_wrapper{nullptr};

// Feeds decoded audio to one of the component's fingerprinters.
class FingerprinterSink : public ISampleSink {
 public:
  explicit FingerprinterSink(ICddbFingerprinter* fingerprinter) : fp_(fingerprinter) {}
  void StreamSeconds(long seconds) override { fp_->SetStreamSeconds(seconds); }
  void OutputFormat(DWORD* rate, DWORD* channels) const override {
    *rate = kFingerprintRate;
    *channels = kFingerprintChannels;
  }
  HRESULT Begin(DWORD rate, DWORD bits, DWORD channels) override {
    return fp_->Begin(rate, bits, channels);
  }
  HRESULT Write(const void* buffer, DWORD bytes) override { return fp_->Write(buffer, bytes); }
  HRESULT Finish(void* output) override { return fp_->Finish(static_cast<std::string*>(output)); }

 private:
  ICddbFingerprinter* fp_;
};

}  // namespace

KivClientMusicID* MusicIdWrapper() { return g_wrapper.load(); }
void SetMusicIdWrapper(KivClientMusicID* wrapper) { g_wrapper.store(wrapper); }

KivClientMusicID::KivClientMusicID(MusicIdEnvironment environment) : env_(std::move(environment)) {}

KivClientMusicID::~KivClientMusicID() {
  Shutdown();
  KivClientMusicID* self = this;
  g_wrapper.compare_exchange_strong(self, nullptr);
}

CddbModuleLoader* KivClientMusicID::loader() const {
  return env_.loader ? env_.loader : CddbLoader();
}

HRESULT KivClientMusicID::Initialise() {
  const std::string folder = env_.folder.empty() ? platform::ModuleDir() : env_.folder;
  if (folder.empty() || folder.size() > kMaxFolderChars) return E_INVALIDARG;
  CddbModuleLoader* modules = loader();
  if (modules == nullptr) return E_FAIL;
  HRESULT hr = modules->CreateObject(CLSID_CddbControl, IID_ICddbControl, control_.OutVoid());
  if (FAILED(hr) || !control_) return FAILED(hr) ? hr : E_FAIL;
  hr = modules->CreateObject(CLSID_CddbMusicID, IID_ICddbMusicID, music_id_.OutVoid());
  if (FAILED(hr) || !music_id_) return FAILED(hr) ? hr : E_FAIL;
  hr = music_id_->Attach(control_.get());
  if (FAILED(hr)) return hr;
  hr = CheckVersions();
  if (FAILED(hr)) return hr;
  SetOnlineSwitch();
  return SetUpClient(folder);
}

HRESULT KivClientMusicID::CheckVersions() {
  std::string control_version;
  std::string music_id_version;
  HRESULT hr = control_->GetVersion(&control_version);
  if (FAILED(hr)) return hr;
  hr = music_id_->GetVersion(&music_id_version);
  if (FAILED(hr)) return hr;
  if (control_version.empty() || music_id_version.empty()) return CDDBSTATUS_EMPTY_VERSION;
  hr = CheckComponentVersion(control_version, "CDDBControl", kMinControlVersion);
  if (FAILED(hr)) return hr;
  return CheckComponentVersion(music_id_version, "CddbMusicID", kMinMusicIdVersion);
}

HRESULT KivClientMusicID::SetOnlineSwitch() {
  CddbPtr<ICddbOptions> options;
  HRESULT hr = control_->GetOptions(options.Out());
  if (FAILED(hr) || !options) return FAILED(hr) ? hr : E_FAIL;
  options->SetNumber(CddbOption::kOnlineLookup, 1);
  return control_->SetOptions(options.get());
}

HRESULT KivClientMusicID::SetUpClient(const std::string& folder) {
  HRESULT hr = control_->SetClientInfo(kClientId, kClientTag, "1", "");
  if (FAILED(hr)) return hr;
  std::string url = kDefaultIdentifyUrl;
  std::string key;
  env_.settings->ReadString(kSubKeySettings, kIdentifyUrlValue, url);
  env_.settings->ReadString(kSubKeySettings, kIdentifyClientKeyValue, key);
  CddbPtr<ICddbOptions> options;
  hr = control_->GetOptions(options.Out());
  if (FAILED(hr) || !options) return FAILED(hr) ? hr : E_FAIL;
  options->SetText(CddbOption::kFolder, folder.c_str());
  options->SetNumber(CddbOption::kFlags, kSetUpFlags);
  options->SetNumber(CddbOption::kProgressEvents, 1);
  options->SetNumber(CddbOption::kLocalOnly, 0);
  options->SetNumber(CddbOption::kCacheResults, 0);
  options->SetNumber(CddbOption::kPromptUser, 0);
  options->SetText(CddbOption::kLookupUrl, url.c_str());
  options->SetText(CddbOption::kClientKey, key.c_str());
  hr = control_->SetOptions(options.get());
  if (FAILED(hr)) return hr;
  control_->SetWindow(env_.main_window, kSetUpFlags);
  bool ready = false;
  hr = control_->IsReady(&ready);
  if (SUCCEEDED(hr) && !ready) hr = control_->SetUp(nullptr);
  return hr;
}

HRESULT KivClientMusicID::ApplyProxy() {
  if (!control_) return S_OK;
  CddbPtr<ICddbOptions> options;
  HRESULT hr = control_->GetOptions(options.Out());
  if (FAILED(hr) || !options) return FAILED(hr) ? hr : E_FAIL;
  ProxySetting proxy;
  const std::string setting = platform::SystemProxySetting();
  if (!setting.empty()) proxy = ParseProxySetting(setting);
  options->SetText(CddbOption::kProxyHost, proxy.host.c_str());
  options->SetNumber(CddbOption::kProxyPort, proxy.port);
  options->SetText(CddbOption::kProxyUser, proxy.user.c_str());
  options->SetText(CddbOption::kProxyPassword, proxy.password.c_str());
  return control_->SetOptions(options.get());
}

HRESULT KivClientMusicID::AddFile(const std::string& path) {
  if (path.empty()) return E_INVALIDARG;
  if (!music_id_) return E_FAIL;
  return music_id_->AddFile(path.c_str());
}

HRESULT KivClientMusicID::IdentifyAll(CAgent* agent, KivDB* database) {
  if (!music_id_ || !control_) return E_FAIL;
  if (sink_ == nullptr) {
    sink_ = new (std::nothrow) MusicIDEventSink(agent, database, env_);
    if (sink_ == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = music_id_->Advise(sink_, &cookie_);
    if (FAILED(hr)) {
      sink_->Release();
      sink_ = nullptr;
      return hr;
    }
  }
  SetOnlineSwitch();
  ApplyProxy();
  CddbPtr<ICddbOptions> options;
  HRESULT hr = control_->GetOptions(options.Out());
  if (SUCCEEDED(hr) && options) {
    options->SetNumber(CddbOption::kFlags, kRunFlags);
    options->SetNumber(CddbOption::kLocalOnly, 0);
    control_->SetOptions(options.get());
  }
  return music_id_->IdentifyLibrary(kLibraryIdFlags);
}

void KivClientMusicID::Shutdown() {
  if (music_id_) {
    music_id_->Stop();
    if (sink_) {
      music_id_->Unadvise(cookie_);
      sink_->Release();
      sink_ = nullptr;
    }
    music_id_->Close();
    music_id_.Reset();
  }
  if (control_) {
    control_->Close();
    control_.Reset();
  }
}

HRESULT KivClientMusicID::GenerateFingerprint(const std::string& path, std::string* fingerprint,
                                              const std::atomic<std::int32_t>* cancel) {
  if (fingerprint == nullptr) return E_POINTER;
  if (!music_id_) return E_FAIL;
  try {
    CTagReaderRef reader;
    CddbPtr<ICddbFingerprinter> fingerprinter;
    HRESULT hr = music_id_->NewFingerprinter(fingerprinter.Out());
    if (FAILED(hr) || !fingerprinter) return FAILED(hr) ? hr : E_FAIL;
    FingerprinterSink sink(fingerprinter.get());
    hr = DecodeToSink(path, &sink, fingerprint, cancel);
    // A file shorter than the fingerprinter wants ends before it has
    // answered "enough": the fingerprint is made from what it has.
    if (SUCCEEDED(hr) && fingerprint->empty()) hr = fingerprinter->Finish(fingerprint);
    return hr;
  } catch (const std::exception&) {
  } catch (...) {
  }
  LogDetail(LEVEL_CRITICAL, "Fatal error generating fingerprint for", path);
  return E_FAIL;
}

std::int64_t KivClientMusicID::RetryAfterSeconds() const {
  if (!control_) return 0;
  CddbPtr<ICddbOptions> options;
  long seconds = 0;
  if (SUCCEEDED(control_->GetOptions(options.Out())) && options)
    options->GetNumber(CddbOption::kRetryAfter, &seconds);
  return seconds > 0 ? seconds : 0;
}

std::string KivClientMusicID::FailureReason(HRESULT hr) const {
  if (SUCCEEDED(hr) || hr == E_ABORT) return {};
  switch (hr) {
    case CDDBSTATUS_NO_CLIENT_KEY:
      return "No client key is set for the identification service (IdentifyClientKey).";
    case CDDBSTATUS_SERVICE_UNAVAILABLE:
      return "The identification service cannot be reached.";
    case CDDBSTATUS_CLIENT_KEY_REFUSED:
      return "The identification service refused the client key.";
    default:
      break;
  }
  CddbModuleLoader* modules = loader();
  if (modules == nullptr || !modules->Usable(CddbModule::kControl) ||
      !modules->Usable(CddbModule::kMusicId))
    return "The identification component is not installed.";
  return StrFormat("The identification component failed (0x%08X).", static_cast<unsigned>(hr));
}
