#pragma once
// The application object: reads the command line, shows the main window with
// the splash window over it while the window reads its recorders, and runs
// the main window until it closes.

#include <QStringList>
#include <memory>
#include <string>
#include <vector>

class CPlomeDlg;
class RecorderService;
class VirtualRecorders;

class CPlomeApp {
 public:
  struct Options {
    QString projectFile;         // the first file named on the command line
    QStringList virtualRecorders;  // "virtual:PATH[:MEDIUM]"
    bool splash = true;
  };
  static Options ParseCommandLine(const QStringList& arguments);

  // Runs the program; returns the exit status.
  int InitInstance(const QStringList& arguments);
  // Shows the main window and runs the program's events until it closes.
  static int RunMainWindow(CPlomeDlg& window);
  // Opens the virtual recorders (a default one when there is no drive at
  // all); the texts of those that failed. Runs on the window's loading worker.
  static std::vector<std::string> PrepareRecorders(RecorderService& recorders, QStringList virtualRecorders);
 private:
  static void ReportStart(CPlomeDlg& window);
};
