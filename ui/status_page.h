// CStatusPage: the "Activity Monitor" page (template 170). One progress
// area follows the job that reported last, with the job's description,
// its remembered range and position and its status line; the collection
// counts (tracks in the chosen, enabled folders), a line on identification
// and the last update check; the recent events.
//
// It is driven only by the status messages the agents post to the main
// window (OnStatusMessage); nothing here waits for anything.
//
// GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "app/message_loop.h"
#include "ui/event_box.h"
#include "ui/update_offer.h"

class CStatusPage : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kTemplateId = 170;
  // Remembered totals and positions exist for jobs 0 to 9.
  static constexpr int kJobSlots = 10;
  static constexpr int kCountsIntervalMs = 500;

  explicit CStatusPage(QWidget* parent = nullptr);

  // WM_STATUS_PROGRESS_TEXT ... WM_STATUS_COUNTS; the text is moved out.
  void OnStatusMessage(Message& message);
  // Called with the description whenever the current job changes (the tray
  // shows it in its tooltip).
  void SetJobListener(std::function<void(const std::string&)> listener) {
    job_listener_ = std::move(listener);
  }

  // The description of `job` ("Idle" for a job without one).
  static const char* JobDescription(long long job);

  long long current_job() const { return current_job_; }
  // The bar's range and position as the page set them (a range whose top is
  // below its bottom is shown as an empty bar).
  int range_low() const { return range_low_; }
  int range_high() const { return range_high_; }
  int position() const { return position_; }
  CEventBox* events() { return events_; }
  // A newer version offered without a notification area (hidden otherwise).
  CUpdateOffer* update_offer() { return update_offer_; }

 private:
  void InitPage();
  void MakeCurrent(long long job);
  void SetBar(int low, int high, int pos);
  // At most every kCountsIntervalMs, and never waiting for the database
  // lock: a refresh that comes too soon or finds the lock taken is made a
  // little later.
  void RefreshCounts();
  void CountNow();
  void RefreshStateLine();
  static int Slot(long long job);

  QLabel* description_;
  QProgressBar* bar_;
  QLabel* status_;
  QLabel* found_;
  QLabel* kivified_;
  QLabel* state_line_;
  CEventBox* events_;
  CUpdateOffer* update_offer_;
  QElapsedTimer counted_;
  bool count_pending_ = false;

  long long current_job_ = -100;
  int range_low_ = 1;
  int range_high_ = 100;
  int position_ = 0;
  std::array<int, kJobSlots> totals_{};
  std::array<int, kJobSlots> positions_{};
  std::function<void(const std::string&)> job_listener_;
};
