#include "ui/tester_database.h"

#include <QMetaObject>
#include <mutex>
#include <set>

#include "app/agent_kinds.h"
#include "app/reg_settings.h"
#include "db/kiv_db.h"
#include "media/tag_reader.h"

namespace {

std::mutex g_threads_mutex;
std::set<QThread*> g_threads;

}  // namespace

CTesterDatabase::CTesterDatabase(MessageLoop* main_window, platform::Clock& clock)
    : main_window_(main_window), clock_(clock) {}

CTesterDatabase::~CTesterDatabase() = default;

CTesterDatabase* CTesterDatabase::Start(MessageLoop* main_window, platform::Clock& clock) {
  auto* thread = new QThread;
  thread->setObjectName(QStringLiteral("tester-db"));
  auto* worker = new CTesterDatabase(main_window, clock);
  worker->moveToThread(thread);
  {
    std::lock_guard<std::mutex> lock(g_threads_mutex);
    g_threads.insert(thread);
  }
  QObject::connect(thread, &QThread::finished, thread, [thread] {
    {
      std::lock_guard<std::mutex> lock(g_threads_mutex);
      g_threads.erase(thread);
    }
    thread->deleteLater();
  });
  thread->start();
  return worker;
}

void CTesterDatabase::Release() {
  Queue([this] {
    QThread* thread = QThread::currentThread();
    delete this;
    thread->quit();
  });
}

void CTesterDatabase::WaitForAll() {
  std::set<QThread*> threads;
  {
    std::lock_guard<std::mutex> lock(g_threads_mutex);
    threads = g_threads;
  }
  for (QThread* thread : threads) thread->wait();
}

void CTesterDatabase::Queue(std::function<void()> work) {
  QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void CTesterDatabase::SummaryAsync() {
  Queue([this] {
    if (!Db()) return;
    emit summaryReady(QString::fromStdString(
        SummaryText(KivDB::ValidCount(), KivDB::EmptyCount(), SupportedExtensions())));
  });
}

void CTesterDatabase::ShowAsync(const QString& path) {
  Queue([this, path] { Show(path); });
}

void CTesterDatabase::ChangeAsync(const QString& path, TesterChange change) {
  Queue([this, path, change] {
    if (!Change(path.toStdString(), change)) return;
    RequestTransmit();
    Show(path);
  });
}

void CTesterDatabase::SendAllAsync(const QString& path) {
  Queue([this, path] {
    if (KivDB* db = Db()) {
      // Paths first: the changes must not disturb the iteration.
      std::vector<std::string> paths;
      DBEntry entry;
      for (std::uint32_t pos = db->GetFirstEntry(&entry, FALSE); pos;
           pos = db->GetNextEntry(&entry, FALSE))
        paths.push_back(EntryPath(entry));
      for (const std::string& p : paths) Change(p, TesterChange::kSend);
    }
    RequestTransmit();
    Show(path);
  });
}

void CTesterDatabase::VersionCheckAsync() {
  Queue([this] {
    AppSettings().WriteDword(kSubKeySettings, "UpdateAllow", 3);
    if (main_window_) main_window_->PostMessage(WM_AGENT_REQUEST, ID_AGENT_UPDATER, 0);
  });
}

KivDB* CTesterDatabase::Db() {
  if (!db_) db_ = std::make_unique<KivDB>();
  return db_->IsReady() ? db_.get() : nullptr;
}

void CTesterDatabase::Show(const QString& path) {
  KivDB* db = Db();
  if (!db || path.isEmpty()) return;
  DBEntry entry;
  const std::string p = path.toStdString();
  const bool found = db->GetEntry(p, &entry);
  emit recordReady(path, QString::fromStdString(RecordText(p, found ? &entry : nullptr)));
}

bool CTesterDatabase::Change(const std::string& path, TesterChange change) {
  KivDB* db = Db();
  if (!db) return false;
  const std::int64_t now = platform::NowAsStoredTime(clock_.WallTime());
  return db->ModifyEntry(path, [&](DBEntry& entry) {
    ApplyTesterChange(entry, change, now);
    return true;
  });
}

void CTesterDatabase::RequestTransmit() {
  if (main_window_) main_window_->PostMessage(WM_AGENT_REQUEST, ID_AGENT_SERVER, 0);
}
