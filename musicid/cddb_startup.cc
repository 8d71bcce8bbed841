#include "musicid/cddb_startup.h"

#include <exception>

#include "musicid/cddb_module_loader.h"
#include "musicid/cddb_object.h"
#include "musicid/musicid_log.h"
#include "platform/folders.h"

void CreateCddbLoader(const std::string& folder) {
  auto* loader = new CddbModuleLoader();
  const std::string where = folder.empty() ? platform::ModuleDir() : folder;
  if (where.empty()) {
    // Without the program's own folder there is no place to trust.
    musicid::LogDetail(LEVEL_ERROR, "CddbModuleLoader: the program's folder is unknown",
                       "no module loaded");
  } else if (FAILED(loader->Init(where, false))) {
    musicid::LogDetail(LEVEL_ERROR, "CddbModuleLoader: Init failed", where);
  }
  SetCddbLoader(loader);
  SetComponentTagReader(&ReadTagsWithComponent);
}

void FreeCddbLoader() {
  SetComponentTagReader({});
  CddbModuleLoader* loader = CddbLoader();
  SetCddbLoader(nullptr);
  delete loader;
}

HRESULT ReadTagsWithComponent(const std::string& path, ComponentTags* tags) {
  CddbModuleLoader* loader = CddbLoader();
  if (loader == nullptr || tags == nullptr) return E_FAIL;
  try {
    CddbPtr<ICddbFileTag> tag;
    HRESULT hr = loader->CreateObject(CLSID_CddbFileTag, IID_ICddbFileTag, tag.OutVoid());
    if (FAILED(hr) || !tag) return FAILED(hr) ? hr : E_FAIL;
    hr = tag->Load(path.c_str());
    if (FAILED(hr)) return hr;
    tag->GetText(CddbField::kArtist, &tags->artist);
    tag->GetText(CddbField::kAlbum, &tags->album);
    tag->GetText(CddbField::kTitle, &tags->title);
    tag->GetText(CddbField::kYear, &tags->year);
    tag->GetText(CddbField::kGenre, &tags->genre);
    tag->GetText(CddbField::kTrackNumber, &tags->track);
    tag->GetText(CddbField::kGnId, &tags->gn_id);
    return S_OK;
  } catch (...) {
    musicid::LogDetail(LEVEL_CRITICAL, "Fatal error reading tags for", path);
    return E_FAIL;
  }
}
