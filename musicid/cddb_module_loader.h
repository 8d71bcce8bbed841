// CddbModuleLoader: loads the identification component's three modules
// from the program folder and creates the component's objects directly
// from them, routing each class identifier to the module that serves it.
// One loader per process: start-up creates it (SetCddbLoader) and shutdown
// frees it; the MusicID wrapper and GetTagEntry create objects through it.
//
// Thread safety: Init and FreeAll run on the main thread while no agent
// runs; CreateObject may be called from any thread.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "musicid/cddb_interfaces.h"
#include "platform/dynamic_library.h"

// Module file names, in loading order.
inline constexpr const char* kCddbControlModule = "CDDBControl.so";
inline constexpr const char* kCddbUiModule = "CDDBUI.so";
inline constexpr const char* kCddbMusicIdModule = "CDDBMusicID.so";
// The longest module path, as on the original platform.
inline constexpr std::size_t kCddbMaxPath = 259;

enum class CddbModule { kControl, kUi, kMusicId, kNone };

// The module that serves `clsid` (kNone for an unknown class).
CddbModule RouteClass(const CddbGuid& clsid);

class CddbModuleLoader {
 public:
  CddbModuleLoader() = default;
  ~CddbModuleLoader();
  CddbModuleLoader(const CddbModuleLoader&) = delete;
  CddbModuleLoader& operator=(const CddbModuleLoader&) = delete;

  // Loads the modules found in `folder`; a missing module leaves its slot
  // empty and is no error, and so does one whose path would be longer than
  // kCddbMaxPath (logged, never cut). E_INVALIDARG for an empty or relative
  // folder or one longer than kCddbMaxPath. The result of the last cross-wiring call, else S_OK.
  HRESULT Init(const std::string& folder, bool allow_com_fallback);
  // Creates an object of `clsid` with interface `iid` (one reference for
  // the caller). E_POINTER without `out`; E_FAIL when nothing could be
  // tried (unknown class, module missing or without entry points).
  HRESULT CreateObject(const CddbGuid& clsid, const CddbGuid& iid, void** out);
  // Unloads the modules, last slot first.
  void FreeAll();

  // True when the module is loaded and has at least one entry point.
  bool Usable(CddbModule module) const;

 private:
  struct Slot {
    std::unique_ptr<platform::DynamicLibrary> library;
    CddbDllGetObjectFn get_object = nullptr;
    CddbDllGetClassObjectFn get_class_object = nullptr;
  };
  Slot& slot(CddbModule module) { return slots_[static_cast<std::size_t>(module)]; }
  const Slot& slot(CddbModule module) const { return slots_[static_cast<std::size_t>(module)]; }

  bool allow_com_fallback_ = false;
  std::array<Slot, 3> slots_;
};

// The process-wide loader (not owned); null when none exists.
CddbModuleLoader* CddbLoader();
void SetCddbLoader(CddbModuleLoader* loader);
