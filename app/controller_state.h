// Process-wide state of the agent controller that agent threads may read.
//
// Whether the agent controller is shutting down: set when the main window
// starts its destruction (no launch or relaunch follows), cleared when a
// controller is created. A job stopped during shutdown will not be run
// again in this process, so it finishes what must not stay half-open (the
// transmit agent closes an open index session).
//
// Which agent kinds run: a kind counts from the launch of its thread until
// the controller has stopped and joined it. The folder monitor asks before
// it requests the indexer, which must wait while the indexer, the iTunes
// import or the transmit agent runs.
//
// Whether iTunes runs, as the play monitor last told the controller
// (notification 33018): the iTunes import holds back while it does.
//
// Any thread: the values are atomic.
#pragma once

#include "app/messages.h"

void SetControllerShuttingDown(bool shutting_down);
bool ControllerShuttingDown();

// Called by the controller when a thread of `kind` starts and once it has
// been joined. With several controllers (tests) a kind runs while any of
// them runs it.
void SetAgentKindRunning(UINT kind, bool running);
bool IsAgentKindRunning(UINT kind);

// Set by the controller from notification 33018's lParam.
void SetITunesRunning(bool running);
bool ITunesRunning();
