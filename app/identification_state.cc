#include "app/identification_state.h"

#include <atomic>

namespace {
std::atomic<bool> g_unavailable{false};
}  // namespace

void SetIdentificationUnavailable(bool unavailable) { g_unavailable.store(unavailable); }
bool IdentificationUnavailable() { return g_unavailable.load(); }
