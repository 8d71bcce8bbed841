// MessageLoop: the queue of posted messages and one-shot timers that drives
// one thread of the program: the main loop (start-up hands it to the main
// window, which is the agent controller) and, one per thread, each agent's
// own loop.
//
// Contract:
// - PostMessage, SetTimer, KillTimer, HasTimer, Quit and Wake may be called
//   from any thread. Everything else belongs to the loop's owner thread: the
//   thread that calls Run, ProcessPending or WaitForInput.
// - PostMessage, Quit and Wake take no lock: a poster that is preempted
//   halfway (an agent thread in the idle scheduling class on a busy machine)
//   never holds up the owner. Only the timers are kept under a mutex.
// - Messages are dispatched to the handler in the order they were posted,
//   one at a time, on the owner thread. The payload is owned by the message;
//   the handler may move it out (Message is passed as non-const).
// - Timers are one-shot and keyed by id: SetTimer on an id that already has
//   a timer replaces it (the old deadline is forgotten), KillTimer removes
//   it. A timer that comes due is removed and dispatched as WM_TIMER with
//   wParam = id and lParam = 0. Deadlines are measured with the loop's Clock,
//   so a test with FakeClock makes timers due by advancing it (then calling
//   ProcessPending, or Wake when Run is waiting on another thread).
// - One ProcessPending pass dispatches the messages that were queued when it
//   began (those it reaches within its pass limit, SetPassLimit, if one is
//   set), then the timers that were due when the timer phase began; what
//   handlers post or arm meanwhile waits for the next pass, so a handler
//   that re-posts itself cannot starve the caller's event loop. A pass stops
//   early once Quit was called.
// - Handlers may re-enter the loop (ProcessPending, WaitForInput or a nested
//   Run), as a modal wait does; Quit ends the innermost Run.
//
// Running under another event loop: watch WakeFd() for readability and call
// ProcessPending() when it is readable; after each pass, arm a one-shot
// timer for MsUntilNextTimer() (when not -1) that also calls
// ProcessPending(). ProcessPending leaves WakeFd() readable when work
// remains.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/messages.h"
#include "platform/clock.h"
#include "platform/wake_event.h"
#include "platform/win_types.h"

struct Message {
  UINT id = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::string payload;
};

class MessageLoop {
 public:
  using Handler = std::function<void(Message&)>;

  explicit MessageLoop(platform::Clock& clock = platform::SystemClock());
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // Owner thread, not while dispatching. Messages dispatched without a
  // handler are dropped.
  void SetHandler(Handler handler);

  // Any thread. Never blocks on the owner thread.
  void PostMessage(UINT id, WPARAM wParam = 0, LPARAM lParam = 0, std::string payload = {});
  // Any thread. The same as posting `messages` one by one in their order,
  // for the cost of one post: a job that reports every file gathers its
  // messages and hands them over together.
  void PostMessages(std::vector<Message> messages);
  void SetTimer(WPARAM id, std::uint32_t ms);
  // TRUE when a timer with this id existed.
  BOOL KillTimer(WPARAM id);
  bool HasTimer(WPARAM id) const;
  // Ends the innermost Run with `exit_code` after the current dispatch.
  void Quit(int exit_code = 0);
  // Makes a waiting WaitForInput (and so Run) return, e.g. when a worker
  // thread has ended or a fake clock was moved.
  void Wake();

  // Dispatches until Quit; returns the Quit code and clears the request.
  int Run();
  // One pass (see above). Returns the number of messages dispatched.
  std::size_t ProcessPending();
  // The id of the oldest queued message, without removing it; false when
  // the queue is empty. Timers are not looked at.
  bool PeekMessageId(UINT* id) const;
  // Removes and dispatches the oldest queued message; false when the queue
  // was empty. Lets a long-running handler (an agent's job between two
  // units of work) take its thread's messages one at a time.
  bool DispatchOne();
  // Waits until a message is queued, a timer is due, Wake or Quit was
  // called, or `timeout_ms` of real time passed (-1: no limit). True when
  // there is input (or a wake-up); false on time-out. Does not dispatch.
  bool WaitForInput(int timeout_ms);
  // Milliseconds of the loop's clock until the earliest timer is due; 0 when
  // one is due now, -1 when there is no timer.
  std::int64_t MsUntilNextTimer() const;
  int WakeFd() const { return wake_.fd(); }
  // True while WakeFd() is readable. Owner thread.
  bool WakeSignalled() { return wake_.Wait(0); }
  // Bounds one ProcessPending pass: once `ms` of real time went by, the
  // messages still queued wait for the next pass (0: no bound, the
  // default). The GUI thread sets it so that a burst of agent messages
  // cannot hold up its window for long.
  void SetPassLimit(std::uint32_t ms) { pass_limit_ms_ = ms; }
  // Replaces the blocking wait inside WaitForInput (and so Run) with `wait`,
  // called with the time-out in ms (-1: none). It must return once WakeFd()
  // is readable or the time has passed, and may run another event loop
  // meanwhile: the GUI's, so that windows stay alive while the controller
  // waits for an agent thread to stop. Every WaitForInput first calls it
  // with 0, which lets that loop handle what is pending without waiting.
  // Owner thread; null restores the plain wait.
  void SetInputWait(std::function<void(int timeout_ms)> wait) { input_wait_ = std::move(wait); }
  bool QuitRequested() const { return quit_; }
  std::size_t PendingCount() const;

 private:
  struct Timer {
    std::uint64_t due = 0;
    std::uint64_t generation = 0;
  };
  // A posted message in the inbox: a list, newest first, that posters push
  // onto with one compare-and-swap.
  struct Posted {
    Message message;
    Posted* next = nullptr;
    // Set for PostMessages: the messages, taken in place of `message`.
    std::vector<Message> batch;
  };
  // Pushes `posted` onto the inbox and wakes the owner.
  void Push(Posted* posted);
  // Moves what was posted into queue_, oldest first (owner thread).
  void TakePosted() const;
  bool HasPosted() const { return inbox_.load() != nullptr; }
  // Removes and returns the earliest timer that was due at `now` and armed
  // before `generation_limit`; false when there is none.
  bool PopDueTimer(std::uint64_t now, std::uint64_t generation_limit, WPARAM* id);
  std::int64_t MsUntilNextTimerLocked(std::uint64_t now) const;
  void Dispatch(Message& message);
  // Signals the wake event unless it is already signalled (any thread).
  void SignalWake();
  // Clears the wake event; the owner re-checks the queue afterwards.
  void ClearWake();

  platform::Clock& clock_;
  Handler handler_;
  std::function<void(int)> input_wait_;
  std::uint32_t pass_limit_ms_ = 0;
  mutable std::atomic<Posted*> inbox_{nullptr};
  // Posted messages in order; only the owner thread touches it.
  mutable std::deque<Message> queue_;
  // Guards the timers.
  mutable std::mutex mutex_;
  std::map<WPARAM, Timer> timers_;
  std::uint64_t next_generation_ = 0;
  std::atomic<bool> woken_{false};
  std::atomic<bool> quit_{false};
  std::atomic<int> exit_code_{0};
  platform::WakeEvent wake_;
  // True from the first SignalWake after a clear until the next clear.
  std::atomic<bool> signalled_{false};
};
