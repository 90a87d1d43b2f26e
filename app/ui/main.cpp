#include <QApplication>

#include "app/ui/CPlomeApp.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Varnex");
  QApplication::setDesktopFileName("varnex");
  CPlomeApp plome;
  return plome.InitInstance(QApplication::arguments());
}
