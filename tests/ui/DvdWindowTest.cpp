// The video disc window in the DVD-Video mode of the main window: adding,
// removing, saving and opening a DVD project, a burn onto a virtual DVD-R
// read back by lsdvd, and Cancel while the authoring tool runs.

#include <signal.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cerrno>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "VirtualRecorder.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "app/CommandLayerRecorders.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/CSkinBtn.h"
#include "foundation/ShowMessage.h"
#include "foundation/TempFiles.h"
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

// A blank virtual DVD-R of the command layer; its drive index.
int AddDvdR(const QString& state) {
  std::string error;
  const int index = FirstFreeRecorderIndex(3);
  if (!OpenVirtualRecorder("virtual:" + state.toStdString() + ":dvd-r", &error)) qFatal("%s", error.c_str());
  return index;
}

void SelectDrive(CPlomeDlg& w, int drive) {
  for (int i = 0; i < w.RecorderList()->count(); ++i)
    if (DriveIndexOfEntry(w.RecorderList()->itemText(i).toStdString()) == drive) w.RecorderList()->setCurrentIndex(i);
  w.OnRecorderChanged();
}

void AutoAcceptSettings(CPlomeDlg& w) {
  QObject::connect(&w, &CPlomeDlg::DialogOpened, &w, [](QDialog* d) {
    if (auto* settings = qobject_cast<CDlgBurnSet*>(d))
      QTimer::singleShot(0, settings, [settings] {
        if (settings->TryAccept()) settings->accept();
        else settings->reject();
      });
  });
}

QStringList DvdWorkFolders() {
  return QDir(QString::fromStdString(WorkFolderRoot())).entryList({"varnex-dvd-*"}, QDir::Dirs);
}

// The recorder leaves the command layer with the test, after its window.
struct ForgetRecorder {
  int index;
  ~ForgetRecorder() { RemoveRecorder(index); }
};

class AuthoringStandIn {
 public:
  explicit AuthoringStandIn(const QString& path) { qputenv("VARNEX_AUTHORING", path.toUtf8()); }
  ~AuthoringStandIn() { qunsetenv("VARNEX_AUTHORING"); }
};

}  // namespace

class DvdWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { Sink().Clear(); }

  void DvdModeTakesClipsAndSavesAndOpensItsProject() {
    const QString src = wt::NewTempFolder("dvdproj");
    const QString a = Clip(src, "first.mp4", 2), b = Clip(src, "second.MoV", 11);
    wt::WriteFile(src + "/AVSEQ01.DAT", QByteArray(2352 * 20, '\0'));
    CPlomeDlg w(std::make_shared<VirtualRecorders>());
    w.FillRecorderLists();
    QVERIFY(w.Button(1022)->isEnabled());
    w.SwitchMode(CPlomeDlg::kDvd);
    CDlgVideoDisc* v = w.VideoWindow();
    QVERIFY(v);
    QCOMPARE(v->Mode(), int(CVideoDiscProject::kDvdVideo));
    QCOMPARE(v->LabelEdit()->text(), QString("DVD"));
    // A DVD is always authored from converted titles: no re-encode choice,
    // the TV system and the picture shape are always offered.
    QVERIFY(v->ReencodeBox()->isHidden());
    QVERIFY(v->NtscButton()->isEnabled() && v->WideButton()->isEnabled());
    // A Video CD track holds no title of a DVD: it is passed over.
    QVERIFY(v->AddPaths({a, b, src + "/AVSEQ01.DAT"}));
    QCOMPARE(Names(v->List()), QStringList({"first.mp4", "second.MoV"}));
    for (int i = 0; i < 2; ++i) QVERIFY2(!v->List()->item(i)->icon().isNull(), "no thumbnail");
    // The capacity bar measures against a DVD less the sectors it keeps free.
    QVERIFY(v->CapacityBar()->value() > 0);
    QVERIFY2(v->CapacityBar()->toolTip().endsWith("/ 4463 MB"), qPrintable(v->CapacityBar()->toolTip()));
    v->NtscButton()->setChecked(true);
    v->List()->setCurrentRow(0);
    QTest::keyClick(v->List(), Qt::Key_Delete);
    QCOMPARE(Names(v->List()), QStringList({"second.MoV"}));
    v->AddPaths({a});
    QTest::keyClicks(v->LabelEdit(), "_TRIP");
    const QString file = src + "/trip.bcd";
    wt::Chooser().next = {file};
    QVERIFY(w.SaveProject());
    QCOMPARE(wt::Chooser().lastDefaultName, QString("DVD-Video.bcd"));
    QCOMPARE(int(wt::ReadFile(file).at(4)), 6);
    w.NewProject();
    QCOMPARE(v->List()->count(), 0);
    w.SwitchMode(CPlomeDlg::kVcd);
    QVERIFY(w.OpenProjectFile(file));
    QCOMPARE(w.Mode(), int(CPlomeDlg::kDvd));
    QCOMPARE(w.VideoWindow(), v);
    QCOMPARE(Names(v->List()), QStringList({"second.MoV", "first.mp4"}));
    QCOMPARE(v->LabelEdit()->text(), QString("DVD_TRIP"));
    QCOMPARE(Sink().Count(), 0);
  }

  void BurnOntoAVirtualDvdRGivesTitlesAPlayerReads() {
    const QString folder = wt::NewTempFolder("dvdburn");
    const QString state = folder + "/dvdr.vdisc";
    const int drive = AddDvdR(state);
    ForgetRecorder forget{drive};
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDvd);
    CDlgVideoDisc* v = w.VideoWindow();
    QVERIFY(v->AddPaths({Clip(folder, "one.mp4", 2), Clip(folder, "two.avi", 3)}));
    v->LabelEdit()->setText("HOLIDAY");
    v->Project().SetLabel("HOLIDAY");
    SelectDrive(w, drive);
    QCOMPARE(w.SelectedDrive(), drive);
    AutoAcceptSettings(w);
    w.Burn();
    QVERIFY2(w.LastBurnResult() == result::kSuccess, Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    QVERIFY(DvdWorkFolders().isEmpty());
    // The written disc, exported, is a DVD-Video of two titles as long as the clips.
    VirtualRecorder disc;
    std::string error;
    const QString iso = folder + "/disc.iso";
    QVERIFY2(disc.Open(state.toStdString(), &error) && disc.ExportIso(iso.toStdString(), &error), error.c_str());
    QProcess lsdvd;
    lsdvd.start("lsdvd", {iso});
    QVERIFY(lsdvd.waitForFinished(-1));
    const QString out = QString::fromUtf8(lsdvd.readAllStandardOutput());
    QVERIFY2(out.contains("Disc Title: HOLIDAY"), qPrintable(out));
    QRegularExpression title("Title: (\\d+), Length: (\\d+):(\\d+):([\\d.]+)");
    QList<double> lengths;
    for (auto it = title.globalMatch(out); it.hasNext();) {
      const auto m = it.next();
      lengths << m.captured(2).toInt() * 3600 + m.captured(3).toInt() * 60 + m.captured(4).toDouble();
    }
    QCOMPARE(lengths.size(), 2);
    QVERIFY2(qAbs(lengths[0] - 2) <= 1 && qAbs(lengths[1] - 3) <= 1, qPrintable(out));
  }

  void CancelWhileAuthoringEndsTheToolAndKeepsNothing() {
    const QString folder = wt::NewTempFolder("dvdcancel");
    const QString state = folder + "/dvdr.vdisc";
    const int drive = AddDvdR(state);
    ForgetRecorder forget{drive};
    // The authoring tool says it runs (its process id), then waits to be ended.
    const QString gate = folder + "/started";
    const QString tool = folder + "/author";
    wt::WriteFile(tool, ("#!/bin/sh\necho $$ > '" + gate + ".part'\nmv '" + gate + ".part' '" + gate +
                         "'\nexec sleep 600\n").toUtf8());
    QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    AuthoringStandIn standIn(tool);
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDvd);
    CDlgVideoDisc* v = w.VideoWindow();
    QVERIFY(v->AddPaths({Clip(folder, "one.mp4", 1)}));
    SelectDrive(w, drive);
    AutoAcceptSettings(w);
    QString caption;
    QStringList workFolders;
    connect(&w, &CPlomeDlg::DialogOpened, &w, [&](QDialog* d) {
      auto* progress = qobject_cast<CDlgProgress1*>(d);
      if (!progress) return;
      // Cancel comes once the tool has said it runs, never before.
      auto* poll = new QTimer(progress);
      connect(poll, &QTimer::timeout, progress, [&, poll, progress] {
        if (!QFile::exists(gate)) return;
        poll->stop();
        caption = v->WritingCaption();
        workFolders = DvdWorkFolders();
        progress->CancelButton()->click();
      });
      poll->start(20);
    });
    Sink().Answer({msgbox::kYes, msgbox::kOk});
    w.Burn();
    QCOMPARE(caption, wt::LangText("UIText", 1184));
    QCOMPARE(workFolders.size(), 1);
    QCOMPARE(w.LastBurnResult(), result::kBurnStopped);
    QVERIFY2(DvdWorkFolders().isEmpty(), qPrintable(DvdWorkFolders().join(" ")));
    const pid_t pid = pid_t(wt::ReadFile(gate).trimmed().toInt());
    QVERIFY(pid > 0);
    QVERIFY2(::kill(pid, 0) != 0 && errno == ESRCH, "the authoring tool still runs");
    // Nothing was written: the disc takes the next burn.
    DiscInfo info;
    CommandLayerRecorders layer;
    layer.Eject(uint8_t(drive), false);
    QCOMPARE(layer.GetDiscInfoEx(uint8_t(drive), &info), result::kSuccess);
    QVERIFY(info.blank);
  }
};

int RunDvdWindowTests(int argc, char** argv) {
  DvdWindowTest t;
  return QTest::qExec(&t, argc, argv);
}

#include "DvdWindowTest.moc"
