#include <QApplication>

#include <cstdio>
#include <cstring>

#include "app/ui/CPlomeApp.h"
#include "foundation/TempFiles.h"

namespace {

const char kUsage[] =
    "usage: Varnex [OPTION]... [PROJECT.bcd]\n"
    "\n"
    "The desktop program: assembles data and MP3 discs and writes them to recorders,\n"
    "image files and virtual recorders, erases rewritable discs and burns image files.\n"
    "A project file named on the command line is opened at start-up; when Varnex is\n"
    "already running, the file is handed to the running program.\n"
    "\n"
    "Options:\n"
    "  --virtual virtual:FILE[:MEDIUM]\n"
    "      add a virtual recorder kept in FILE (created blank with MEDIUM, cd-rw by\n"
    "      default); may be given several times\n"
    "  --no-splash\n"
    "      start without the splash window\n"
    "  --help\n"
    "      show this text\n"
    "  --version\n"
    "      show the version\n"
    "\n"
    "Environment: VARNEX_VIRTUAL_RECORDERS (virtual recorders separated by \";\"),\n"
    "VARNEX_PROGRAM_DIR (the folder of the program's data).\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before the window system is asked for, so that they work
  // without a display.
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--version")) {
      std::printf("Varnex %d.%d.%d\n", VARNEX_VERSION_MAJOR, VARNEX_VERSION_MINOR, VARNEX_VERSION_PATCH);
      return 0;
    }
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  // What a killed run of ours left in the temporary folders goes now.
  RemoveAbandonedTempFiles();
  QApplication app(argc, argv);
  QApplication::setApplicationName("Varnex");
  QApplication::setDesktopFileName("varnex");
  CPlomeApp plome;
  return plome.InitInstance(QApplication::arguments());
}
