#include "controls/CTransText.h"

#include <QPainter>

CTransText::CTransText(QWidget* parent) : QLabel(parent) {
  QFont big("Courier");
  big.setPointSize(18);
  setFont(big);
}

void CTransText::SetText(const QByteArray& text) { SetText(text.constData(), int(text.size())); }

void CTransText::SetText(const char* text, int length) {
  if (!text || length < 0) length = 0;
  buffer_ = QByteArray(text, std::min(length, kBufferSize));
  update();
}

void CTransText::paintEvent(QPaintEvent*) {
  if (capturing_) return;
  if (!captured_) {
    if (QWidget* parent = parentWidget()) {
      capturing_ = true;
      background_ = parent->grab(geometry());
      capturing_ = false;
    }
    captured_ = true;
  }
  QPainter p(this);
  if (!background_.isNull()) p.drawPixmap(0, 0, background_);
  QFont small("MS Sans Serif");
  small.setPointSize(10);
  p.setFont(small);
  p.setPen(pavane::FromColorRef(colour_));
  p.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(buffer_));
}
