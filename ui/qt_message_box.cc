#include "ui/qt_message_box.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QThread>

#include "app/log.h"
#include "ui/display_text.h"

QtMessageBoxHost::QtMessageBoxHost(QObject* parent) : QObject(parent) {}

QtMessageBoxHost::~QtMessageBoxHost() { Close(); }

int QtMessageBoxHost::SafeAnswer(UINT type) { return (type & 0xF) == MB_YESNO ? IDNO : IDOK; }

QMessageBox* QtMessageBoxHost::MakeBox(const std::string& text, UINT type) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  if (type & MB_ICONERROR) icon = QMessageBox::Critical;
  if (type & MB_ICONQUESTION) icon = QMessageBox::Question;
  if (type & MB_ICONINFORMATION) icon = QMessageBox::Information;
  const QString body = DisplayText(text);
  const bool yes_no = (type & 0xF) == MB_YESNO;
  auto* box = new QMessageBox(icon, QStringLiteral("Vornic"), body,
                              yes_no ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
  box->setObjectName(QStringLiteral("messagebox"));
  return box;
}

namespace {

int Answer(QMessageBox* box, UINT type) {
  if (box->clickedButton() && box->standardButton(box->clickedButton()) == QMessageBox::Yes)
    return IDYES;
  return QtMessageBoxHost::SafeAnswer(type);
}

}  // namespace

int QtMessageBoxHost::Show(const std::string& text, UINT type) {
  AppLog().Log(text, (type & MB_ICONERROR) ? LEVEL_ERROR : LEVEL_INFO, MODULE_APPLICATION);
  auto pending = std::make_shared<Pending>();
  pending->type = type;
  std::future<int> answer = pending->answer.get_future();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return SafeAnswer(type);
    pending_.push_back(pending);
  }
  if (QThread::currentThread() == thread())
    Open(pending, text, true);
  else
    QMetaObject::invokeMethod(
        this, [this, pending, text] { Open(pending, text, false); }, Qt::QueuedConnection);
  const int result = answer.get();
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.remove(pending);
  return result;
}

void QtMessageBoxHost::ShowNoWait(const std::string& text, UINT type) {
  AppLog().Log(text, (type & MB_ICONERROR) ? LEVEL_ERROR : LEVEL_INFO, MODULE_APPLICATION);
  auto pending = std::make_shared<Pending>();
  pending->type = type;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    pending_.push_back(pending);
  }
  // Taken off the open list when it is answered, on the GUI thread.
  QMetaObject::invokeMethod(
      this,
      [this, pending, text] {
        Open(pending, text, false);
        auto forget = [this, pending] {
          std::lock_guard<std::mutex> lock(mutex_);
          pending_.remove(pending);
        };
        if (!pending->box) return forget();
        connect(pending->box, &QObject::destroyed, this, forget);
      },
      Qt::QueuedConnection);
}

void QtMessageBoxHost::Open(const std::shared_ptr<Pending>& pending, const std::string& text,
                            bool wait) {
  const UINT type = pending->type;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
      pending->Answer(SafeAnswer(type));
      return;
    }
  }
  QMessageBox* box = MakeBox(text, type);
  box->setAttribute(Qt::WA_DeleteOnClose);
  pending->box = box;
  connect(box, &QMessageBox::finished, this,
          [pending, box, type](int) { pending->Answer(Answer(box, type)); });
  // Gone without a button (closed by the window manager or at shutdown).
  connect(box, &QObject::destroyed, this, [pending, type] { pending->Answer(SafeAnswer(type)); });
  if (wait) {
    box->exec();
    return;
  }
  // An agent's box leaves the window and the tray usable, as a box with no
  // owner window does; it only stays in front.
  box->setWindowModality(Qt::NonModal);
  box->setWindowFlag(Qt::WindowStaysOnTopHint);
  box->show();
  box->raise();
}

void QtMessageBoxHost::Close() {
  std::list<std::shared_ptr<Pending>> open;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    open = pending_;
  }
  for (auto& pending : open) {
    if (pending->box) pending->box->close();
    pending->Answer(SafeAnswer(pending->type));
  }
}
