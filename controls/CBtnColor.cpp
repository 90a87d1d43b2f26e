#include "controls/CBtnColor.h"

#include <QPainter>

Qt::Alignment pavane::AlignmentOf(unsigned flags) {
  Qt::Alignment h = Qt::AlignLeft;
  if (flags & 1) h = Qt::AlignHCenter;
  else if (flags & 2) h = Qt::AlignRight;
  return h | Qt::AlignVCenter;
}

CBtnColor::CBtnColor(QWidget* parent) : QPushButton(parent) {}
CBtnColor::CBtnColor(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void CBtnColor::SetCurSor(const QCursor& cursor) { setCursor(cursor); }

int CBtnColor::FaceLevel(int row) { return std::max(0, 249 - 5 * row); }

void CBtnColor::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  for (int y = r.top(); y <= r.bottom(); ++y) {
    int level = FaceLevel(y - r.top());
    p.setPen(QColor(level, level, level));
    p.drawLine(r.left(), y, r.right(), y);
  }
  p.setPen(QColor(255, 255, 255));
  p.drawLine(r.left(), r.top(), r.left(), r.bottom());
  p.drawLine(r.left(), r.top(), r.right(), r.top());
  p.setPen(pavane::FromColorRef(0x505050));
  p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
  p.drawLine(r.right(), r.top(), r.right(), r.bottom());
  p.setPen(pavane::FromColorRef(textColour_));
  p.drawText(r.adjusted(3, 0, -3, 0), pavane::AlignmentOf(align_) | Qt::TextSingleLine, text());
  if (hasFocus()) {
    // The keyboard focus, where a keyboard user looks for it.
    p.setPen(QPen(pavane::FromColorRef(textColour_), 1, Qt::DotLine));
    p.drawRect(r.adjusted(3, 3, -3, -3));
  }
}
