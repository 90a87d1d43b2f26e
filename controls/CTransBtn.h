#pragma once
// A check-box button drawn over whatever lies beneath it: the background is
// captured once and drawn back under a white box, check mark and text.

#include <QPixmap>
#include <QPushButton>

#include "controls/PavaneExport.h"

class PAVANE_EXPORT CTransBtn : public QPushButton {
  Q_OBJECT
 public:
  explicit CTransBtn(QWidget* parent = nullptr);
  explicit CTransBtn(const QString& text, QWidget* parent = nullptr);

  void SetCheck(bool drawBox) { drawBox_ = drawBox; update(); }
  bool GetSelect() const { return selected_; }
  void SetSelect(bool selected) { selected_ = selected; update(); }
  void SetAlign(unsigned flags) { align_ = flags; update(); }
  void SetMyTextColor(quint32 colour) { textColour_ = colour; update(); }
  // Forget the captured background; it is captured again at the next paint.
  void ReDraw() { captured_ = false; update(); }
  bool BackgroundCaptured() const { return captured_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void CaptureBackground();
  void ScheduleCapture();

  QPixmap background_;
  bool captured_ = false;
  bool capturing_ = false;
  bool scheduled_ = false;
  bool selected_ = false;
  bool drawBox_ = true;
  unsigned align_ = 0;
  quint32 textColour_ = 0;
};
