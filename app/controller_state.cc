#include "app/controller_state.h"

#include <array>
#include <atomic>

#include "app/agent_kinds.h"

namespace {

std::atomic<bool> g_shutting_down{false};
std::atomic<bool> g_itunes_running{false};
std::array<std::atomic<int>, kAgentKindCount> g_running{};

}  // namespace

void SetControllerShuttingDown(bool shutting_down) { g_shutting_down = shutting_down; }

bool ControllerShuttingDown() { return g_shutting_down; }

void SetAgentKindRunning(UINT kind, bool running) {
  if (!IsAgentKind(kind)) return;
  std::atomic<int>& count = g_running[AgentIndex(kind)];
  if (running) {
    ++count;
  } else {
    int now = count.load();
    while (now > 0 && !count.compare_exchange_weak(now, now - 1)) {
    }
  }
}

bool IsAgentKindRunning(UINT kind) {
  return IsAgentKind(kind) && g_running[AgentIndex(kind)].load() > 0;
}

void SetITunesRunning(bool running) { g_itunes_running = running; }

bool ITunesRunning() { return g_itunes_running; }
