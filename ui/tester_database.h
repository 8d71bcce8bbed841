// CTesterDatabase: the database tester's worker. It lives on a thread of
// its own with its own KivDB handle, so that no database call (which may
// wait for the process-wide lock while an agent holds it) runs on the GUI
// thread. The tester queues work with the Async calls; results come back
// as signals, delivered on the tester's thread.
//
// Threads: the Async calls from any thread; everything else runs on the
// worker thread. Destroy it on its own thread (Release).
#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <memory>

#include "app/message_loop.h"
#include "platform/clock.h"
#include "ui/record_text.h"

class KivDB;

class CTesterDatabase : public QObject {
  Q_OBJECT
 public:
  // `main_window` receives the agent requests (not owned; must outlive
  // every queued call).
  CTesterDatabase(MessageLoop* main_window, platform::Clock& clock);
  ~CTesterDatabase() override;

  // Starts a worker thread with a new CTesterDatabase on it.
  static CTesterDatabase* Start(MessageLoop* main_window, platform::Clock& clock);
  // Lets queued work finish, then closes the handle and ends the thread.
  void Release();
  // Waits for every worker thread to end (at shutdown, before the database
  // closes).
  static void WaitForAll();

  void SummaryAsync();
  void ShowAsync(const QString& path);
  // Applies one button's change to the record of `path`, requests the
  // transmit agent and shows the record again; nothing happens for a file
  // without a record.
  void ChangeAsync(const QString& path, TesterChange change);
  // The Send change for every record, then the transmit request and the
  // record of `path` again.
  void SendAllAsync(const QString& path);
  // UpdateAllow = 3 and an update check now.
  void VersionCheckAsync();

 signals:
  void summaryReady(const QString& text);
  void recordReady(const QString& path, const QString& text);

 private:
  void Queue(std::function<void()> work);
  // The handle, opened on first use; null when the database is not usable.
  KivDB* Db();
  void Show(const QString& path);
  bool Change(const std::string& path, TesterChange change);
  void RequestTransmit();

  MessageLoop* main_window_;
  platform::Clock& clock_;
  std::unique_ptr<KivDB> db_;
};
