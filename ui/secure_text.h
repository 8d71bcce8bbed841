// Overwrites a secret in place before its memory is given back, so a typed
// password does not linger in freed memory; then empties the text.
//
// Any thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>

#include "platform/secret_text.h"

inline void WipeText(std::string& text) { platform::WipeString(text); }

inline void WipeText(QByteArray& bytes) {
  volatile char* p = bytes.data();
  for (qsizetype i = 0; i < bytes.size(); ++i) p[i] = 0;
  bytes.clear();
}

// Writes into the buffer the string holds now (when the buffer is shared,
// data() makes a private copy first and only that copy is wiped).
inline void WipeText(QString& text) {
  volatile char16_t* p = reinterpret_cast<char16_t*>(text.data());
  for (qsizetype i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}
