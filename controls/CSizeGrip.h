#pragma once
// The grip in the bottom right corner of a window without a frame. It
// resizes the window itself from the pointer's travel, press to release, so
// that a drag faster than the window manager can take over still counts:
// the size follows every move and, at the latest, the release.

#include <QPoint>
#include <QSize>
#include <QWidget>

#include "controls/PavaneExport.h"

class PAVANE_EXPORT CSizeGrip : public QWidget {
  Q_OBJECT
 public:
  explicit CSizeGrip(QWidget* parent);
  QSize sizeHint() const override { return {14, 14}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Follow(const QPoint& globalPos);

  QPoint pressedAt_;
  QSize startSize_;
  bool dragging_ = false;
};
