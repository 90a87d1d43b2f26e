#pragma once
// The splash window: the skin's start picture, slightly see-through, shown
// for 1.5 seconds.

#include <QDialog>

class CDlgLogo : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgLogo(QWidget* parent = nullptr, int showMs = 1500);

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap picture_;
  int showMs_;
  bool started_ = false;
};
