#include "controls/CColorBtn.h"

#include <QPainter>

CColorBtn::CColorBtn(QWidget* parent) : QPushButton(parent) {}
CColorBtn::CColorBtn(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void CColorBtn::paintEvent(QPaintEvent*) {
  if (text().isEmpty()) return;
  QPainter p(this);
  p.fillRect(rect(), pavane::FromColorRef(background_));
  p.setPen(pavane::FromColorRef(textColour_));
  p.drawText(rect().adjusted(3, 0, -3, 0), pavane::AlignmentOf(align_) | Qt::TextSingleLine, text());
  if (hasFocus()) {
    p.setPen(QPen(pavane::FromColorRef(textColour_), 1, Qt::DotLine));
    p.drawRect(rect().adjusted(2, 2, -3, -3));
  }
}
