#pragma once
// A push button filled with one colour, with a single line of text.

#include <QPushButton>

#include "controls/PavaneExport.h"

class PAVANE_EXPORT CColorBtn : public QPushButton {
  Q_OBJECT
 public:
  explicit CColorBtn(QWidget* parent = nullptr);
  explicit CColorBtn(const QString& text, QWidget* parent = nullptr);

  void SetBKColor(quint32 colour) { background_ = colour; update(); }
  void SetMyTextColor(quint32 colour) { textColour_ = colour; update(); }
  void SetTextAlign(unsigned flags) { align_ = flags; update(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  quint32 background_ = 0;
  quint32 textColour_ = 0;
  unsigned align_ = 1;
};
