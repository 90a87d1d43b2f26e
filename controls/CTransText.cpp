#include "controls/CTransText.h"

#include <QPainter>
#include <QTimer>

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
  if (!captured_ && !scheduled_) {
    // Captured once the current paint is over; rendering the parent from
    // inside a paint would paint recursively.
    scheduled_ = true;
    QTimer::singleShot(0, this, [this] {
      scheduled_ = false;
      if (QWidget* parent = parentWidget(); parent && isVisible()) {
        capturing_ = true;
        background_ = parent->grab(geometry());
        capturing_ = false;
        captured_ = true;
        update();
      }
    });
  }
  QPainter p(this);
  if (!background_.isNull()) p.drawPixmap(0, 0, background_);
  QFont small("MS Sans Serif");
  small.setPointSize(10);
  p.setFont(small);
  p.setPen(pavane::FromColorRef(colour_));
  p.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(buffer_));
}
