// Whether identification can run: the MusicID agent sets it after each
// attempt, and the transmit agent, which with UseMusicID on holds back a
// track until identification has looked at it, sends the tracks
// unidentified while it cannot run (no client key, the service
// unreachable, the component missing). Identification counts as able to
// run until an attempt shows otherwise.
//
// Any thread: the value is atomic.
#pragma once

void SetIdentificationUnavailable(bool unavailable);
bool IdentificationUnavailable();
