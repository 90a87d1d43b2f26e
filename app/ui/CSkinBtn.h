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
  // The focus ring shows only while the focus came from the keyboard: a
  // button that merely kept the focus from the window's start, or was
  // clicked, shows none.
  bool ShowsFocusRing() const { return hasFocus() && keyboardFocus_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  int id_;
  QPixmap normal_, active_;
  bool hover_ = false;
  bool keyboardFocus_ = false;
};
