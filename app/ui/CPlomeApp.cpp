#include "app/ui/CPlomeApp.h"

#include <QApplication>
#include <QDir>

#include "foundation/LangText.h"
#include "foundation/ProgramDir.h"
#include "foundation/ShowMessage.h"
#include "app/CommandLayerRecorders.h"
#include "app/ui/CDlgLogo.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/QtMessageSink.h"

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
  if (options.virtualRecorders.isEmpty() && recorders->Drives().empty()) {
    // Without hardware the program still has a recorder to try things on.
    QString folder = QString::fromStdString(GetWritableDir()) + "virtual";
    QDir().mkpath(folder);
    options.virtualRecorders << "virtual:" + folder + "/Virtual CD-RW.vdisc:cd-rw";
  }
  for (const QString& v : options.virtualRecorders) {
    std::string error;
    if (!OpenVirtualRecorder(v.toStdString(), &error))
      ShowMessage(LoadLangText("Message", 1012) + "\n" + v.toStdString() + "\n" + error, msgbox::kInfoOk);
  }

  if (options.splash) {
    CDlgLogo logo;
    logo.exec();
  }
  CPlomeDlg main(recorders);
  main.SetCommandLineFile(options.projectFile);
  return RunMainWindow(main);
}

// The main window is the program's own top-level window, never a modal
// dialog: a modal window would count as busy to the schedule's check
// and would keep the window system from treating it as the main window.
int CPlomeApp::RunMainWindow(CPlomeDlg& window) {
  window.show();
  return QApplication::exec();
}
