// The Chromaprint functions the fingerprinter calls, resolved at run time
// from the library of the major version the headers name. Chromaprint pulls
// in FFmpeg (for its transform), so linking it would load FFmpeg with the
// module at every start; it is loaded on the first fingerprint instead.
//
// Thread safety: Chromaprint() may be called from any thread; the first call
// loads, the others wait for it. The table is read-only afterwards.
#pragma once

#include <chromaprint.h>

namespace cddb_component {

#define VORNIC_CHROMAPRINT_FUNCTIONS(X) \
  X(chromaprint_new)                    \
  X(chromaprint_free)                   \
  X(chromaprint_start)                  \
  X(chromaprint_feed)                   \
  X(chromaprint_finish)                 \
  X(chromaprint_get_fingerprint)        \
  X(chromaprint_dealloc)

struct ChromaprintApi {
#define VORNIC_CHROMAPRINT_MEMBER(name) decltype(&::name) name = nullptr;
  VORNIC_CHROMAPRINT_FUNCTIONS(VORNIC_CHROMAPRINT_MEMBER)
#undef VORNIC_CHROMAPRINT_MEMBER
};

// The process's table, loaded on the first call; null, for the process's
// life, when the library or one of its functions is missing.
const ChromaprintApi* Chromaprint();

}  // namespace cddb_component
