#include "app/message_loop.h"

#include <limits>
#include <utility>

MessageLoop::MessageLoop(platform::Clock& clock) : clock_(clock) {}

MessageLoop::~MessageLoop() {
  for (Posted* p = inbox_.exchange(nullptr); p;) delete std::exchange(p, p->next);
}

void MessageLoop::SetHandler(Handler handler) { handler_ = std::move(handler); }

void MessageLoop::PostMessage(UINT id, WPARAM wParam, LPARAM lParam, std::string payload) {
  Push(new Posted{Message{id, wParam, lParam, std::move(payload)}, nullptr, {}});
}

void MessageLoop::PostMessages(std::vector<Message> messages) {
  if (messages.empty()) return;
  auto* posted = new Posted;
  posted->batch = std::move(messages);
  Push(posted);
}

void MessageLoop::Push(Posted* posted) {
  posted->next = inbox_.load();
  while (!inbox_.compare_exchange_weak(posted->next, posted)) {
  }
  SignalWake();
}

void MessageLoop::TakePosted() const {
  // The inbox is newest first: turn it around, then append it in order.
  Posted* oldest = nullptr;
  for (Posted* p = inbox_.exchange(nullptr); p;) {
    Posted* next = p->next;
    p->next = oldest;
    oldest = p;
    p = next;
  }
  while (oldest) {
    if (oldest->batch.empty()) {
      queue_.push_back(std::move(oldest->message));
    } else {
      for (Message& message : oldest->batch) queue_.push_back(std::move(message));
    }
    delete std::exchange(oldest, oldest->next);
  }
}

void MessageLoop::SetTimer(WPARAM id, std::uint32_t ms) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    timers_[id] = Timer{clock_.TickMs() + ms, next_generation_++};
  }
  SignalWake();
}

BOOL MessageLoop::KillTimer(WPARAM id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.erase(id) ? TRUE : FALSE;
}

bool MessageLoop::HasTimer(WPARAM id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.count(id) != 0;
}

void MessageLoop::Quit(int exit_code) {
  exit_code_ = exit_code;
  quit_ = true;
  SignalWake();
}

void MessageLoop::SignalWake() {
  // A worker posting a message per file would otherwise write the eventfd
  // once per message. Only the first signal after a clear writes it.
  if (!signalled_.exchange(true)) wake_.Signal();
}

void MessageLoop::ClearWake() {
  // Cleared before the flag is reset: a signal that lands in between is
  // skipped, but it came after its message was queued, and the owner looks
  // at the queue after this returns.
  wake_.Clear();
  signalled_ = false;
}

void MessageLoop::Wake() {
  woken_ = true;
  SignalWake();
}

int MessageLoop::Run() {
  while (!quit_) {
    ProcessPending();
    if (quit_) break;
    WaitForInput(-1);
  }
  quit_ = false;
  return exit_code_;
}

void MessageLoop::Dispatch(Message& message) {
  if (handler_) handler_(message);
}

std::size_t MessageLoop::ProcessPending() {
  ClearWake();
  TakePosted();
  const std::size_t budget = queue_.size();
  std::size_t dispatched = 0;
  platform::Clock& real = platform::SystemClock();
  const std::uint64_t pass_start = pass_limit_ms_ ? real.TickMs() : 0;
  while (dispatched < budget && !quit_) {
    if (pass_limit_ms_ && dispatched > 0 && real.TickMs() - pass_start >= pass_limit_ms_) break;
    // A nested pass inside a handler may have taken the rest.
    if (queue_.empty()) break;
    Message message = std::move(queue_.front());
    queue_.pop_front();
    Dispatch(message);
    ++dispatched;
  }

  const std::uint64_t now = clock_.TickMs();
  std::uint64_t generation_limit;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    generation_limit = next_generation_;
  }
  WPARAM id;
  while (!quit_ && PopDueTimer(now, generation_limit, &id)) {
    Message message{WM_TIMER, id, 0, {}};
    Dispatch(message);
    ++dispatched;
  }

  if (!queue_.empty() || HasPosted() || MsUntilNextTimer() == 0) SignalWake();
  return dispatched;
}

bool MessageLoop::PeekMessageId(UINT* id) const {
  TakePosted();
  if (queue_.empty()) return false;
  *id = queue_.front().id;
  return true;
}

bool MessageLoop::DispatchOne() {
  TakePosted();
  if (queue_.empty()) return false;
  Message message = std::move(queue_.front());
  queue_.pop_front();
  Dispatch(message);
  return true;
}

bool MessageLoop::PopDueTimer(std::uint64_t now, std::uint64_t generation_limit, WPARAM* id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto best = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    const Timer& t = it->second;
    if (t.due > now || t.generation >= generation_limit) continue;
    if (best == timers_.end() || t.due < best->second.due ||
        (t.due == best->second.due && t.generation < best->second.generation))
      best = it;
  }
  if (best == timers_.end()) return false;
  *id = best->first;
  timers_.erase(best);
  return true;
}

std::int64_t MessageLoop::MsUntilNextTimerLocked(std::uint64_t now) const {
  if (timers_.empty()) return -1;
  std::uint64_t earliest = std::numeric_limits<std::uint64_t>::max();
  for (const auto& [id, timer] : timers_) earliest = std::min(earliest, timer.due);
  return earliest <= now ? 0 : static_cast<std::int64_t>(earliest - now);
}

std::int64_t MessageLoop::MsUntilNextTimer() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return MsUntilNextTimerLocked(clock_.TickMs());
}

std::size_t MessageLoop::PendingCount() const {
  TakePosted();
  return queue_.size();
}

bool MessageLoop::WaitForInput(int timeout_ms) {
  platform::Clock& real = platform::SystemClock();
  const std::uint64_t start = real.TickMs();
  // The other event loop gets its turn even when input is already waiting:
  // a busy queue must not starve it.
  if (input_wait_) input_wait_(0);
  for (;;) {
    const bool woken = woken_.exchange(false);
    if (woken || !queue_.empty() || HasPosted() || quit_) return true;
    const std::int64_t timer_ms = MsUntilNextTimer();
    if (timer_ms == 0) return true;
    std::int64_t wait = timer_ms;
    if (timeout_ms >= 0) {
      std::int64_t left =
          static_cast<std::int64_t>(timeout_ms) - static_cast<std::int64_t>(real.TickMs() - start);
      if (left <= 0) return false;
      if (wait < 0 || left < wait) wait = left;
    }
    if (wait > std::numeric_limits<int>::max()) wait = std::numeric_limits<int>::max();
    if (input_wait_)
      input_wait_(static_cast<int>(wait));
    else
      wake_.Wait(static_cast<int>(wait));
    ClearWake();
  }
}
