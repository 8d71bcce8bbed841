#include "ui/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap Draw(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x5b, 0x2c, 0x8f));
  p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.2, s * 0.2);
  // An eighth note: a stem, a flag and an oval head.
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(s * 0.22, s * 0.58, s * 0.32, s * 0.24));
  p.drawRect(QRectF(s * 0.46, s * 0.18, s * 0.08, s * 0.52));
  QPainterPath flag;
  flag.moveTo(s * 0.54, s * 0.18);
  flag.cubicTo(s * 0.66, s * 0.26, s * 0.82, s * 0.32, s * 0.74, s * 0.52);
  flag.cubicTo(s * 0.74, s * 0.40, s * 0.64, s * 0.36, s * 0.54, s * 0.34);
  flag.closeSubpath();
  p.drawPath(flag);
  return pixmap;
}

}  // namespace

QIcon AppIcon() {
  static const QIcon icon = [] {
    QIcon i;
    for (int size : {16, 22, 24, 32, 48, 64, 128}) i.addPixmap(Draw(size));
    return i;
  }();
  return icon;
}
