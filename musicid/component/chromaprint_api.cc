#include "musicid/component/chromaprint_api.h"

#include <memory>
#include <string>

#include "platform/dynamic_library.h"

namespace cddb_component {
namespace {

// The library and its table. The library stays loaded after the module
// is unloaded, so a context freed late still finds its code.
struct LoadedChromaprint {
  std::unique_ptr<platform::DynamicLibrary> library;
  ChromaprintApi api;
};

// No library when it or one of the functions is missing.
LoadedChromaprint LoadChromaprint() {
  LoadedChromaprint loaded;
  loaded.library = platform::DynamicLibrary::Open(
      "libchromaprint.so." + std::to_string(CHROMAPRINT_VERSION_MAJOR), nullptr, true);
#define VORNIC_CHROMAPRINT_RESOLVE(name)                                                          \
  if (loaded.library) {                                                                           \
    loaded.api.name = reinterpret_cast<decltype(loaded.api.name)>(loaded.library->Symbol(#name)); \
    if (loaded.api.name == nullptr) loaded.library.reset();                                       \
  }
  VORNIC_CHROMAPRINT_FUNCTIONS(VORNIC_CHROMAPRINT_RESOLVE)
#undef VORNIC_CHROMAPRINT_RESOLVE
  return loaded;
}

}  // namespace

const ChromaprintApi* Chromaprint() {
  static const LoadedChromaprint loaded = LoadChromaprint();
  return loaded.library ? &loaded.api : nullptr;
}

}  // namespace cddb_component
