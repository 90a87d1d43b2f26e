#include "controls/CSizeGrip.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

CSizeGrip::CSizeGrip(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::SizeFDiagCursor);
  resize(sizeHint());
}

void CSizeGrip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QStyleOptionSizeGrip option;
  option.initFrom(this);
  option.corner = Qt::BottomRightCorner;
  style()->drawControl(QStyle::CE_SizeGrip, &option, &p, this);
}

void CSizeGrip::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || window()->isMaximized()) return QWidget::mousePressEvent(event);
  dragging_ = true;
  pressedAt_ = event->globalPosition().toPoint();
  startSize_ = window()->size();
  event->accept();
}

void CSizeGrip::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return QWidget::mouseMoveEvent(event);
  Follow(event->globalPosition().toPoint());
}

void CSizeGrip::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  Follow(event->globalPosition().toPoint());
  dragging_ = false;
}

void CSizeGrip::Follow(const QPoint& globalPos) {
  QWidget* w = window();
  const QPoint travel = globalPos - pressedAt_;
  const QSize wanted = (startSize_ + QSize(travel.x(), travel.y()))
                           .expandedTo(w->minimumSize())
                           .boundedTo(w->maximumSize());
  if (wanted != w->size()) w->resize(wanted);
}
