#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/bounded_call.h"

namespace platform {
namespace {

struct CallState {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
};

}  // namespace

bool RunWithin(int timeout_ms, std::function<void()> call) {
  auto state = std::make_shared<CallState>();
  auto shared_call = std::make_shared<std::function<void()>>(std::move(call));
  try {
    std::thread([state, shared_call] {
      (*shared_call)();
      std::lock_guard<std::mutex> lock(state->mutex);
      state->done = true;
      state->done_cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    (*shared_call)();
    return true;
  }
  std::unique_lock<std::mutex> lock(state->mutex);
  return state->done_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return state->done; });
}

}  // namespace platform
