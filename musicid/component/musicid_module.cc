// The component's MusicID module: the MusicID object (queue, event
// connection, library identification, fingerprinters) and the module's
// entry points.
#include <atomic>
#include <new>
#include <vector>

#include "musicid/component/library_run.h"

namespace cddb_component {
namespace {

constexpr const char* kMusicIdVersion = "CddbMusicID 2.4.1.0";
constexpr DWORD kCookie = 1;

class MusicId : public CddbObject<ICddbMusicID, IID_ICddbMusicID> {
 public:
  HRESULT GetVersion(std::string* version) override {
    if (version == nullptr) return E_POINTER;
    *version = kMusicIdVersion;
    return S_OK;
  }
  HRESULT Attach(ICddbControl* control) override {
    if (control == nullptr) return E_POINTER;
    control_ = CddbPtr<ICddbControl>::Share(control);
    return S_OK;
  }
  HRESULT AddFile(const char* path) override {
    if (path == nullptr) return E_POINTER;
    if (*path == 0) return E_INVALIDARG;
    files_.emplace_back(path);
    return S_OK;
  }
  HRESULT Advise(ICddbMusicIDEvents* events, DWORD* cookie) override {
    if (events == nullptr || cookie == nullptr) return E_POINTER;
    if (events_) return E_FAIL;  // one receiver at a time
    events_ = CddbPtr<ICddbMusicIDEvents>::Share(events);
    *cookie = kCookie;
    return S_OK;
  }
  HRESULT Unadvise(DWORD cookie) override {
    if (cookie != kCookie || !events_) return E_INVALIDARG;
    events_.Reset();
    return S_OK;
  }
  HRESULT IdentifyLibrary(long) override {
    if (!control_) return CDDBSTATUS_NOT_ATTACHED;
    bool ready = false;
    if (FAILED(control_->IsReady(&ready)) || !ready) return CDDBSTATUS_NO_CLIENT_KEY;
    CddbPtr<ICddbOptions> options;
    HRESULT hr = control_->GetOptions(options.Out());
    if (FAILED(hr)) return hr;
    RunSettings settings;
    long number = 0;
    options->GetText(CddbOption::kLookupUrl, &settings.request.url);
    options->GetText(CddbOption::kClientKey, &settings.request.client_key);
    options->GetText(CddbOption::kProxyHost, &settings.request.proxy_host);
    options->GetNumber(CddbOption::kProxyPort, &settings.request.proxy_port);
    options->GetText(CddbOption::kProxyUser, &settings.request.proxy_user);
    options->GetText(CddbOption::kProxyPassword, &settings.request.proxy_password);
    options->GetNumber(CddbOption::kOnlineLookup, &number);
    settings.network = number != 0;
    options->GetNumber(CddbOption::kLocalOnly, &number);
    if (number != 0) settings.network = false;

    stop_ = false;
    std::vector<std::string> files;
    files.swap(files_);
    if (!events_ || files.empty()) return S_OK;
    // The receiver stays alive through the run even if it is disconnected.
    CddbPtr<ICddbMusicIDEvents> events = events_;
    LibraryRun run(events.get(), std::move(settings), client_, stop_,
                   [this] { return last_fingerprinter_.get(); });
    hr = run.Run(files);
    // The service's wish travels back on the control object's options.
    if (hr == CDDBSTATUS_SERVICE_UNAVAILABLE) {
      options->SetNumber(CddbOption::kRetryAfter, static_cast<long>(run.retry_after()));
      control_->SetOptions(options.get());
    }
    return hr;
  }
  HRESULT NewFingerprinter(ICddbFingerprinter** fingerprinter) override {
    if (fingerprinter == nullptr) return E_POINTER;
    auto* made = new (std::nothrow) Fingerprinter();
    *fingerprinter = made;
    if (made == nullptr) return E_OUTOFMEMORY;
    last_fingerprinter_ = CddbPtr<Fingerprinter>::Share(made);
    return S_OK;
  }
  HRESULT Stop() override {
    stop_ = true;
    return S_OK;
  }
  HRESULT Close() override {
    stop_ = true;
    files_.clear();
    events_.Reset();
    control_.Reset();
    last_fingerprinter_.Reset();
    return S_OK;
  }

 private:
  CddbPtr<ICddbControl> control_;
  CddbPtr<ICddbMusicIDEvents> events_;
  CddbPtr<Fingerprinter> last_fingerprinter_;
  std::vector<std::string> files_;
  std::atomic<bool> stop_{false};
  LookupClient client_;
};

ICddbUnknown* MakeMusicId() { return new (std::nothrow) MusicId(); }

// The control module's handle, handed over by the loader.
void* g_control_module = nullptr;

}  // namespace
}  // namespace cddb_component

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(const CddbGuid* clsid,
                                                                 const CddbGuid* iid, void** out) {
  const bool ours = clsid != nullptr && *clsid == CLSID_CddbMusicID;
  return cddb_component::GetClassObject(ours ? &cddb_component::MakeMusicId : nullptr, iid, out);
}

__attribute__((visibility("default"))) void DllDisableCOMFallover(int) {}

__attribute__((visibility("default"))) HRESULT DllSetCddbHINST(void* control_module) {
  cddb_component::g_control_module = control_module;
  return S_OK;
}
}
