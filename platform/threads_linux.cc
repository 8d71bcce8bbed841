#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/last_error.h"
#include "platform/threads.h"

namespace platform {

DWORD CurrentThreadId() { return static_cast<DWORD>(::syscall(SYS_gettid)); }

void SetCurrentThreadName(const std::string& name) {
  ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
}

BOOL SetCurrentThreadIdlePriority() {
  sched_param param{};
  param.sched_priority = 0;
  int err = ::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &param);
  if (err != 0) {
    SetLastErrorEx(ErrorFromErrno(err));
    return FALSE;
  }
  return TRUE;
}

bool CurrentThreadHasIdlePriority() {
  int policy = 0;
  sched_param param{};
  return ::pthread_getschedparam(::pthread_self(), &policy, &param) == 0 && policy == SCHED_IDLE;
}

}  // namespace platform
