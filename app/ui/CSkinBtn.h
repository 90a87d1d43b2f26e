#pragma once
// The main window's own skinned buttons: a picture for the normal state and
// one for the active state (the current mode, the mouse over it, pressed).

#include <QAbstractButton>
#include <QPixmap>

class CSkinBtn : public QAbstractButton {
  Q_OBJECT
 public:
  CSkinBtn(int id, QWidget* parent);
  void SetBitmaps(const QPixmap& normal, const QPixmap& active);
  int Id() const { return id_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  int id_;
  QPixmap normal_, active_;
  bool hover_ = false;
};
