// Photographs the program's windows as a user sees them: the whole screen of
// an X server (Xvfb with a window manager), taken from the server itself, not
// the widgets' own rendering. The splash, the modes of the main window, the
// burn settings, the progress of a burn on a virtual recorder, the message at
// its end, the erase progress, and an audio CD with its rows, its conversion
// and its writing. Every picture is also checked: the window
// it shows must be drawn on the screen, or the tour fails.
//
//   varnex_screenshot_tour OUTDIR

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QThread>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>

#include "foundation/ProfileIni.h"
#include "foundation/ShowMessage.h"
#include "support/VirtualRecorders.h"
#include "app/ui/CDlgAudioCD.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgLogo.h"
#include "app/ui/CDlgTimeSet.h"
#include "app/ui/CSkinBtn.h"
#include <QCheckBox>
#include <QRadioButton>
#include <QTimeEdit>
#include "app/ui/CPlomeApp.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/QtMessageSink.h"
#include "analysis/ui/CDlgAnaly_CD.h"
#include "foundation/ui/WindowSupport.h"
#include <QComboBox>
#include <QTreeWidget>
#include "BurnCtrl/ui/CDlgEProgress.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "app/UpdateJob.h"
#include "updater/CDlgUpdate.h"
#include "BurnCtrl/ui/CDlgProgressMulti.h"
#include "controls/CHListBox.h"

namespace {

QString outDir;
int failures = 0;
QImage emptyScreen;

QImage GrabScreen() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32) : QImage();
}

// The share of the window's area on the screen that differs from the screen
// before any window was shown.
double DrawnShare(const QImage& shot, const QRect& area) {
  const QRect r = area.intersected(shot.rect());
  if (r.isEmpty() || emptyScreen.size() != shot.size()) return 0;
  long differing = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (shot.pixel(x, y) != emptyScreen.pixel(x, y)) ++differing;
  return double(differing) / double(r.width() * r.height());
}

// Lets the window manager map the window and the server take the paint.
void Settle() {
  for (int i = 0; i < 10; ++i) {
    QApplication::processEvents();
    QThread::msleep(30);
  }
}

void Shoot(QWidget* w, const QString& name) {
  // The window is photographed once the server shows it; on a busy machine
  // that can take a while, so the picture is taken again until the window's
  // area is drawn or some seconds have passed.
  QImage shot;
  double drawn = 0;
  for (int attempt = 0; attempt < 20 && drawn < 0.9; ++attempt) {
    Settle();
    shot = GrabScreen();
    drawn = shot.isNull() ? 0 : DrawnShare(shot, w->frameGeometry());
  }
  const QString path = outDir + "/" + name + ".png";
  if (shot.isNull() || !shot.save(path)) {
    std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
    ++failures;
    return;
  }
  std::printf("%s (%.0f%% of the window drawn)\n", qPrintable(path), drawn * 100);
  if (drawn < 0.9) {
    std::fprintf(stderr, "screenshots: %s: the window is not drawn on the screen\n", qPrintable(name));
    ++failures;
  }
}

// Message boxes are photographed and then answered with their default button,
// so the tour runs unattended.
void AnswerMessageBoxes(QObject* context) {
  auto* timer = new QTimer(context);
  timer->setInterval(200);
  QObject::connect(timer, &QTimer::timeout, context, [] {
    static int count = 0;
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box->property("photographed").toBool()) return;
    box->setProperty("photographed", true);
    Shoot(box, QString("6-message-%1").arg(++count));
    if (QAbstractButton* b = box->defaultButton()) b->click();
    else box->reject();
  });
  timer->start();
}
// An update server in memory that sends its files at a visible pace.
class PacedNetwork : public UpdateNetwork {
 public:
  std::map<std::string, std::string> files;  // by the end of the URL
  long Status(const std::string&) override { return 200; }
  FetchResult Get(const std::string& url, const std::function<bool(int64_t)>& onLength,
                  const std::function<bool(const char*, size_t)>& onBlock) override {
    FetchResult r;
    for (const auto& [name, body] : files) {
      if (!url.ends_with(name)) continue;
      r.status = 200;
      r.length = int64_t(body.size());
      if (!onLength(r.length)) return r;
      for (size_t at = 0; at < body.size(); at += 16384) {
        QThread::msleep(60);
        if (!onBlock(body.data() + at, std::min<size_t>(16384, body.size() - at))) return r;
      }
      r.transferred = true;
      return r;
    }
    r.status = 404;
    return r;
  }
};

class ClosedMainProgram : public MainProgramControl {
 public:
  bool Running() override { return false; }
  void AskToClose() override {}
  void WaitBeforeLookingAgain() override {}
  bool Start(const std::string&, const std::string&) override { return true; }
};

// The updater's window half way through a download of a new version.
void TourUpdater(const QString& scratch) {
  const std::string dir = (scratch + "/portable/").toStdString();
  QDir().mkpath(scratch + "/portable/Lang");
  PacedNetwork net;
  net.files["Varnex"] = std::string(900000, 'v');
  net.files["Lang/en.ini"] = std::string(30000, 't');
  std::string list = "[update]\ncount=2\nsoft=Varnex\nMainExe=Varnex\npath1=Varnex\nsize1=900000\nver1=4, 2, 0, 0\n"
                     "path2=Lang\\en.ini\nsize2=30000\ntime2=2026 12 1 9 0\n";
  QFile f(QString::fromStdString(dir + "update.ini"));
  if (f.open(QIODevice::WriteOnly)) f.write(list.data(), qint64(list.size()));
  f.close();
  ClosedMainProgram main;
  UpdateJob job(net, main, ShowMessage, "https://updates.example", dir);
  CDlgUpdate dialog(job);
  dialog.show();
  dialog.Begin();
  QTimer::singleShot(1500, &dialog, [&dialog] {
    Shoot(&dialog, "17-update");
    dialog.CancelButton()->click();
  });
  dialog.exec();
}

// A song of `seconds`: a tone made by ffmpeg in the format of its name.
// A short clip of ffmpeg's test picture with a tone, as a user's video.
QString MakeClip(const QString& folder, const QString& name, int seconds) {
  const QString path = folder + "/" + name;
  const QString s = QString::number(seconds);
  QProcess::execute("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                               "testsrc=duration=" + s + ":size=320x240:rate=25", "-f", "lavfi", "-i",
                               "sine=duration=" + s, "-c:v", "mpeg4", "-c:a", "mp3", "-shortest", path});
  return path;
}

QString MakeSong(const QString& folder, const QString& name, int seconds, int frequency) {
  const QString path = folder + "/" + name;
  QProcess::execute("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                               QString("sine=frequency=%1:duration=%2").arg(frequency).arg(seconds), "-ac", "2", path});
  return path;
}
}  // namespace

// The image the analysis pages open, as if the user had chosen it; projects
// saved when the tour closes the window go beside it under their default
// names, so that no file dialog waits for a user.
class OneImage : public DialogFileChooser {
 public:
  explicit OneImage(QString path) : path_(std::move(path)) {}
  QString OpenFile(QWidget*, const QString&, const QString&) override { return path_; }
  QString SaveFile(QWidget*, const QString&, const QString&, const QString& defaultName, const QString&) override {
    return QFileInfo(path_).dir().filePath(defaultName);
  }

 private:
  QString path_;
};

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
  SetMessageSink(std::make_shared<QtMessageSink>());
  QWidget blank;  // nothing shown yet: the empty screen every picture is compared with
  QApplication::processEvents();
  emptyScreen = GrabScreen();
  if (emptyScreen.isNull()) {
    std::fprintf(stderr, "screenshots: no screen to photograph\n");
    return 1;
  }

  // A virtual CD-RW that writes at a visible pace, and a sample project.
  auto recorders = std::make_shared<VirtualRecorders>();
  const std::string state = (scratch.path() + "/Virtual CD-RW.vdisc").toStdString();
  const int drive = recorders->AddRecorder(state, medium::kCdRw);
  ini::WriteString(state, "Disc", "BlockDelayMs", "25");
  // Two more recorders for the burn on several recorders at once.
  for (const char* name : {"/Virtual CD-R 2.vdisc", "/Virtual CD-R 3.vdisc"}) {
    const std::string other = (scratch.path() + name).toStdString();
    recorders->AddRecorder(other, medium::kCdR);
    ini::WriteString(other, "Disc", "BlockDelayMs", "25");
  }
  bool severalRecorders = false;
  QString extra = scratch.path() + "/Videos";
  QDir().mkpath(extra);
  QFile video(extra + "/holiday-2026.mpg");
  if (video.open(QIODevice::WriteOnly)) video.write(QByteArray(12 << 20, '\x5a'));
  video.close();

  // Songs for the audio CD, and a converter that takes its time.
  const QString music = scratch.path() + "/Music";
  QDir().mkpath(music);
  const QString slowConverter = scratch.path() + "/slow-ffmpeg";
  QFile slow(slowConverter);
  if (slow.open(QIODevice::WriteOnly)) slow.write("#!/bin/sh\nsleep 1.5\nexec ffmpeg \"$@\"\n");
  slow.close();
  slow.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  CDlgLogo logo(nullptr, 60000);  // closed by the tour once photographed
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
  AnswerMessageBoxes(&main);
  QTimer::singleShot(400, &main, [&] {
    main.SwitchMode(CPlomeDlg::kMp3Disc);
    main.HighlightModeButton(2);
    Shoot(&main, "2-mp3-disc");
    main.SwitchMode(CPlomeDlg::kDataDisc);
    main.HighlightModeButton(1);
    data->SelectFolder(data->RootItem());
    Shoot(&main, "2-data-disc");
    main.Burn();
    recorders->Eject(uint8_t(drive), false);  // the burn opened the tray; the disc goes back in
    main.Erase();
    // A disc with less room than the project: the bar warns, Burn refuses.
    recorders->Eject(uint8_t(drive), false);
    ini::WriteString(state, "Disc", "Capacity", "5000");
    main.ShowDiscStatus();
    Shoot(&main, "8-capacity-warning");
    main.Burn();
    // The audio CD: three songs, converted by ffmpeg and burnt on the
    // blank disc, the converter slowed down so its step can be seen.
    main.SwitchMode(CPlomeDlg::kAudioCD);
    main.HighlightModeButton(0);
    CDlgAudioCD* audio = main.AudioWindow();
    audio->AddPaths({MakeSong(music, "01 Morning Light.mp3", 24, 440), MakeSong(music, "02 Harbour.flac", 31, 523),
                     MakeSong(music, "03 Evening Walk.ogg", 19, 659)});
    audio->SelectRows({1});
    // Liner notes and a clip go into a data session after the songs.
    audio->AddDataFiles({sample});
    ini::WriteString(state, "Disc", "Capacity", "359847");
    // The data project onto all three recorders at once; the CD-RW then
    // gets a blank disc again for the audio CD.
    main.SwitchMode(CPlomeDlg::kDataDisc);
    severalRecorders = true;
    main.Burn();
    severalRecorders = false;
    ini::WriteString(state, "Disc", "ReloadBlank", "1");
    recorders->Eject(uint8_t(drive), false);
    main.SwitchMode(CPlomeDlg::kAudioCD);
    main.ShowDiscStatus();
    Shoot(&main, "7-audio-cd");
    qputenv("VARNEX_CONVERTER", slowConverter.toUtf8());
    main.Burn();
    qunsetenv("VARNEX_CONVERTER");
    audio->SaveProject(scratch.path() + "/Songs.bcd");
    // The analysis pages on an image of the sample folder, opened through
    // the image entry.
    const QString iso = scratch.path() + "/Sample.iso";
    QProcess::execute("genisoimage", {"-quiet", "-J", "-R", "-V", "SAMPLE", "-o", iso, sample});
    SetFileChooser(std::make_shared<OneImage>(iso));
    main.SwitchMode(CPlomeDlg::kAnalyseDisc);
    main.HighlightModeButton(7);
    const int imageEntry = main.RecorderList()->count() - 1;
    main.RecorderList()->setCurrentIndex(imageEntry);
    emit main.RecorderList()->activated(imageEntry);
    QTreeWidget* discTree = main.AnalysisWindow()->Tree();
    if (discTree->topLevelItemCount() > 0 && discTree->topLevelItem(0)->childCount() > 0) {
      QTreeWidgetItem* track = discTree->topLevelItem(0)->child(0);
      discTree->setCurrentItem(track->childCount() > 0 ? track->child(0) : track);
    }
    Shoot(&main, "12-disc-analysis");
    main.SwitchMode(CPlomeDlg::kAnalyseSector);
    Shoot(&main, "13-sector-viewer");
    main.SwitchMode(CPlomeDlg::kDeviceInfo);
    Shoot(&main, "14-device-info");
    // The Video CD, Super Video CD and DVD-Video modes with two clips each.
    const QStringList clips{MakeClip(extra, "Harbour Walk.mp4", 12), MakeClip(extra, "Birthday.avi", 6)};
    main.SwitchMode(CPlomeDlg::kVcd);
    main.HighlightModeButton(3);
    main.VideoWindow()->AddPaths(clips);
    Shoot(&main, "15-video-cd");
    main.SwitchMode(CPlomeDlg::kSvcd);
    main.HighlightModeButton(4);
    main.VideoWindow()->AddPaths(clips);
    main.VideoWindow()->WideButton()->setChecked(true);
    Shoot(&main, "16-super-video-cd");
    main.SwitchMode(CPlomeDlg::kDvd);
    main.HighlightModeButton(5);
    main.VideoWindow()->AddPaths(clips);
    Shoot(&main, "20-dvd-video");
    main.SwitchMode(CPlomeDlg::kDiscCopy);
    main.HighlightModeButton(6);
    Shoot(&main, "21-disc-copy");
    main.Button(1144)->click();  // the schedule
    main.close();
  });
  QObject::connect(&main, &CPlomeDlg::DialogOpened, &main, [&](QDialog* d) {
    const bool audioBurn = main.Mode() == CPlomeDlg::kAudioCD;
    if (auto* settings = qobject_cast<CDlgBurnSet*>(d)) {
      QTimer::singleShot(300, settings, [settings, audioBurn, &severalRecorders] {
        if (severalRecorders) {
          for (int i = 0; i < settings->RecorderList()->count(); ++i)
            settings->RecorderList()->item(i)->setCheckState(Qt::Checked);
          Shoot(settings, "18-several-recorders-settings");
        } else {
          Shoot(settings, audioBurn ? "9-audio-burn-settings" : "3-burn-settings");
        }
        if (settings->TryAccept()) settings->accept();
        else settings->reject();
      });
    } else if (auto* progress = qobject_cast<CDlgProgress1*>(d); progress && audioBurn) {
      // One picture while the tracks are converted, one while they are written.
      auto* watch = new QTimer(progress);
      auto shots = std::make_shared<int>(0);
      QObject::connect(watch, &QTimer::timeout, progress, [progress, shots, &main] {
        const bool converting = main.AudioWindow()->PreparingText().contains("2 of 3");
        const bool writing = !main.AudioWindow()->Project().PreparedTracks().empty() &&
                             !main.AudioWindow()->PreparingText().contains(" of ");
        if (*shots == 0 && converting) Shoot(progress, "10-audio-converting"), *shots = 1;
        if (*shots == 1 && writing) {
          *shots = 2;
          QTimer::singleShot(1200, progress, [progress] { Shoot(progress, "11-audio-writing"); });
        }
      });
      watch->start(100);
    } else if (progress) {
      QTimer::singleShot(1500, progress, [progress] { Shoot(progress, "4-progress"); });
    } else if (auto* multi = qobject_cast<CDlgProgressMulti*>(d)) {
      QTimer::singleShot(1500, multi, [multi] { Shoot(multi, "19-several-recorders"); });
    } else if (auto* schedule = qobject_cast<CDlgTimeSet*>(d)) {
      QTimer::singleShot(300, schedule, [schedule] {
        schedule->TimingBox()->setChecked(true);
        schedule->KindButton(3)->click();
        schedule->Weekly()->days[0]->setChecked(true);
        schedule->Weekly()->days[4]->setChecked(true);
        schedule->Weekly()->time->setTime(QTime(20, 30));
        Shoot(schedule, "9-schedule");
        schedule->reject();
      });
    } else if (auto* erase = qobject_cast<CDlgEProgress*>(d)) {
      QTimer::singleShot(300, erase, [erase] { Shoot(erase, "5-erase"); });
    }
  });
  QTimer::singleShot(120000, &app, [] {
    std::fprintf(stderr, "screenshots: the tour did not finish\n");
    std::exit(1);
  });
  CPlomeApp::RunMainWindow(main);
  TourUpdater(scratch.path());
  return failures == 0 ? 0 : 1;
}
