#include "ui/event_box.h"

#include <QScrollBar>
#include <QTextBlock>

CEventBox::CEventBox(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

bool CEventBox::Following() const {
  const QTextCursor caret = textCursor();
  const QScrollBar* bar = verticalScrollBar();
  return !caret.hasSelection() && caret.atEnd() && bar->value() == bar->maximum();
}

int CEventBox::DropFirstLine() {
  QTextBlock first = document()->firstBlock();
  const int lines = first.layout() ? std::max(1, first.layout()->lineCount()) : 1;
  text_length_ -= first.length() - 1 + 2;
  QTextCursor cursor(first);
  if (first.next().isValid())
    cursor.setPosition(first.next().position(), QTextCursor::KeepAnchor);
  else
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.removeSelectedText();
  return lines;
}

void CEventBox::AppendLine(const std::string& line) {
  setUpdatesEnabled(false);
  const bool follow = Following();
  QTextCursor noted = textCursor();
  int first_visible = verticalScrollBar()->value();

  // The edit holds "line\r\n" per line, the last one ending the text too;
  // as a document it is one block per line plus an empty last block.
  while (text_length_ > text_limit_ - kLimitMargin && document()->blockCount() > 1)
    first_visible = std::max(0, first_visible - DropFirstLine());

  // A text with line breaks of its own becomes several lines.
  QString text = QString::fromStdString(line);
  text_length_ += static_cast<int>(text.size()) + 2;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.remove('\r');
  noted.setKeepPositionOnInsert(true);
  QTextCursor end(document());
  end.movePosition(QTextCursor::End);
  end.insertText(text + QChar('\n'));

  if (follow) {
    moveCursor(QTextCursor::End);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  } else {
    // The edit's own cursor already moved with the removed text; set it
    // back explicitly in case the insertion touched it.
    setTextCursor(noted);
    verticalScrollBar()->setValue(first_visible);
  }
  setUpdatesEnabled(true);
}
