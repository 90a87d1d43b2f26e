#include "app/ui/CSkinBtn.h"

#include <QFocusEvent>
#include <QPainter>

CSkinBtn::CSkinBtn(int id, QWidget* parent) : QAbstractButton(parent), id_(id) {
  setProperty("id", id);
  setCursor(Qt::PointingHandCursor);
  // Tab reaches every button; a click does not move the focus away from the
  // project lists.
  setFocusPolicy(Qt::TabFocus);
}

void CSkinBtn::SetBitmaps(const QPixmap& normal, const QPixmap& active) {
  normal_ = normal;
  active_ = active.isNull() ? normal : active;
  if (!normal_.isNull()) resize(normal_.size());
  update();
}

QSize CSkinBtn::sizeHint() const { return normal_.isNull() ? QSize(36, 36) : normal_.size(); }

void CSkinBtn::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const bool active = isChecked() || isDown() || (hover_ && isEnabled());
  const QPixmap& picture = active ? active_ : normal_;
  if (picture.isNull()) {
    // No skin picture: a plain face with the button's text.
    p.fillRect(rect(), active ? QColor(38, 152, 230) : QColor(62, 72, 94));
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter, text());
  } else {
    p.drawPixmap(0, 0, picture);
  }
  if (!isEnabled()) p.fillRect(rect(), QColor(20, 24, 32, 150));
  if (ShowsFocusRing()) {
    // The keyboard focus: a clear ring inside the button's edge.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(140, 200, 255), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
  }
}

void CSkinBtn::enterEvent(QEnterEvent*) {
  hover_ = true;
  update();
}

void CSkinBtn::leaveEvent(QEvent*) {
  hover_ = false;
  update();
}

void CSkinBtn::focusInEvent(QFocusEvent* event) {
  // The window coming back keeps the ring as it was.
  const Qt::FocusReason reason = event->reason();
  if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
    keyboardFocus_ = true;
  else if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
    keyboardFocus_ = false;
  QAbstractButton::focusInEvent(event);
}

void CSkinBtn::focusOutEvent(QFocusEvent* event) {
  if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason) keyboardFocus_ = false;
  QAbstractButton::focusOutEvent(event);
}
