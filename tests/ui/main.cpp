// The window tests: every test class in one program, on the offscreen platform.

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "WindowTestSupport.h"
#include "WindowTests.h"

namespace {

// The run's temporary files and work folders stay in a folder of its own,
// so two runs side by side never see each other's files.
class RunFolder {
 public:
  RunFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/varnex-windows-XXXXXX";
    if (!::mkdtemp(pattern.data())) return;
    run_ = pattern;
    std::error_code ec;
    std::filesystem::create_directories(run_ + "/tmp", ec);
    setenv("TMPDIR", (run_ + "/tmp").c_str(), 1);
  }
  ~RunFolder() {
    std::error_code ec;
    if (!run_.empty()) std::filesystem::remove_all(run_, ec);
  }

 private:
  std::string run_;
};

}  // namespace

int main(int argc, char** argv) {
  RunFolder runFolder;
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
  failed += RunCheckWindowTests(argc, argv);
  failed += RunUpdateWindowTests(argc, argv);
  failed += RunVideoWindowTests(argc, argv);
  failed += RunDvdWindowTests(argc, argv);
  failed += RunProgressMultiWindowTests(argc, argv);
  failed += RunUnsavedProjectTests(argc, argv);
  failed += RunHelpWindowTests(argc, argv);
  failed += RunReadableWindowTests(argc, argv);
  return failed == 0 ? 0 : 1;
}
