#include "ui/update_offer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/display_text.h"

CUpdateOffer::CUpdateOffer(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("updateOffer"));
  setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  text_ = new QLabel(this);
  text_->setWordWrap(true);
  auto* yes = new QPushButton(QStringLiteral("Yes"), this);
  yes->setObjectName(QStringLiteral("updateYes"));
  yes->setAutoDefault(false);
  yes->setAccessibleName(QStringLiteral("Yes, install the update"));
  auto* no = new QPushButton(QStringLiteral("No"), this);
  no->setObjectName(QStringLiteral("updateNo"));
  no->setAutoDefault(false);
  no->setAccessibleName(QStringLiteral("No, not now"));
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(text_, 1);
  layout->addWidget(yes);
  layout->addWidget(no);
  connect(yes, &QPushButton::clicked, this, [this] {
    hide();
    emit accepted();
  });
  connect(no, &QPushButton::clicked, this, &QWidget::hide);
  hide();
}

void CUpdateOffer::Offer(const std::string& text) {
  text_->setText(DisplayText(text).simplified());
  show();
}
