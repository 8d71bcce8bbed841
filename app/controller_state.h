// Whether the agent controller is shutting down: set when the main window
// starts its destruction (no launch or relaunch follows), cleared when a
// controller is created. A job stopped during shutdown will not be run
// again in this process, so it finishes what must not stay half-open (the
// transmit agent closes an open index session).
//
// Any thread: the flag is atomic.
#pragma once

void SetControllerShuttingDown(bool shutting_down);
bool ControllerShuttingDown();
