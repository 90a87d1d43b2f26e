// The window tests: every test class in one program, on the offscreen platform.

#include <QApplication>

#include "WindowTestSupport.h"
#include "WindowTests.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  wt::MakeProgramFolder();
  wt::Sink();
  wt::Chooser();
  wt::PowerLog();
  int failed = 0;
  failed += RunPavaneTests(argc, argv);
  failed += RunDataWindowTests(argc, argv);
  failed += RunMainWindowTests(argc, argv);
  failed += RunBurnFeedbackTests(argc, argv);
  failed += RunDiscCopyWindowTests(argc, argv);
  failed += RunScheduleWindowTests(argc, argv);
  failed += RunShellHandOverTests(argc, argv);
  failed += RunAudioWindowTests(argc, argv);
  failed += RunSaveAudioWindowTests(argc, argv);
  failed += RunAnalysisWindowTests(argc, argv);
  failed += RunUpdateWindowTests(argc, argv);
  failed += RunVideoWindowTests(argc, argv);
  failed += RunDvdWindowTests(argc, argv);
  failed += RunProgressMultiWindowTests(argc, argv);
  return failed == 0 ? 0 : 1;
}
