// A call that may block for good (a folder on a network mount that stopped
// answering keeps stat and opendir waiting in the kernel, where no signal
// reaches them) made on a helper thread, so the caller waits at most a
// given time and can go on without the answer. A late call is left to
// finish, or to hang, on its own detached thread; it must therefore own
// everything it touches (capture by value or through a shared_ptr).
//
// Any thread may call it.
#pragma once

#include <functional>

namespace platform {

// Runs `call` on a helper thread and waits for it at most `timeout_ms`.
// True when it finished in time. When no thread can be made, `call` runs on
// the calling thread and the result is true.
bool RunWithin(int timeout_ms, std::function<void()> call);

}  // namespace platform
