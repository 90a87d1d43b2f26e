#pragma once
// The application object: reads the command line, shows the splash window,
// then runs the main window until it closes.

#include <QStringList>
#include <memory>

class CPlomeDlg;
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
};
