// HyperlinkStatic: a static text that acts as a link, used on the About box
// and the account page. Blue before its first activation and purple after,
// underlined while the mouse is over it, a hand cursor, a focus frame. A
// left-button release or a release of the space key opens the target: an
// address or file with the desktop's default handler, or, for the target
// "CtlPnlConSet", the desktop's network connection settings.
//
// GUI thread only.
#pragma once

#include <QLabel>
#include <QString>

class HyperlinkStatic : public QLabel {
  Q_OBJECT
 public:
  static constexpr const char* kConnectionSettings = "CtlPnlConSet";

  HyperlinkStatic(const QString& text, const QString& target, QWidget* parent = nullptr);

  const QString& target() const { return target_; }
  void SetTarget(const QString& target) { target_ = target; }
  bool visited() const { return visited_; }
  // Opens the target and marks the link visited.
  void Activate();

 signals:
  void activated();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void SetColour();
  void SetUnderline(bool on);

  QString target_;
  bool visited_ = false;
};

// Opens the desktop's network connection settings; shows a message when
// the desktop has no such tool.
void OpenConnectionSettings();
