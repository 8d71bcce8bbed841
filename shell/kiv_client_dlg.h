// CKivClientDlg: the main window, which is the agent controller. Every
// request to run an agent arrives here as a posted WM_AGENT_REQUEST; the
// controller starts a thread now, later (a one-shot timer keyed by the
// agent's command id), after the running instance finishes, or not at all.
// It chains indexer -> iTunes import -> MusicID -> transmit, relaunches
// agents that were requested while running, reschedules the update check
// every hour, stops the agents on disable, system sleep and shutdown, and
// forwards the agents' status messages to the pages (MainWindowView).
//
// Threads: everything here runs on the thread of the main loop (`loop`,
// usually the program's main thread). Other threads talk to the controller
// only by posting to that loop. KillThread keeps dispatching the loop's
// messages while it waits for an agent thread, so any handler may run in
// the middle of a stop; per-kind "being stopped" flags and the stopping-all
// depth keep a thread from being started or stopped twice.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "app/agent_kinds.h"
#include "app/agent_registry.h"
#include "app/index_scope.h"
#include "app/kiv_client_agent.h"
#include "app/main_window_view.h"
#include "app/message_loop.h"
#include "platform/clock.h"
#include "platform/power_events.h"

class CKivClientDlg {
 public:
  struct Options {
    AgentJobRegistry* jobs = &AgentJobs();
    // Handed to the agents' jobs for their waits; the loop has its own.
    platform::Clock* clock = &platform::SystemClock();
    // Agent threads put themselves into the idle scheduling class.
    bool idle_priority = true;
    // Watch the system's sleep and resume signal (the program does; tests
    // that do not test it leave the system bus alone).
    bool watch_power_events = false;
  };

  // `loop` and `view` are not owned and must outlive the controller. The
  // caller makes OnMessage the loop's handler.
  CKivClientDlg(MessageLoop& loop, MainWindowView& view, Options options);
  CKivClientDlg(MessageLoop& loop, MainWindowView& view) : CKivClientDlg(loop, view, Options()) {}
  // Stops and joins any agent thread still running (without dispatching).
  ~CKivClientDlg();
  CKivClientDlg(const CKivClientDlg&) = delete;
  CKivClientDlg& operator=(const CKivClientDlg&) = delete;

  // Window initialisation: posts "Vornic ready" to the pages, requests the
  // play monitor and indexer after 10 s (with login credentials), the
  // connection monitor now and the update checker after 10 s, and starts
  // watching for system sleep.
  void OnInitDialog();
  // The message map of the main window.
  void OnMessage(Message& message);
  // Shutdown (window destruction): no more launches, tray icon removed,
  // every agent stopped, the updater included. WM_CLOSE and the shutdown
  // commands call it and then end the main loop; calling it again does
  // nothing.
  void DestroyWindow();

  // Request one agent: `delay` >= 1 (re)arms its timer, otherwise the kind's
  // rules decide. FALSE for an id that is not an agent's. For the indexer,
  // `payload` is the IndexScope asked for (empty: the whole collection); the
  // scopes of the requests that wait for one launch are merged, and the
  // launch hands the merged scope to the job.
  BOOL OnAgentRequest(WPARAM id, LPARAM delay, const std::string& payload = {});
  // An agent finished (or a notification, 33018/33028, arrived).
  BOOL OnAgentDone(WPARAM id, LPARAM result);
  // Creates the kind's thread with its launch request waiting and starts
  // it. FALSE for a bad kind, an occupied slot, or a thread the system
  // would not create.
  BOOL LaunchAgent(UINT kind);
  // Stops the kind's thread and waits for it, dispatching the loop's
  // messages meanwhile and sending the stop again on every input.
  void KillThread(UINT kind);
  void KillAllAgents(BOOL include_updater);
  // Enable or disable the agents; `status_id` is the string posted as a
  // status event.
  void SetAgentsEnabled(BOOL enable, UINT status_id);
  // PBT_* events: 0 and 4 disable, 2, 6, 7 and 18 enable.
  void OnPowerBroadcast(WPARAM event);

  bool IsAgentRunning(UINT kind) const;
  bool IsRelaunchPending(UINT kind) const;
  bool disabled() const { return disabled_; }
  bool shutting_down() const { return shutting_down_; }

 private:
  void OnCommand(WPARAM command);
  void OnHide();
  // WM_CLOSE: DestroyWindow, then ends the main loop with result 1.
  void Close();
  // Posts WM_AGENT_REQUEST (id of `kind`, delay) to the controller.
  void Request(UINT kind, std::uint32_t delay_ms, std::string payload = {});
  void PostStatusText(UINT string_id);
  void WatchPowerEvents();

  MessageLoop& loop_;
  MainWindowView& view_;
  Options options_;

  std::array<std::unique_ptr<CKivClientAgent>, kAgentKindCount> threads_;
  // Unused for AGENT_UPDATER, which is never relaunched.
  std::array<bool, kAgentKindCount> relaunch_pending_{};
  std::array<bool, kAgentKindCount> being_stopped_{};
  // What the indexer requests since its last launch asked for.
  IndexScope index_scope_;
  bool disabled_ = false;
  bool shutting_down_ = false;
  bool destroyed_ = false;
  // KillAllAgents may nest (a disable dispatched while another waits).
  int stopping_all_ = 0;
  std::unique_ptr<platform::PowerEvents> power_events_;
};
