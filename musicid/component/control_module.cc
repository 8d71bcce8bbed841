// The component's control module: the control object (client identity,
// options, readiness), the file tag object and the result builder, with
// the module's entry points.
#include <taglib/fileref.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>

#include <new>

#include "musicid/component/component_objects.h"

namespace cddb_component {
namespace {

constexpr const char* kControlVersion = "CDDBControl 2.2.1.0";

// Copies every option slot of `from` into `to`.
void CopyOptions(ICddbOptions* from, Options* to) {
  for (int i = 0; i <= static_cast<int>(CddbOption::kRetryAfter); ++i) {
    auto option = static_cast<CddbOption>(i);
    std::string text;
    long number = 0;
    if (SUCCEEDED(from->GetText(option, &text)) && !text.empty()) to->SetText(option, text.c_str());
    if (SUCCEEDED(from->GetNumber(option, &number)) && number != 0) to->SetNumber(option, number);
  }
}

class Control : public CddbObject<ICddbControl, IID_ICddbControl> {
 public:
  HRESULT GetVersion(std::string* version) override {
    if (version == nullptr) return E_POINTER;
    *version = kControlVersion;
    return S_OK;
  }
  HRESULT SetClientInfo(const char* client_id, const char* client_tag, const char* client_version,
                        const char* extra) override {
    if (!client_id || !client_tag || !client_version || !extra) return E_POINTER;
    if (*client_id == 0) return E_INVALIDARG;
    client_id_ = client_id;
    return S_OK;
  }
  HRESULT GetOptions(ICddbOptions** options) override {
    if (options == nullptr) return E_POINTER;
    *options = options_->Clone();
    return *options ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT SetOptions(ICddbOptions* options) override {
    if (options == nullptr) return E_POINTER;
    CddbPtr<Options> fresh = CddbPtr<Options>::Adopt(new (std::nothrow) Options());
    if (!fresh) return E_OUTOFMEMORY;
    CopyOptions(options, fresh.get());
    options_ = fresh;
    return S_OK;
  }
  HRESULT SetWindow(void*, long) override { return S_OK; }
  HRESULT IsReady(bool* ready) override {
    if (ready == nullptr) return E_POINTER;
    *ready = ready_;
    return S_OK;
  }
  HRESULT SetUp(const char*) override {
    if (client_id_.empty()) return E_FAIL;
    if (options_->Text(CddbOption::kClientKey).empty()) return CDDBSTATUS_NO_CLIENT_KEY;
    if (options_->Text(CddbOption::kLookupUrl).empty()) return E_INVALIDARG;
    ready_ = true;
    return S_OK;
  }
  HRESULT Close() override {
    ready_ = false;
    return S_OK;
  }

 private:
  std::string client_id_;
  CddbPtr<Options> options_ = CddbPtr<Options>::Adopt(new Options());
  bool ready_ = false;
};

// Reads a file's tags with TagLib: the common fields and the recording
// identifier a tagger stores for the lookup service's database.
class FileTag : public CddbObject<ICddbFileTag, IID_ICddbFileTag> {
 public:
  HRESULT Load(const char* path) override {
    if (path == nullptr) return E_POINTER;
    // Read-only: a file opened for writing sets off folder watchers when it
    // closes, even when nothing was written.
    TagLib::FileStream stream(path, true);
    if (!stream.isOpen()) return E_FAIL;
    TagLib::FileRef file(&stream, false);
    if (file.isNull() || file.tag() == nullptr) return E_FAIL;
    const TagLib::PropertyMap props = file.file()->properties();
    auto take = [&](CddbField field, const char* key) {
      auto it = props.find(key);
      if (it != props.end() && !it->second.isEmpty())
        fields_.Set(field, it->second.front().to8Bit(true));
    };
    take(CddbField::kArtist, "ARTIST");
    take(CddbField::kAlbum, "ALBUM");
    take(CddbField::kTitle, "TITLE");
    take(CddbField::kYear, "DATE");
    take(CddbField::kGenre, "GENRE");
    take(CddbField::kTrackNumber, "TRACKNUMBER");
    take(CddbField::kGnId, "MUSICBRAINZ_TRACKID");
    return S_OK;
  }
  HRESULT SetText(CddbField field, const char* value) override {
    if (value == nullptr) return E_POINTER;
    fields_.Set(field, value);
    return S_OK;
  }
  HRESULT GetText(CddbField field, std::string* value) override {
    return fields_.Read(field, value);
  }

 private:
  TextFields fields_;
};

class ResultBuilder : public CddbObject<ICddbResultBuilder, IID_ICddbResultBuilder> {
 public:
  HRESULT MakeTrackResult(ICddbAlbumResult* album, long number, ICddbTrackResult** track) override {
    if (album == nullptr || track == nullptr) return E_POINTER;
    *track = nullptr;
    if (number < 1) return E_INVALIDARG;
    return album->GetTrack(number, track);
  }
};

template <class T>
ICddbUnknown* Make() {
  return new (std::nothrow) T();
}

ClassFactory::MakeFn MakerFor(const CddbGuid* clsid) {
  if (clsid == nullptr) return nullptr;
  if (*clsid == CLSID_CddbControl) return &Make<Control>;
  if (*clsid == CLSID_CddbFileTag) return &Make<FileTag>;
  if (*clsid == CLSID_CddbResultBuilder) return &Make<ResultBuilder>;
  return nullptr;
}

}  // namespace
}  // namespace cddb_component

using cddb_component::ClassFactory;
using cddb_component::MakerFor;

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetObject(const CddbGuid* clsid,
                                                            const CddbGuid* iid, void** out) {
  if (out == nullptr || iid == nullptr) return E_POINTER;
  *out = nullptr;
  ClassFactory::MakeFn make = MakerFor(clsid);
  if (make == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  return cddb_component::HandOutAs(make(), *iid, out);
}

__attribute__((visibility("default"))) HRESULT DllGetClassObject(const CddbGuid* clsid,
                                                                 const CddbGuid* iid, void** out) {
  return cddb_component::GetClassObject(MakerFor(clsid), iid, out);
}

__attribute__((visibility("default"))) void DllDisableCOMFallover(int) {}

__attribute__((visibility("default"))) HRESULT DllSetCddbUIHINST(void*) { return S_OK; }
}
