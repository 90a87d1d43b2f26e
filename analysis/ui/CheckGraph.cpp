#include "analysis/ui/CheckGraph.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {

// Round speed steps, so that the scale does not jump at every sample.
double ScaleTop(const CheckReport& r) {
  double most = 0;
  for (const CheckSample& s : r.samples)
    if (std::isfinite(s.factor)) most = std::max(most, s.factor);
  return most <= 1 ? 1 : std::pow(2.0, std::ceil(std::log2(most)));
}

}  // namespace

CheckGraph::CheckGraph(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void CheckGraph::SetReport(const CheckReport& report) {
  report_ = report;
  update();
}

void CheckGraph::Clear() { SetReport(CheckReport()); }

void CheckGraph::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(250, 250, 250));
  const QFontMetrics fm(font());
  const int left = fm.horizontalAdvance("0000.0x") + 8, bottom = fm.height() * 2 + 6, top = fm.height() / 2 + 4,
            right = fm.horizontalAdvance("0000000") / 2 + 4;
  const QRectF plot(left, top, std::max(10, width() - left - right), std::max(10, height() - top - bottom));
  const CheckReport& r = report_;
  // The whole disc from the start, so that the line grows across it.
  uint64_t first = r.spanFirst, end = std::max<uint64_t>(r.spanEnd, uint64_t(r.spanFirst) + 1);
  if (r.spanEnd == 0 && !r.samples.empty()) {
    first = r.samples.front().lba;
    end = std::max<uint64_t>(first + 1, uint64_t(r.samples.back().lba) + r.samples.back().sectors);
  }
  for (const CheckRange& u : r.unreadable) first = std::min<uint64_t>(first, u.first), end = std::max<uint64_t>(end, u.last + 1ull);
  const double topSpeed = ScaleTop(r);
  auto x = [&](uint64_t lba) { return plot.left() + double(lba - std::min(lba, first)) * plot.width() / double(end - first); };
  auto y = [&](double f) { return plot.bottom() - std::min(std::isfinite(f) ? f : 0, topSpeed) * plot.height() / topSpeed; };

  p.setPen(Qt::black);
  if (r.samples.empty() && r.spanEnd == 0) {
    // Nothing read yet: no scale to tell.
    p.drawLine(plot.bottomLeft(), plot.bottomRight());
    p.drawLine(plot.bottomLeft(), plot.topLeft());
    return;
  }
  // Grid and scales.
  p.setPen(QColor(220, 220, 220));
  for (int i = 1; i <= 4; ++i) p.drawLine(QPointF(plot.left(), y(topSpeed * i / 4)), QPointF(plot.right(), y(topSpeed * i / 4)));
  p.setPen(QColor(60, 60, 60));
  for (int i = 0; i <= 4; ++i) {
    const double f = topSpeed * i / 4;
    p.drawText(QRectF(0, y(f) - fm.height() / 2.0, left - 6, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(f, 'g', 3) + "x");
    const uint64_t lba = first + (end - first) * uint64_t(i) / 4;
    const double at = plot.left() + plot.width() * i / 4;
    p.drawText(QRectF(at - 60, plot.bottom() + 3, 120, fm.height()), Qt::AlignHCenter | Qt::AlignTop,
               QString::number(lba));
  }
  p.drawText(QRectF(plot.left(), plot.bottom() + 3 + fm.height(), plot.width(), fm.height()),
             Qt::AlignHCenter | Qt::AlignTop, tr("sector"));

  for (const CheckRange& u : r.unreadable) {
    const double x0 = x(u.first), x1 = std::max(x0 + 2, x(u.last + 1ull));
    p.fillRect(QRectF(x0, plot.top(), x1 - x0, plot.height()), QColor(224, 48, 48, 160));
  }
  if (!r.samples.empty()) {
    QPainterPath line;
    bool started = false;
    for (const CheckSample& s : r.samples) {
      const QPointF a(x(s.lba), y(s.factor)), b(x(uint64_t(s.lba) + s.sectors), y(s.factor));
      if (!started) line.moveTo(a), started = true;
      else line.lineTo(a);
      line.lineTo(b);
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(32, 96, 192), 1.5));
    p.drawPath(line);
    p.setRenderHint(QPainter::Antialiasing, false);
  }
  p.setPen(Qt::black);
  p.drawLine(plot.bottomLeft(), plot.bottomRight());
  p.drawLine(plot.bottomLeft(), plot.topLeft());
}
