#include "musicid/cddb_module_loader.h"

#include <atomic>

#include "app/log.h"
#include "musicid/cddb_object.h"

namespace {

struct Route {
  CddbGuid clsid;
  CddbModule module;
};

// The classes the program creates, by the module that serves them.
constexpr Route kRoutes[] = {
    {CLSID_CddbControl, CddbModule::kControl},
    {CLSID_CddbFileTag, CddbModule::kControl},
    {CLSID_CddbResultBuilder, CddbModule::kControl},
    {CLSID_CddbMusicID, CddbModule::kMusicId},
};

constexpr const char* kModuleNames[] = {kCddbControlModule, kCddbUiModule, kCddbMusicIdModule};

std::atomic<CddbModuleLoader*> g_loader{nullptr};

}  // namespace

CddbModule RouteClass(const CddbGuid& clsid) {
  for (const Route& route : kRoutes)
    if (route.clsid == clsid) return route.module;
  return CddbModule::kNone;
}

CddbModuleLoader::~CddbModuleLoader() { FreeAll(); }

HRESULT CddbModuleLoader::Init(const std::string& folder, bool allow_com_fallback) {
  // Only an absolute folder: a relative one would load whatever the
  // current folder holds.
  if (folder.empty() || folder[0] != '/' || folder.size() > kCddbMaxPath) return E_INVALIDARG;
  FreeAll();
  allow_com_fallback_ = allow_com_fallback;
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const std::string path = prefix + kModuleNames[i];
    if (path.size() > kCddbMaxPath) {
      // Cut short, the path could name another file.
      AppLog().LogDetail("CddbModuleLoader: module path too long, not loaded", path, LEVEL_ERROR,
                         MODULE_GRACENOTE);
      continue;
    }
    std::string error;
    slots_[i].library = platform::DynamicLibrary::Open(path, &error);
    if (!slots_[i].library) {
      AppLog().LogDetail("CddbModuleLoader: module not loaded, " + error, path, LEVEL_VERBOSE,
                         MODULE_GRACENOTE);
      continue;
    }
    const platform::DynamicLibrary& lib = *slots_[i].library;
    slots_[i].get_object = reinterpret_cast<CddbDllGetObjectFn>(lib.Symbol("DllGetObject"));
    slots_[i].get_class_object =
        reinterpret_cast<CddbDllGetClassObjectFn>(lib.Symbol("DllGetClassObject"));
    if (auto disable =
            reinterpret_cast<CddbDllDisableComFalloverFn>(lib.Symbol("DllDisableCOMFallover")))
      disable(allow_com_fallback ? 0 : 1);
  }

  // Cross-wiring: the modules learn each other's handles.
  HRESULT result = S_OK;
  auto wire = [&](CddbModule to, const char* entry, CddbModule of) {
    const Slot& target = slot(to);
    const Slot& source = slot(of);
    if (!target.library || !source.library) return;
    if (auto set = reinterpret_cast<CddbDllSetHandleFn>(target.library->Symbol(entry)))
      result = set(source.library->handle());
  };
  wire(CddbModule::kControl, "DllSetCddbUIHINST", CddbModule::kUi);
  wire(CddbModule::kUi, "DllSetCddbHINST", CddbModule::kControl);
  wire(CddbModule::kMusicId, "DllSetCddbHINST", CddbModule::kControl);
  return result;
}

bool CddbModuleLoader::Usable(CddbModule module) const {
  if (module == CddbModule::kNone) return false;
  const Slot& s = slot(module);
  return s.library && (s.get_object || s.get_class_object);
}

HRESULT CddbModuleLoader::CreateObject(const CddbGuid& clsid, const CddbGuid& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  const CddbModule module = RouteClass(clsid);
  HRESULT result = E_FAIL;
  if (Usable(module)) {
    const Slot& s = slot(module);
    if (s.get_object) {
      result = s.get_object(&clsid, &iid, out);
      if (SUCCEEDED(result)) return result;
    }
    if (s.get_class_object) {
      CddbPtr<ICddbClassFactory> factory;
      result = s.get_class_object(&clsid, &IID_ICddbClassFactory, factory.OutVoid());
      if (SUCCEEDED(result) && factory) {
        result = factory->CreateInstance(nullptr, iid, out);
        if (SUCCEEDED(result)) return result;
      }
    }
  }
  // There is no system class registration to fall back on here: with the
  // fallback allowed the last failure stands just the same.
  return result;
}

void CddbModuleLoader::FreeAll() {
  for (std::size_t i = slots_.size(); i-- > 0;) slots_[i] = Slot{};
}

CddbModuleLoader* CddbLoader() { return g_loader.load(); }
void SetCddbLoader(CddbModuleLoader* loader) { g_loader.store(loader); }
