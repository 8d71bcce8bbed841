// CEventBox: the status page's recent-events list (control 1106): a
// read-only multi-line edit that only ever gains lines at the end. Past its
// text limit less 1024 characters the oldest lines are dropped first. A
// user reading at the bottom follows new lines; a user who scrolled up or
// selected text keeps the view and the selection while lines arrive.
//
// Lengths count each line with its CR LF, as the edit stores it.
//
// GUI thread only.
#pragma once

#include <QPlainTextEdit>
#include <string>

class CEventBox : public QPlainTextEdit {
  Q_OBJECT
 public:
  // The edit's default text limit.
  static constexpr int kDefaultTextLimit = 32767;
  static constexpr int kLimitMargin = 1024;

  explicit CEventBox(QWidget* parent = nullptr);

  void SetTextLimit(int limit) { text_limit_ = limit; }
  int text_limit() const { return text_limit_; }
  // Stored length: the sum of each line's length plus 2.
  int TextLength() const { return text_length_; }
  void AppendLine(const std::string& line);
  // Whether the view follows new lines: an empty caret at the very end and
  // the view scrolled to the bottom.
  bool Following() const;

 private:
  // Removes the first line; returns the visual lines it took.
  int DropFirstLine();

  int text_limit_ = kDefaultTextLimit;
  int text_length_ = 0;
};
