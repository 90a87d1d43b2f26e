#pragma once
// The room on the disc in the selected recorder, as one bar: what is on the
// disc already, what the project adds, and what stays free. The project's
// part turns warning-coloured when it does not fit. Every project window
// that burns shows one.

#include <QWidget>
#include <cstdint>

class CCapacityBar : public QWidget {
  Q_OBJECT
 public:
  explicit CCapacityBar(QWidget* parent = nullptr);

  // The disc: bytes already on it and bytes free. Without a disc (no
  // recorder, an open tray, an image file) only the project is shown. A
  // disc that takes nothing more (left unfinished, closed) names its state
  // in `takesNothing`, and no project fits on it.
  void SetDisc(uint64_t usedBytes, uint64_t freeBytes, const QString& takesNothing = {});
  void SetNoDisc();
  void SetProject(uint64_t bytes);

  bool HasDisc() const { return hasDisc_; }
  uint64_t UsedBytes() const { return used_; }
  uint64_t FreeBytes() const { return free_; }
  uint64_t ProjectBytes() const { return project_; }
  // False only when a disc is known and the project is larger than its room.
  bool Fits() const { return !hasDisc_ || (state_.isEmpty() && project_ <= free_); }
  // What the bar says in words (also its tooltip).
  QString Text() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Changed();

  bool hasDisc_ = false;
  QString state_;  // set when the disc takes nothing more
  uint64_t used_ = 0, free_ = 0, project_ = 0;
};
