#include "app/ui/CDlgLogo.h"

#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "foundation/ui/WindowSupport.h"

CDlgLogo::CDlgLogo(QWidget* parent, int showMs) : QDialog(parent), showMs_(showMs) {
  setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
  setWindowOpacity(200 / 255.0);
  picture_ = SkinBitmap("logo2.bmp", true);
  resize(picture_.isNull() ? QSize(480, 260) : picture_.size());
  if (QScreen* screen = this->screen()) move(screen->geometry().center() - rect().center());
}

void CDlgLogo::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  QTimer::singleShot(showMs_, this, &QDialog::accept);
}

void CDlgLogo::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (picture_.isNull()) {
    p.fillRect(rect(), SkinColour());
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter, "Varnex");
  } else {
    p.drawPixmap(0, 0, picture_);
  }
}
