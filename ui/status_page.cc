#include "ui/status_page.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QVBoxLayout>

#include <QTimer>
#include <ctime>

#include "app/identification_state.h"
#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "db/collection_counts.h"
#include "db/kiv_db.h"
#include "server/agent_updater.h"

namespace {

QLabel* SunkenNumber(QWidget* parent, const char* id) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(id));
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setMinimumWidth(90);
  return label;
}

}  // namespace

CStatusPage::CStatusPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QString::number(kTemplateId));

  auto* work = new QGroupBox(QStringLiteral("Work In Progress"), this);
  description_ = new QLabel(QStringLiteral("Progress description"), work);
  description_->setObjectName(QStringLiteral("1097"));
  bar_ = new QProgressBar(work);
  bar_->setObjectName(QStringLiteral("1100"));
  bar_->setTextVisible(false);
  bar_->setAccessibleName(QStringLiteral("Progress"));
  status_ = new QLabel(QStringLiteral("Progress status msg"), work);
  status_->setObjectName(QStringLiteral("1098"));
  // A long file name must not widen the window.
  status_->setMinimumWidth(1);
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  auto* work_layout = new QVBoxLayout(work);
  work_layout->addWidget(description_);
  work_layout->addWidget(bar_);
  work_layout->addWidget(status_);

  auto* collection = new QGroupBox(QStringLiteral("Music Collection"), this);
  found_ = SunkenNumber(collection, "1103");
  kivified_ = SunkenNumber(collection, "1105");
  auto* counts = new QGridLayout(collection);
  auto* found_label = new QLabel(QStringLiteral("Files Found:"), collection);
  auto* kivified_label = new QLabel(QStringLiteral("Files KIVified:"), collection);
  found_label->setBuddy(found_);
  kivified_label->setBuddy(kivified_);
  counts->addWidget(found_label, 0, 0);
  counts->addWidget(found_, 0, 1);
  counts->addWidget(kivified_label, 0, 3);
  counts->addWidget(kivified_, 0, 4);
  counts->setColumnStretch(2, 1);
  state_line_ = new QLabel(collection);
  state_line_->setObjectName(QStringLiteral("StateLine"));
  // Two lines whatever they say: a long reason must neither widen the
  // window nor move the events list.
  state_line_->setMinimumWidth(1);
  state_line_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  counts->addWidget(state_line_, 1, 0, 1, 5);

  events_ = new CEventBox(this);
  events_->setObjectName(QStringLiteral("1106"));
  auto* events_label = new QLabel(QStringLiteral("Recent Events"), this);
  events_label->setBuddy(events_);
  events_->setAccessibleName(QStringLiteral("Recent Events"));

  update_offer_ = new CUpdateOffer(this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(update_offer_);
  layout->addWidget(work);
  layout->addWidget(collection);
  layout->addWidget(events_label);
  layout->addWidget(events_, 1);
  InitPage();
}

const char* CStatusPage::JobDescription(long long job) {
  switch (job) {
    case 1:
      return "Scanning...";
    case 2:
      return "Indexing...";
    case 3:
      return "Reading iTunes library...";
    case 4:
      return "Identifying Tracks...";
    case 5:
      return "Sending song information to your KIV...";
    case 9:
      return "Downloading update...";
    default:
      return "Idle";
  }
}

int CStatusPage::Slot(long long job) { return job >= 0 && job < kJobSlots ? int(job) : -1; }

void CStatusPage::InitPage() {
  totals_.fill(0);
  positions_.fill(0);
  MakeCurrent(0);
  status_->clear();
  RefreshStateLine();
  RefreshCounts();
}

void CStatusPage::MakeCurrent(long long job) {
  if (job == current_job_) return;
  current_job_ = job;
  const char* text = JobDescription(job);
  description_->setText(QString::fromUtf8(text));
  if (job_listener_) job_listener_(text);
}

void CStatusPage::SetBar(int low, int high, int pos) {
  range_low_ = low;
  range_high_ = high;
  position_ = pos;
  if (high < low) {
    bar_->setRange(0, 1);
    bar_->setValue(0);
    return;
  }
  bar_->setRange(low, std::max(high, low + 1));
  if (pos < low)
    bar_->reset();
  else
    bar_->setValue(std::min(pos, high));
}

void CStatusPage::OnStatusMessage(Message& message) {
  // The job number travels as a signed value in wParam.
  const long long job = static_cast<long long>(static_cast<std::int64_t>(message.wParam));
  const int slot = Slot(job);
  const int value = static_cast<int>(message.lParam);
  switch (message.id) {
    case WM_STATUS_PROGRESS_TEXT:
      MakeCurrent(job);
      status_->setText(QString::fromStdString(message.payload));
      break;
    case WM_STATUS_PROGRESS_RANGE:
      MakeCurrent(job);
      if (slot >= 0) totals_[slot] = value;
      SetBar(1, value, slot >= 0 ? positions_[slot] : 0);
      break;
    case WM_STATUS_PROGRESS_POS:
      MakeCurrent(job);
      if (slot >= 0) positions_[slot] = value;
      SetBar(1, slot >= 0 ? totals_[slot] : 0, value);
      break;
    case WM_STATUS_EVENT:
      events_->AppendLine(message.payload);
      RefreshStateLine();
      break;
    case WM_STATUS_DONE:
      MakeCurrent(0);
      SetBar(1, 100, 0);
      status_->clear();
      RefreshStateLine();
      break;
    case WM_STATUS_COUNTS:
      RefreshCounts();
      break;
    default:
      break;
  }
}

void CStatusPage::RefreshCounts() {
  if (!KivDB::IsInitialised() || count_pending_) return;
  const qint64 since = counted_.isValid() ? counted_.elapsed() : kCountsIntervalMs;
  if (since >= kCountsIntervalMs) {
    CountNow();
    return;
  }
  count_pending_ = true;
  QTimer::singleShot(static_cast<int>(kCountsIntervalMs - since), this, [this] {
    count_pending_ = false;
    CountNow();
  });
}

void CStatusPage::CountNow() {
  counted_.start();
  SearchPathMap paths;
  LoadSearchPaths(paths);
  // The GUI thread never waits for the database lock.
  bool busy = false;
  const CollectionCounts counts = CountCollection(paths, &busy);
  if (busy) {
    RefreshCounts();
    return;
  }
  found_->setText(QString::number(counts.found));
  kivified_->setText(QString::number(counts.reported));
  // A number alone says nothing to a screen reader.
  found_->setAccessibleName(QStringLiteral("Files Found: ") + found_->text());
  kivified_->setAccessibleName(QStringLiteral("Files KIVified: ") + kivified_->text());
  RefreshStateLine();
}

void CStatusPage::RefreshStateLine() {
  DWORD use_music_id = 0;
  AppSettings().ReadDword(kSubKeySettings, "UseMusicID", use_music_id);
  const QString text = QString::fromStdString(
      "Identification: " + IdentificationStatusText(use_music_id != 0, std::time(nullptr)) +
      "\nLast update check: " + UpdateCheckStatusText());
  // An unchanged line is not set again: no layout pass per event.
  if (text != state_line_->text()) state_line_->setText(text);
}
