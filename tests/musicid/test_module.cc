// Stand-in modules for the loader tests, built in two forms: one without
// any of the entry points a module may export (TEST_MODULE_BARE), and one
// that only takes part in the cross-wiring and answers with a distinctive
// result (TEST_MODULE_WIRING).
#include "musicid/cddb_interfaces.h"

extern "C" {
#if defined(TEST_MODULE_BARE)
__attribute__((visibility("default"))) int TestModuleMarker() { return 1; }
#elif defined(TEST_MODULE_WIRING)
inline constexpr HRESULT kWiringResult = 7;
__attribute__((visibility("default"))) HRESULT DllSetCddbHINST(void* control) {
  return control != nullptr ? kWiringResult : E_POINTER;
}
#endif
}
