// CAgent: the base of every agent's job. A job is created on its agent
// thread by CKivClientAgent::OnAgentLaunch, runs once (Run) and is
// destroyed there; it creates what it uses when it starts and releases it
// before Run returns.
//
// Long-running jobs call CheckQuit at every unit of work and inside every
// wait and return as soon as it answers TRUE. Everything here belongs to
// the job's own agent thread.
#pragma once

#include "platform/win_types.h"

class CAgent {
 public:
  CAgent() = default;
  virtual ~CAgent();
  CAgent(const CAgent&) = delete;
  CAgent& operator=(const CAgent&) = delete;

  // Performs the job. The result travels in the done message; a non-zero
  // result lets a relaunch that was requested meanwhile happen.
  virtual int Run() = 0;

  // TRUE when the job must stop now. Takes the waiting messages of the
  // calling agent thread one at a time (this is how a stop request reaches
  // a busy job) until the queue is empty or the thread's quit message is
  // next. Once a stop was requested every later call answers TRUE and logs
  // "Terminating thread <id> early while in the midst of thread exection".
  // Called on a thread that is not an agent thread, it answers FALSE
  // unless an earlier call found a stop.
  virtual BOOL CheckQuit();

 protected:
  // Set by CheckQuit when it found the quit message; never cleared.
  BOOL quit_ = FALSE;
};
