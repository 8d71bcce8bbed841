#include "ui/hyperlink_static.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

HyperlinkStatic::HyperlinkStatic(const QString& text, const QString& target, QWidget* parent)
    : QLabel(text, parent), target_(target) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setFrameShape(QFrame::NoFrame);
  SetColour();
}

void HyperlinkStatic::SetColour() {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, visited_ ? QColor(128, 0, 128) : QColor(0, 0, 255));
  setPalette(p);
}

void HyperlinkStatic::SetUnderline(bool on) {
  QFont f = font();
  f.setUnderline(on);
  setFont(f);
}

void HyperlinkStatic::enterEvent(QEnterEvent* event) {
  SetUnderline(true);
  QLabel::enterEvent(event);
}

void HyperlinkStatic::leaveEvent(QEvent* event) {
  SetUnderline(false);
  QLabel::leaveEvent(event);
}

void HyperlinkStatic::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) Activate();
  QLabel::mouseReleaseEvent(event);
}

void HyperlinkStatic::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && !event->isAutoRepeat())
    Activate();
  else
    QLabel::keyReleaseEvent(event);
}

void HyperlinkStatic::focusInEvent(QFocusEvent* event) {
  setFrameShape(QFrame::Box);
  QLabel::focusInEvent(event);
}

void HyperlinkStatic::focusOutEvent(QFocusEvent* event) {
  setFrameShape(QFrame::NoFrame);
  QLabel::focusOutEvent(event);
}

void HyperlinkStatic::Activate() {
  if (target_ == QLatin1String(kConnectionSettings))
    OpenConnectionSettings();
  else
    QDesktopServices::openUrl(QUrl::fromUserInput(target_));
  visited_ = true;
  SetColour();
  emit activated();
}

void OpenConnectionSettings() {
  const QList<QStringList> tools = {
      {QStringLiteral("nm-connection-editor")},
      {QStringLiteral("gnome-control-center"), QStringLiteral("network")},
      {QStringLiteral("systemsettings"), QStringLiteral("kcm_networkmanagement")},
  };
  for (const QStringList& tool : tools) {
    const QString program = QStandardPaths::findExecutable(tool.first());
    if (!program.isEmpty() && QProcess::startDetached(program, tool.mid(1))) return;
  }
  QMessageBox::information(nullptr, QStringLiteral("Vornic"),
                           QStringLiteral("No network settings tool was found on this desktop. "
                                          "Please open your desktop's network settings."));
}
