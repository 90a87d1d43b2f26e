// Times adding a folder tree to the data disc window the way the Add Files
// command does (background worker, tree items made on the window thread,
// totals kept), on the offscreen platform. Prints seconds and peak memory,
// to REPORT as well when named.
//
//   varnex_window_bench FOLDER [REPORT]
//   VARNEX_BENCH_SAVE=FILE varnex_window_bench ...   # saves the project afterwards

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "foundation/ShowMessage.h"
#include "app/ui/CDlgDataCD.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: varnex_window_bench FOLDER [REPORT]\n");
    return 2;
  }
  SetMessageSink(std::make_shared<ConsoleMessageSink>());
  CDlgDataCD window;
  window.resize(800, 500);
  window.SetMode(CDlgDataCD::kModeData);
  QElapsedTimer clock;
  clock.start();
  bool ok = window.AddPaths({QString::fromLocal8Bit(argv[1])});
  const double seconds = clock.nsecsElapsed() / 1e9;
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("files %d  seconds %.3f  peak-MiB %.1f\n", window.FileCount(), seconds, usage.ru_maxrss / 1024.0);
  // VARNEX_BENCH_SAVE=FILE: the project saved after the addition, to hold
  // what one build of the window makes against another's.
  const QString save = qEnvironmentVariable("VARNEX_BENCH_SAVE");
  if (!save.isEmpty() && !window.SaveProject(save)) return 1;
  if (argc == 3) {
    FILE* report = std::fopen(argv[2], "w");
    if (!report) return 1;
    std::fprintf(report, "files %d seconds %.3f\n", window.FileCount(), seconds);
    if (std::fclose(report) != 0) return 1;
  }
  return ok ? 0 : 1;
}
