#pragma once
// The read speed of a disc check against the position on the disc, drawn
// while the check reads: the speed as a line in the medium's "x", the
// unreadable ranges as red bands over the whole height, the part not read
// yet left empty so that the line grows across the disc.

#include <QWidget>

#include "analysis/DiscCheck.h"

class CheckGraph : public QWidget {
  Q_OBJECT
 public:
  explicit CheckGraph(QWidget* parent = nullptr);

  // The report so far; the graph keeps its own copy and repaints.
  void SetReport(const CheckReport& report);
  void Clear();
  const CheckReport& Report() const { return report_; }

  QSize sizeHint() const override { return {600, 240}; }
  QSize minimumSizeHint() const override { return {240, 120}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CheckReport report_;
};
