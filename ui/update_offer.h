// CUpdateOffer: a newer version offered in the window, for desktops without
// a notification area, where the update balloon cannot be clicked. One line
// with the offer's text and Yes and No; Yes accepts the update (as a click
// on the balloon does), No puts the line away. Hidden until an offer comes.
//
// GUI thread only.
#pragma once

#include <QFrame>
#include <string>

class QLabel;

class CUpdateOffer : public QFrame {
  Q_OBJECT
 public:
  explicit CUpdateOffer(QWidget* parent = nullptr);

  // Shows the line with `text` (on one line: breaks become spaces).
  void Offer(const std::string& text);

 signals:
  void accepted();

 private:
  QLabel* text_;
};
