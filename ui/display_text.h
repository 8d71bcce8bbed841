// The program's texts break lines with CR LF, as they are stored and
// logged; Qt's labels, editors, tooltips and notifications want LF.
//
// Any thread.
#pragma once

#include <QString>
#include <string>

inline QString DisplayText(QString text) {
  return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
inline QString DisplayText(const std::string& text) {
  return DisplayText(QString::fromStdString(text));
}
