// The video disc window in the Video CD and Super Video CD modes of the main
// window: adding with thumbnails, removing, the options, saving and opening
// video projects, the checks before a burn, and a Video CD burnt onto a
// virtual CD-R of the command layer and read back by vcd-info.

#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "VirtualRecorder.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "app/CommandLayerRecorders.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/CSkinBtn.h"
#include "support/VirtualRecorders.h"

using wt::Sink;

namespace {

QString Clip(const QString& folder, const QString& name, double seconds) {
  const QString path = folder + "/" + name;
  const QString s = QString::number(seconds);
  QProcess::execute("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                               "testsrc=duration=" + s + ":size=160x120:rate=25", "-f", "lavfi", "-i",
                               "sine=duration=" + s, "-c:v", "mpeg4", "-c:a", "mp3", "-shortest", path});
  return path;
}

QStringList Names(QListWidget* list) {
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->item(i)->text().section('\n', 0, 0);
  return names;
}

}  // namespace

class VideoWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { Sink().Clear(); }

  void AddsClipsWithThumbnailsAndRemovesThem() {
    const QString src = wt::NewTempFolder("clips");
    const QString a = Clip(src, "first.mp4", 2), b = Clip(src, "second.avi", 11);
    wt::WriteFile(src + "/notes.txt", "x");
    CDlgVideoDisc v(CVideoDiscProject::kVideoCd);
    QCOMPARE(v.TotalLabel()->text(), QString("0.00M"));
    QVERIFY(v.AddPaths({src}));
    QCOMPARE(Names(v.List()), QStringList({"first.mp4", "second.avi"}));
    QVERIFY2(v.List()->item(1)->text().contains(wt::LangText("Column", 3) + ": 00:00:11"),
             qPrintable(v.List()->item(1)->text()));
    QVERIFY(v.List()->item(1)->text().contains(b));
    for (int i = 0; i < 2; ++i) QVERIFY2(!v.List()->item(i)->icon().isNull(), "no thumbnail");
    QCOMPARE(v.List()->currentRow(), 1);
    QCOMPARE(v.TotalLabel()->text(), QString::asprintf("%.2f M ", double(v.Project().TotalMB())));
    QVERIFY(v.CapacityBar()->value() > 0);
    QCOMPARE(Sink().Count(), 0);
    QVERIFY(v.IsModified());
    // The Delete key removes the selected video.
    v.List()->setCurrentRow(0);
    QTest::keyClick(v.List(), Qt::Key_Delete);
    QCOMPARE(Names(v.List()), QStringList({"second.avi"}));
    // A file the converter cannot read is named.
    wt::WriteFile(src + "/broken.mpg", "not a video");
    QVERIFY(!v.AddPaths({src + "/broken.mpg"}));
    QVERIFY(Sink().Saw(src + "/broken.mpg"));
  }

  void OptionsFollowTheReencodeBoxAndTheModeSetsTheLabel() {
    CDlgVideoDisc v(CVideoDiscProject::kSuperVideoCd);
    QCOMPARE(v.LabelEdit()->text(), QString("SVCD"));
    QVERIFY(v.NtscButton()->isEnabled());
    v.ReencodeBox()->setChecked(false);
    QVERIFY(!v.NtscButton()->isEnabled());
    QVERIFY(!v.WideButton()->isEnabled());
    QVERIFY(!v.Project().Reencode());
    v.SetMode(CVideoDiscProject::kVideoCd);
    QCOMPARE(v.LabelEdit()->text(), QString("VCD"));
    QTest::keyClicks(v.LabelEdit(), "X");
    QCOMPARE(QString::fromStdString(v.Project().Label()), QString("VCDX"));
  }

  void SavesAndOpensVideoProjectsInBothModes() {
    const QString src = wt::NewTempFolder("vproj");
    const QString a = Clip(src, "a.mp4", 1.5);
    auto service = std::make_shared<VirtualRecorders>();
    CPlomeDlg w(service);
    w.FillRecorderLists();
    for (int mode : {int(CPlomeDlg::kVcd), int(CPlomeDlg::kSvcd)}) {
      w.SwitchMode(mode);
      CDlgVideoDisc* v = w.VideoWindow();
      QVERIFY(v);
      QVERIFY(w.Button(1020)->isEnabled());
      v->AddPaths({a});
      const QString file = src + QString("/mine%1.bcd").arg(mode);
      wt::Chooser().next = {file};
      QVERIFY(w.SaveProject());
      QCOMPARE(wt::Chooser().lastDefaultName, mode == CPlomeDlg::kVcd ? QString("VideoCD.bcd") : QString("SuperVideoCD.bcd"));
      QVERIFY(!v->IsModified());
      w.NewProject();
      QCOMPARE(v->List()->count(), 0);
      w.SwitchMode(CPlomeDlg::kDataDisc);
      QVERIFY(w.OpenProjectFile(file));
      QCOMPARE(w.Mode(), mode);
      QCOMPARE(w.VideoWindow(), v);
      QCOMPARE(Names(v->List()), QStringList({"a.mp4"}));
      QVERIFY(w.windowTitle().contains(QString("mine%1").arg(mode)));
    }
  }

  // Closing asks for every video project with changes, wherever the user
  // is; Cancel keeps the window and the project, No lets them go.
  void ClosingAsksForUnsavedVideoProjects() {
    const QString src = wt::NewTempFolder("vclose");
    const QString a = Clip(src, "a.mp4", 1);
    auto service = std::make_shared<VirtualRecorders>();
    CPlomeDlg w(service);
    w.show();
    w.Initialise();  // the recorders are read after the first paint
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kSvcd);
    QVERIFY(w.VideoWindow()->AddPaths({a}));
    w.SwitchMode(CPlomeDlg::kDvd);
    QVERIFY(w.VideoWindow()->AddPaths({a}));
    w.SwitchMode(CPlomeDlg::kDataDisc);
    Sink().Answer({msgbox::kCancel});
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QVERIFY(Sink().Saw(wt::LangText("Message", 1026).section("%1", 0, 0)));
    QVERIFY(Sink().Saw(wt::LangText("Tip", 23)));  // the Super Video CD is named
    QCOMPARE(w.Mode(), int(CPlomeDlg::kDataDisc));  // where the user is
    // No for both lets the window close; Ctrl+Q goes the same way.
    Sink().Clear();
    Sink().Answer({msgbox::kNo, msgbox::kNo});
    QVERIFY(w.close());
    QCOMPARE(Sink().Count(), 2);
  }

  void BurnRefusesAnEmptyProjectAndADiscThatIsNoCd() {
    const QString folder = wt::NewTempFolder("vburn");
    auto service = std::make_shared<VirtualRecorders>();
    service->AddRecorder((folder + "/dvd.vdisc").toStdString(), medium::kDvdR);
    CPlomeDlg w(service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kVcd);
    w.Burn();
    QVERIFY(Sink().Saw(wt::LangText("Error", result::kEmptyProject)));
    w.VideoWindow()->AddPaths({Clip(folder, "c.mp4", 1)});
    Sink().Clear();
    w.Burn();
    QVERIFY(Sink().Saw(wt::LangText("Message", 1300)));
  }

  // The recorders of the test service (VirtualRecorders) keep their own disc
  // format and take no video disc; a Video CD is written through the
  // command layer, as the program does, onto its virtual recorder.
  void BurnsAVideoCdThatVcdInfoReads() {
    const QString folder = wt::NewTempFolder("vcdburn");
    const QString state = folder + "/cdr.vdisc";
    std::string error;
    const int drive = FirstFreeRecorderIndex(3);
    QVERIFY2(OpenVirtualRecorder("virtual:" + state.toStdString() + ":cd-r", &error), error.c_str());
    struct Forget {
      int index;
      ~Forget() { RemoveRecorder(index); }
    } forget{drive};
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kVcd);
    QVERIFY(w.VideoWindow()->AddPaths({Clip(folder, "one.mp4", 2), Clip(folder, "two.avi", 2)}));
    for (int i = 0; i < w.RecorderList()->count(); ++i)
      if (DriveIndexOfEntry(w.RecorderList()->itemText(i).toStdString()) == drive) w.RecorderList()->setCurrentIndex(i);
    w.OnRecorderChanged();
    QCOMPARE(w.SelectedDrive(), drive);
    connect(&w, &CPlomeDlg::DialogOpened, &w, [](QDialog* d) {
      if (auto* settings = qobject_cast<CDlgBurnSet*>(d))
        QTimer::singleShot(0, settings, [settings] {
          if (settings->TryAccept()) settings->accept();
          else settings->reject();
        });
    });
    w.Burn();
    QVERIFY2(w.LastBurnResult() == result::kSuccess, Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    VirtualRecorder disc;
    const QString cue = folder + "/disc.cue";
    QVERIFY2(disc.Open(state.toStdString(), &error) && disc.ExportBinCue(cue.toStdString(), &error), error.c_str());
    QProcess info;
    info.start("vcd-info", {"-B", "-c", cue, "-f", "-E", "-T", "-p", "-I", "-P"});
    QVERIFY(info.waitForFinished(-1));
    const QString out = QString::fromUtf8(info.readAllStandardOutput() + info.readAllStandardError());
    QCOMPARE(info.exitCode(), 0);
    QVERIFY2(out.contains("VCD 2.0 detected") && out.contains("volume id: `VCD'"), qPrintable(out.left(400)));
    QVERIFY2(!out.contains("WARN"), "vcd-info finds fault with the disc");
  }
};

int RunVideoWindowTests(int argc, char** argv) {
  VideoWindowTest t;
  return QTest::qExec(&t, argc, argv);
}

#include "VideoWindowTest.moc"
