#include "app/controller_state.h"

#include <atomic>

namespace {

std::atomic<bool> g_shutting_down{false};

}  // namespace

void SetControllerShuttingDown(bool shutting_down) { g_shutting_down = shutting_down; }

bool ControllerShuttingDown() { return g_shutting_down; }
