// The least a Qt window of the main window's size costs to reach the screen:
// an empty window, painted once, timed from the process's start as the
// program's own start report times it. Prints the same line and quits.
//
//   varnex_window_bare

#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "app/ui/StartClock.h"

namespace {

class Bare : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).fillRect(rect(), QColor(40, 60, 90));
    if (painted_) return;
    painted_ = true;
    std::fprintf(stderr, "first paint %.3f s after the start\n", SecondsSinceProcessStart());
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  }

 private:
  bool painted_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Bare window;
  window.setWindowTitle("Varnex bare window");
  window.resize(900, 620);
  window.show();
  return QApplication::exec();
}
