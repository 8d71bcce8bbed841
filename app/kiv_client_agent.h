// CKivClientAgent: one agent thread. It owns a std::thread and that
// thread's own message loop, runs at most one job in its life and then
// waits in its loop until it is told to stop.
//
// Messages of the thread's loop:
// - WM_AGENT_REQUEST (wParam = agent kind): OnAgentLaunch. The job comes
//   from the registry; its Run result is posted to the main window as
//   WM_AGENT_DONE (wParam = the kind's command id, lParam = result).
// - WM_AGENT_STOP: sets "stop running" and queues the quit message, which
//   ends the loop once everything posted before it was handled (a launch
//   request that waits behind a stop is refused, not run).
//
// The controller (main thread) creates the object, posts the launch request,
// calls Start, and later PostStop, Ended and Join. Post*, Ended and
// thread_id may be called from any thread; loop() is for the agent thread
// (CAgent::CheckQuit). The object must outlive its thread: the destructor
// stops and joins a thread that is still running.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "app/agent_registry.h"
#include "app/message_loop.h"
#include "platform/clock.h"
#include "platform/win_types.h"

class CKivClientAgent {
 public:
  // `main_window` (not owned, may be null) receives the done message.
  // `on_exit` runs on the agent thread as its last act, after Ended()
  // became true (the controller wakes its own loop with it).
  // `idle_priority`: the thread puts itself into the idle scheduling class.
  CKivClientAgent(AgentJobRegistry& jobs, MessageLoop* main_window, platform::Clock& clock,
                  std::function<void()> on_exit = {}, bool idle_priority = true);
  ~CKivClientAgent();
  CKivClientAgent(const CKivClientAgent&) = delete;
  CKivClientAgent& operator=(const CKivClientAgent&) = delete;

  // Starts the thread; what was posted before is waiting in its queue.
  // Returns once the thread id is known. FALSE (last error set) when the
  // system cannot create the thread.
  BOOL Start();

  // A launch request's payload says what the job is asked to do (the
  // job's AgentContext::request).
  void PostThreadMessage(UINT id, WPARAM wParam = 0, LPARAM lParam = 0, std::string payload = {});
  // Posts WM_AGENT_STOP, unless an earlier one is still waiting in the
  // queue (a stop sent again and again to a job that does not look at its
  // queue would only pile up).
  void PostStop();

  bool Started() const { return thread_.joinable(); }
  // True once the thread's loop has ended.
  bool Ended() const { return ended_; }
  // The kernel's thread id; 0 before Start.
  DWORD thread_id() const { return thread_id_; }
  // Waits for the thread to end. Call after Ended() or a stop.
  void Join();
  // The code the quit message carried (0); valid after Join.
  int exit_code() const { return exit_code_; }

  MessageLoop& loop() { return loop_; }

  // The agent object of the calling thread; null on other threads.
  static CKivClientAgent* Current();
  // True once a stop was posted to this thread, before the thread has seen
  // it: a blocking call (a server transfer) polls it to give up at once.
  bool StopRequested() const { return stop_posted_; }
  // StopRequested() of the calling agent thread; false on other threads.
  static bool CurrentStopRequested();

 private:
  void ThreadMain();
  void OnMessage(Message& message);
  void OnAgentLaunch(UINT kind, const std::string& request);

  AgentJobRegistry& jobs_;
  MessageLoop* main_window_;
  platform::Clock& clock_;
  std::function<void()> on_exit_;
  const bool idle_priority_;

  MessageLoop loop_;
  std::thread thread_;
  std::mutex start_mutex_;
  std::condition_variable started_;
  std::atomic<DWORD> thread_id_{0};
  std::atomic<bool> ended_{false};
  // Set when the thread has been told to stop.
  std::atomic<int> stop_running_{0};
  // 1 while a WM_AGENT_STOP from PostStop waits in the queue.
  std::atomic<int> stop_queued_{0};
  // Set when any WM_AGENT_STOP was posted; never cleared.
  std::atomic<bool> stop_posted_{false};
  bool launched_ = false;  // agent thread only
  int exit_code_ = 0;
};
