#include "app/ui/CPlomeApp.h"

#include <QApplication>
#include <QDir>
#include <cstdio>

#include "foundation/LangText.h"
#include "foundation/ProgramDir.h"
#include "foundation/ShowMessage.h"
#include "app/CommandLayerRecorders.h"
#include "app/ui/CDlgLogo.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/QtMessageSink.h"
#include "app/ui/StartClock.h"

CPlomeApp::Options CPlomeApp::ParseCommandLine(const QStringList& arguments) {
  Options options;
  for (int i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == "--virtual" && i + 1 < arguments.size()) {
      options.virtualRecorders << arguments[++i];
    } else if (a.startsWith("virtual:")) {
      options.virtualRecorders << a;
    } else if (a == "--no-splash") {
      options.splash = false;
    } else if (!a.startsWith("--") && options.projectFile.isEmpty()) {
      options.projectFile = a;
    }
  }
  const QString fromEnvironment = qEnvironmentVariable("VARNEX_VIRTUAL_RECORDERS");
  for (const QString& v : fromEnvironment.split(';', Qt::SkipEmptyParts)) options.virtualRecorders << v;
  return options;
}

int CPlomeApp::InitInstance(const QStringList& arguments) {
  SetMessageSink(std::make_shared<QtMessageSink>());
  Options options = ParseCommandLine(arguments);

  // The recorder command layer with the device list: local drives and the
  // registered virtual recorders and remote drives.
  auto recorders = std::make_shared<CommandLayerRecorders>();
  CPlomeDlg main(recorders);
  // Looking for drives and opening virtual recorders waits until the window
  // is on the screen; it runs on the window's loading worker.
  main.SetRecorderPreparation([recorders, virtuals = options.virtualRecorders]() mutable {
    return PrepareRecorders(*recorders, virtuals);
  });
  main.SetCommandLineFile(options.projectFile);
  ReportStart(main);
  if (options.splash) {
    // Over the window while it fills its lists, not in its place, and made
    // once the window is drawn so that it does not hold the window back.
    QObject::connect(&main, &CPlomeDlg::FirstPainted, &main, [&main] {
      auto* logo = new CDlgLogo(&main);
      logo->setAttribute(Qt::WA_DeleteOnClose);
      logo->setModal(false);
      // The window manager raises the main window once it is active; the
      // splash stays above it for its time.
      logo->setWindowFlag(Qt::WindowStaysOnTopHint);
      logo->show();
    }, Qt::QueuedConnection);
  }
  return RunMainWindow(main);
}

std::vector<std::string> CPlomeApp::PrepareRecorders(RecorderService& recorders, QStringList virtualRecorders) {
  std::vector<std::string> notices;
  if (virtualRecorders.isEmpty() && recorders.Drives().empty()) {
    // Without hardware the program still has a recorder to try things on.
    QString folder = QString::fromStdString(GetWritableDir()) + "virtual";
    QDir().mkpath(folder);
    virtualRecorders << "virtual:" + folder + "/Virtual CD-RW.vdisc:cd-rw";
  }
  for (const QString& v : virtualRecorders) {
    std::string error;
    if (!OpenVirtualRecorder(v.toStdString(), &error))
      notices.push_back(LoadLangText("Message", 1012) + "\n" + v.toStdString() + "\n" + error);
  }
  return notices;
}

// VARNEX_START_REPORT=1 prints when the window was first drawn and when its
// recorders were listed; =quit also ends the program then, for benchmarks.
void CPlomeApp::ReportStart(CPlomeDlg& window) {
  const QByteArray report = qgetenv("VARNEX_START_REPORT");
  if (report.isEmpty()) return;
  QObject::connect(&window, &CPlomeDlg::FirstPainted, &window, [] {
    std::fprintf(stderr, "first paint %.3f s after the start\n", SecondsSinceProcessStart());
  });
  QObject::connect(&window, &CPlomeDlg::RecordersLoaded, &window, [quit = report == "quit"] {
    std::fprintf(stderr, "recorders listed %.3f s after the start\n", SecondsSinceProcessStart());
    if (quit) QCoreApplication::exit(0);
  });
}

// The main window is the program's own top-level window, never a modal
// dialog: a modal window would count as busy to the schedule's check
// and would keep the window system from treating it as the main window.
int CPlomeApp::RunMainWindow(CPlomeDlg& window) {
  window.show();
  return QApplication::exec();
}
