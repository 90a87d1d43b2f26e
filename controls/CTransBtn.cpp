#include "controls/CTransBtn.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

CTransBtn::CTransBtn(QWidget* parent) : QPushButton(parent) {}
CTransBtn::CTransBtn(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void CTransBtn::CaptureBackground() {
  QWidget* parent = parentWidget();
  if (!parent) {
    background_ = QPixmap(size());
    background_.fill(Qt::transparent);
  } else {
    // The parent renders this button too; while it does, the button paints
    // nothing, so only what lies beneath it is captured.
    capturing_ = true;
    background_ = parent->grab(geometry());
    capturing_ = false;
  }
  captured_ = true;
}

void CTransBtn::ScheduleCapture() {
  if (scheduled_) return;
  scheduled_ = true;
  // Rendering the parent from inside a paint would paint recursively: the
  // capture runs once the current paint is over.
  QTimer::singleShot(0, this, [this] {
    scheduled_ = false;
    if (captured_ || !isVisible()) return;
    CaptureBackground();
    update();
  });
}

void CTransBtn::paintEvent(QPaintEvent*) {
  if (capturing_) return;
  if (!captured_) ScheduleCapture();
  QPainter p(this);
  if (captured_) p.drawPixmap(0, 0, background_);
  const QRect r = rect();
  int textLeft = 0;
  if (drawBox_) {
    p.setPen(QPen(Qt::white, 1));
    p.drawRect(QRect(QPoint(r.left() + 1, r.top() + 1), QPoint(r.left() + 13, r.top() + 13)));
    if (selected_) {
      p.setRenderHint(QPainter::Antialiasing);
      p.setPen(QPen(Qt::white, 2));
      p.drawLine(QPoint(r.left() + 6, r.top() + 12), QPoint(r.left() + 2, r.top() + 6));
      p.drawLine(QPoint(r.left() + 11, r.top() + 2), QPoint(r.left() + 6, r.top() + 12));
      p.setRenderHint(QPainter::Antialiasing, false);
    }
    textLeft = 18;
  }
  p.setPen(pavane::FromColorRef(textColour_));
  p.drawText(r.adjusted(textLeft, 0, 0, 0), pavane::AlignmentOf(align_) | Qt::TextSingleLine, text());
}

void CTransBtn::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    selected_ = !selected_;
    update();
  }
  QPushButton::mousePressEvent(event);
}
