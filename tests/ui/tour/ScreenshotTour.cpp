// Photographs the main windows of the program for a look at the whole: the
// splash, the data disc mode with the sample project, the burn settings and
// the progress of a burn on a virtual recorder. Run on an X server (Xvfb):
//
//   varnex_screenshot_tour OUTDIR

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/ProfileIni.h"
#include "app/ShowMessage.h"
#include "app/VirtualRecorders.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgLogo.h"
#include "app/ui/CPlomeDlg.h"
#include "BurnCtrl/ui/CDlgProgress1.h"

namespace {

QString outDir;
int failures = 0;

void Shoot(QWidget* w, const QString& name) {
  QApplication::processEvents();
  QPixmap shot = w->grab();
  QString path = outDir + "/" + name + ".png";
  if (shot.isNull() || !shot.save(path)) {
    std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
    ++failures;
  } else {
    std::printf("%s\n", qPrintable(path));
  }
}

// Message boxes answer themselves, so the tour runs unattended.
class QuietSink : public MessageSink {
 public:
  int Show(const std::string& text, unsigned) override {
    std::printf("message: %s\n", text.c_str());
    return msgbox::kOk;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: varnex_screenshot_tour OUTDIR\n");
    return 2;
  }
  outDir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(outDir);
  QTemporaryDir scratch;
  qputenv("XDG_CONFIG_HOME", (scratch.path() + "/config").toUtf8());
  qputenv("XDG_DATA_HOME", (scratch.path() + "/data").toUtf8());
  SetMessageSink(std::make_shared<QuietSink>());

  // A virtual CD-RW that writes at a visible pace, and a sample project.
  auto recorders = std::make_shared<VirtualRecorders>();
  const std::string state = (scratch.path() + "/Virtual CD-RW.vdisc").toStdString();
  recorders->AddRecorder(state, medium::kCdRw);
  ini::WriteString(state, "Disc", "BlockDelayMs", "25");
  QString extra = scratch.path() + "/Videos";
  QDir().mkpath(extra);
  QFile video(extra + "/holiday-2026.mpg");
  if (video.open(QIODevice::WriteOnly)) video.write(QByteArray(12 << 20, '\x5a'));
  video.close();

  CDlgLogo logo(nullptr, 400);
  logo.show();
  Shoot(&logo, "1-splash");
  logo.close();

  CPlomeDlg main(recorders);
  main.show();
  main.Initialise();
  main.SwitchMode(CPlomeDlg::kDataDisc);
  main.HighlightModeButton(1);
  CDlgDataCD* data = main.DataWindow(CPlomeDlg::kDataDisc);
  const QString sample = QStringLiteral(VARNEX_SOURCE_DIR) + "/data/sample";
  data->AddPaths({sample + "/Documents", sample + "/Pictures", sample + "/README.txt", extra});
  QString project = scratch.path() + "/Sample.bcd";
  data->SaveProject(project);
  data->Clear();
  main.OpenProjectFile(project);
  QTimer::singleShot(400, &main, [&] {
    data->SelectFolder(data->RootItem());
    Shoot(&main, "2-data-disc");
    main.Burn();
    main.close();
  });
  QObject::connect(&main, &CPlomeDlg::DialogOpened, &main, [&](QDialog* d) {
    if (auto* settings = qobject_cast<CDlgBurnSet*>(d)) {
      QTimer::singleShot(300, settings, [settings] {
        Shoot(settings, "3-burn-settings");
        if (settings->TryAccept()) settings->accept();
        else settings->reject();
      });
    } else if (auto* progress = qobject_cast<CDlgProgress1*>(d)) {
      QTimer::singleShot(1500, progress, [progress] { Shoot(progress, "4-progress"); });
    }
  });
  QTimer::singleShot(60000, &app, [] {
    std::fprintf(stderr, "screenshots: the tour did not finish\n");
    std::exit(1);
  });
  main.exec();
  return failures == 0 ? 0 : 1;
}
