// Thread facilities of the agents: the calling thread's numeric id (as the
// log shows it), its name (as top -H and /proc show it) and the idle
// scheduling class that background jobs run in, so they only use processor
// time nobody else wants.
//
// Every function acts on the calling thread and may be called from any
// thread.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace platform {

// The kernel's id of the calling thread (gettid), as the log prints it.
DWORD CurrentThreadId();

// Names the calling thread; the system keeps the first 15 bytes.
void SetCurrentThreadName(const std::string& name);

// Puts the calling thread into the idle scheduling class (SCHED_IDLE).
// FALSE (last error set) when the system refuses.
BOOL SetCurrentThreadIdlePriority();

// True when the calling thread runs in the idle scheduling class.
bool CurrentThreadHasIdlePriority();

}  // namespace platform
