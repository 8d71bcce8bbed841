#include "app/agent.h"

#include "app/format.h"
#include "app/kiv_client_agent.h"
#include "app/log.h"
#include "app/messages.h"
#include "platform/threads.h"

CAgent::~CAgent() = default;

BOOL CAgent::CheckQuit() {
  if (CKivClientAgent* thread = CKivClientAgent::Current()) {
    MessageLoop& loop = thread->loop();
    UINT next = 0;
    while (loop.PeekMessageId(&next)) {
      if (next == WM_QUIT) {
        // The quit message stays queued, so the thread's loop still ends
        // on it once the job has returned.
        quit_ = TRUE;
        break;
      }
      if (!loop.DispatchOne()) break;
    }
  }
  if (!quit_) return FALSE;
  AppLog().Log(StrFormat("Terminating thread %u early while in the midst of thread exection",
                         platform::CurrentThreadId()),
               LEVEL_INFO, MODULE_APPLICATION);
  return TRUE;
}
