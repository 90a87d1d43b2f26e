#include "app/ui/CCapacityBar.h"

#include <QPainter>

#include "foundation/SizeText.h"
#include "foundation/ui/WindowSupport.h"

namespace {

QString Size(uint64_t bytes) { return QString::fromStdString(FormatSize(bytes)); }

const QColor kUsed(128, 136, 150);
const QColor kProject(46, 125, 210);
const QColor kTooLarge(214, 64, 48);
const QColor kFree(232, 236, 242);
const QColor kProjectAlone(172, 202, 236);  // no disc to measure it against

}  // namespace

CCapacityBar::CCapacityBar(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(18);
  Changed();
}

void CCapacityBar::SetDisc(uint64_t usedBytes, uint64_t freeBytes, const QString& takesNothing) {
  hasDisc_ = true;
  used_ = usedBytes;
  state_ = takesNothing;
  free_ = takesNothing.isEmpty() ? freeBytes : 0;
  Changed();
}

void CCapacityBar::SetNoDisc() {
  hasDisc_ = false;
  state_.clear();
  used_ = free_ = 0;
  Changed();
}

void CCapacityBar::SetProject(uint64_t bytes) {
  project_ = bytes;
  Changed();
}

QString CCapacityBar::Text() const {
  QString text = Tr("UIText", 1113) + " " + Size(project_);
  if (!hasDisc_) return text + "  \u00b7  " + Tr("UIText", 1116);
  text = Tr("UIText", 1112) + " " + Size(used_) + "  \u00b7  " + text;
  // A disc that takes nothing says so first: no room to count.
  if (!state_.isEmpty()) return state_ + ", " + Tr("UIText", 1406) + "  \u00b7  " + text;
  if (!Fits()) return text + " " + Tr("UIText", 1115) + "  \u00b7  " + Tr("UIText", 1114) + " " + Size(free_);
  return text + "  \u00b7  " + Tr("UIText", 1114) + " " + Size(free_ - project_);
}

void CCapacityBar::Changed() {
  setToolTip(Text());
  update();
}

QSize CCapacityBar::sizeHint() const { return QSize(300, 18); }

void CCapacityBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  p.fillRect(frame, kFree);
  // The scale is the disc (on it and free), or the project when it is larger.
  const double whole = double(std::max<uint64_t>(1, hasDisc_ ? std::max(used_ + free_, used_ + project_) : project_));
  const int width = frame.width();
  int x = frame.left();
  auto segment = [&](uint64_t bytes, const QColor& colour) {
    const int w = int(double(bytes) / whole * width + 0.5);
    p.fillRect(QRect(x, frame.top(), std::min(w, frame.right() - x + 1), frame.height()), colour);
    x += w;
  };
  if (hasDisc_) segment(used_, kUsed);
  if (hasDisc_ || project_ > 0) segment(project_, !hasDisc_ ? kProjectAlone : Fits() ? kProject : kTooLarge);
  // The text sits in the middle: light on a dark segment, dark on a light one.
  const double middle = whole / 2;
  const bool onDark = hasDisc_ && middle < double(used_ + project_);
  if (hasDisc_ && !Fits()) {
    // Where the disc ends.
    const int end = frame.left() + int(double(used_ + free_) / whole * width + 0.5);
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(end, frame.top(), end, frame.bottom());
  }
  p.setPen(QColor(90, 100, 120));
  p.setBrush(Qt::NoBrush);
  p.drawRect(frame);
  QFont f = font();
  f.setPixelSize(std::max(10, frame.height() - 6));
  p.setFont(f);
  const QString text = fontMetrics().elidedText(Text(), Qt::ElideRight, width - 8);
  p.setPen(onDark ? QColor(0, 0, 0, 110) : QColor(255, 255, 255, 160));
  p.drawText(frame.translated(1, 1), Qt::AlignCenter, text);
  p.setPen(onDark ? QColor(Qt::white) : QColor(15, 20, 30));
  p.drawText(frame, Qt::AlignCenter, text);
}
