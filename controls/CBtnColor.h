#pragma once
// A push button with a grey face that darkens row by row from the top, a
// light upper-left and a dark lower-right edge, and its own text colour and
// cursor.

#include <QCursor>
#include <QPushButton>

#include "controls/PavaneExport.h"

class PAVANE_EXPORT CBtnColor : public QPushButton {
  Q_OBJECT
 public:
  explicit CBtnColor(QWidget* parent = nullptr);
  explicit CBtnColor(const QString& text, QWidget* parent = nullptr);

  void SetCurSor(const QCursor& cursor);
  void SetMyTextColor(quint32 colour) { textColour_ = colour; update(); }
  void SetTextAlign(unsigned flags) { align_ = flags; update(); }
  quint32 TextColor() const { return textColour_; }

  // The grey level of face row `row` (249 at the top, 5 darker per row, never below 0).
  static int FaceLevel(int row);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  quint32 textColour_ = 0;
  unsigned align_ = 1;
};
