// Test jobs and a recording main window for the agent tests. The jobs are
// real CAgent jobs on real agent threads; a JobBoard shared with the test
// says when each may finish and with what result, and records what they
// did.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/agent.h"
#include "app/agent_registry.h"
#include "app/log.h"
#include "app/main_window_view.h"
#include "app/message_loop.h"

namespace agent_test {

constexpr auto kPatience = std::chrono::seconds(20);

// What the test jobs did, by kind, and what they are allowed to do.
class JobBoard {
 public:
  struct Kind {
    int started = 0;
    int finished = 0;
    int quit_seen = 0;  // runs that ended because CheckQuit answered TRUE
    int releases = 0;   // runs allowed to finish on their own
    int result = 1;     // what a released or stopped run returns
    std::chrono::steady_clock::time_point finished_at;
  };

  void Started(UINT kind) {
    Change([&] { ++kinds_[kind].started; });
  }
  void Finished(UINT kind, bool by_quit) {
    Change([&] {
      ++kinds_[kind].finished;
      kinds_[kind].finished_at = std::chrono::steady_clock::now();
      if (by_quit) ++kinds_[kind].quit_seen;
    });
  }
  // Lets the kind's current (or next) run return.
  void Release(UINT kind) {
    Change([&] { ++kinds_[kind].releases; });
  }
  void SetResult(UINT kind, int result) {
    Change([&] { kinds_[kind].result = result; });
  }
  // Consumes a release when there is one.
  bool TakeRelease(UINT kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (kinds_[kind].releases == 0) return false;
    --kinds_[kind].releases;
    return true;
  }
  Kind Get(UINT kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    return kinds_[kind];
  }

 private:
  void Change(const std::function<void()>& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
  }
  std::mutex mutex_;
  std::map<UINT, Kind> kinds_;
};

// Works in steps of `step_ms` of real time, calling CheckQuit at each,
// until the board releases it or a stop arrives.
class GatedJob : public CAgent {
 public:
  GatedJob(JobBoard& board, UINT kind, int step_ms) : board_(board), kind_(kind), step_(step_ms) {}
  int Run() override {
    board_.Started(kind_);
    for (;;) {
      if (CheckQuit()) {
        board_.Finished(kind_, true);
        return board_.Get(kind_).result;
      }
      if (board_.TakeRelease(kind_)) {
        board_.Finished(kind_, false);
        return board_.Get(kind_).result;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(step_));
    }
  }

 private:
  JobBoard& board_;
  UINT kind_;
  int step_;
};

inline void RegisterGatedJob(AgentJobRegistry& jobs, JobBoard& board, UINT kind, int step_ms = 1) {
  jobs.Register(kind, [&board, kind, step_ms](const AgentContext&) {
    return std::make_unique<GatedJob>(board, kind, step_ms);
  });
}

// Records what the controller asked of the window.
class RecordingView : public MainWindowView {
 public:
  void ShowWindow(bool show) override { shown.push_back(show); }
  void ShowPage(MainWindowPage page, WPARAM) override { pages.push_back(page); }
  void ShowAbout() override { ++about; }
  void LaunchMyKiv() override {}
  void OpenDatabaseTester() override { ++tester; }
  void SetAgentsButtonText(const std::string& text) override { button = text; }
  void SetTrayTooltip(const std::string& text) override { tooltip = text; }
  void ShowBalloon(const std::string& text, bool count) override {
    balloons.push_back(text);
    counted_balloons += count ? 1 : 0;
  }
  void OnTrayNotification(WPARAM, LPARAM) override {}
  void RemoveTrayIcon() override { tray_removed = true; }
  void ForwardToPages(Message& message) override {
    if (message.id == WM_STATUS_EVENT) events.push_back(message.payload);
    ++page_messages;
  }

  std::vector<bool> shown;
  std::vector<MainWindowPage> pages;
  int about = 0;
  int tester = 0;
  std::string button;
  std::string tooltip;
  std::vector<std::string> balloons;
  // Balloons shown with the count flag (update notices).
  int counted_balloons = 0;
  bool tray_removed = false;
  std::vector<std::string> events;
  std::atomic<int> page_messages{0};
};

// Dispatches `loop` until `done` holds; false after kPatience.
inline bool PumpUntil(MessageLoop& loop, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + kPatience;
  for (;;) {
    loop.ProcessPending();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    loop.WaitForInput(5);
  }
}

// Dispatches what is waiting, repeatedly, for `ms` of real time.
inline void PumpFor(MessageLoop& loop, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    loop.ProcessPending();
    loop.WaitForInput(2);
  }
  loop.ProcessPending();
}

inline std::size_t CountOf(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace agent_test
