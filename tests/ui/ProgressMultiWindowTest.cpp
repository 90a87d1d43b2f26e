// The window of several recorders at once, over virtual recorders of the
// recorder command layer: one row per recorder, the prompt for the next
// blank disc, a failing recorder's row, Cancel for all; and the main window
// burning one project, and one Video CD, onto two recorders chosen in the
// burn settings.

#include <QEventLoop>
#include <QPushButton>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <map>
#include <mutex>
#include <set>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "BurnCtrl/ui/CDlgProgressMulti.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "app/CommandLayerRecorders.h"
#include "authoring/CFileManager.h"
#include "authoring/StagingFolder.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CPlomeDlg.h"
#include "controls/CHListBox.h"
#include "foundation/LangText.h"
#include "foundation/TempFiles.h"

using wt::Sink;

namespace {

// Virtual CD-R recorders of the command layer at indexes 5 upwards; every
// new disc is a state file of its own.
struct Recorders {
  QString folder = wt::NewTempFolder("multi");
  std::map<int, std::vector<std::string>> discs;
  std::mutex lock;
  std::vector<int> drives;

  explicit Recorders(int count) {
    for (int i = 0; i < count; ++i) {
      drives.push_back(5 + i);
      Load(5 + i);
    }
  }
  ~Recorders() {
    for (int d : drives) {
      ResetBurn(d);
      RemoveRecorder(d);
    }
  }
  bool Load(int drive) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string state =
        (folder + QString("/d%1-%2.vdisc").arg(drive).arg(discs[drive].size() + 1)).toStdString();
    std::string error;
    if (!VirtualRecorder::Create(state, "cd-r", &error)) return false;
    auto dev = DevDeque::OpenDrive("virtual:" + state, drive, &error);
    if (!dev) return false;
    AddRecorder(std::make_shared<KestrineRecorder>(std::move(dev)));
    discs[drive].push_back(state);
    return true;
  }
  QString SetText() const {
    QString text = ",";
    for (int d : drives) text += QString::number(d) + ",";
    return text;
  }
};

QString Sources() {
  QString root = wt::NewTempFolder("multisrc");
  QByteArray big(600 * 1024, '\0');
  for (int i = 0; i < big.size(); ++i) big[i] = char(i * 13 + i / 7);
  wt::WriteFile(root + "/big.bin", big);
  wt::WriteFile(root + "/note.txt", "several at once\n");
  return root;
}

// Runs the window until it closes, as a user's event loop would.
int RunUntilClosed(CDlgProgressMulti& dialog) {
  QEventLoop loop;
  QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
  dialog.open();
  loop.exec();
  return dialog.result();
}

// Lets the window poll until `done` holds.
template <class Pred>
void PollUntil(Pred done) {
  while (!done()) QTest::qWait(20);
}

// Checks the recorders `drives` in the burn settings and accepts them.
void ChooseRecorders(CPlomeDlg& w, std::set<int> drives, bool* multiShown, int rows) {
  QObject::connect(&w, &CPlomeDlg::DialogOpened, &w, [=](QDialog* d) {
    if (auto* settings = qobject_cast<CDlgBurnSet*>(d)) {
      QTimer::singleShot(0, settings, [settings, drives] {
        for (int i = 0; i < settings->RecorderList()->count(); ++i) {
          const int drive = DriveIndexOfEntry(settings->RecorderList()->item(i)->text().toStdString());
          if (drives.count(drive)) settings->RecorderList()->item(i)->setCheckState(Qt::Checked);
        }
        if (settings->TryAccept()) settings->accept();
        else settings->reject();
      });
    }
    if (auto* multi = qobject_cast<CDlgProgressMulti*>(d)) {
      *multiShown = true;
      QCOMPARE(multi->List()->topLevelItemCount(), rows);
    }
  });
}

QString Cell(CDlgProgressMulti& d, int row, int column) { return d.List()->topLevelItem(row)->text(column); }

}  // namespace

class ProgressMultiWindowTest : public QObject {
  Q_OBJECT
 private slots:

  void RowsFollowEveryRecorderAndAskForTheNextDisc() {
    Recorders rig(3);
    QString src = Sources();
    const std::string staged = MakeStagingRoot();
    CFileManager manager;
    manager.SetStagingRoot(staged);
    QVERIFY(manager.AddPath(nullptr, nullptr, (src + "/big.bin").toStdString(), staged));
    QVERIFY(manager.AddPath(nullptr, nullptr, (src + "/note.txt").toStdString(), staged));

    CDlgProgressMulti dialog;
    dialog.SetProject(CDlgProgressMulti::kDataDisc, 2);
    dialog.SetDriveSet(rig.SetText().mid(1), {{5, "F: VIRTUAL ONE"}});
    QCOMPARE(dialog.DriveSetText(), rig.SetText());
    QCOMPARE(dialog.List()->topLevelItemCount(), 3);
    QCOMPARE(Cell(dialog, 0, 0), QString("F: VIRTUAL ONE"));
    QCOMPARE(Cell(dialog, 1, 0), QString("G: "));
    QCOMPARE(Cell(dialog, 1, 3), QString("1 / 2"));
    for (int c = 0; c < 5; ++c) QCOMPARE(dialog.List()->headerItem()->text(c), wt::LangText("Column", 20 + c));

    // The first row to finish its first copy waits for its next disc until
    // the test has seen the prompt.
    std::atomic<bool> release{false};
    std::atomic<int> waiting{-1};
    BurnMultiRun::Hooks hooks;
    hooks.nextDisc = [&](int drive, int, const std::atomic<bool>&) {
      int none = -1;
      if (waiting.compare_exchange_strong(none, drive))
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return rig.Load(drive);
    };
    dialog.SetBurn([&](int d) { return WriteCd(d, staged, "MULTI", 0, false, false, false); }, hooks);
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.open();
    PollUntil([&] { return waiting >= 0; });
    const int row = waiting - 5;
    const QString prompt = wt::LangText("UIText", 1342).arg(2);
    PollUntil([&] { return Cell(dialog, row, 1) == prompt; });
    QCOMPARE(Cell(dialog, row, 2), QString("50%"));
    QCOMPARE(Cell(dialog, row, 4), wt::LangText("UIText", 1347));
    release = true;
    loop.exec();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Result(), result::kSuccess);
    QVERIFY(dialog.Summary().isEmpty());
    for (int r = 0; r < 3; ++r) {
      QCOMPARE(Cell(dialog, r, 1), wt::LangText("UIText", 1343));
      QCOMPARE(Cell(dialog, r, 2), QString("100%"));
      QCOMPARE(Cell(dialog, r, 3), QString("2 / 2"));
    }
    for (int d : rig.drives) QCOMPARE(rig.discs[d].size(), size_t(2));  // a new disc for the second copy
    QVERIFY(dialog.windowTitle().startsWith(wt::LangText("UIText", 95)));
    RemoveTree(staged);
  }

  void AFailingRecorderShowsItsErrorAndCancelStopsTheRest() {
    Recorders rig(2);
    QString src = Sources();
    const std::string staged = MakeStagingRoot();
    CFileManager manager;
    manager.SetStagingRoot(staged);
    QVERIFY(manager.AddPath(nullptr, nullptr, (src + "/big.bin").toStdString(), staged));
    {
      // The second recorder's writes fail.
      ResetBurn(6);
      RemoveRecorder(6);
      VirtualRecorder v;
      std::string error;
      QVERIFY(v.Open(rig.discs[6].back(), &error));
      VirtualFaults f;
      f.writeFailAt = 2;
      f.writeFailCount = 1000;
      QVERIFY(v.SetFaults(f, &error));
    }
    std::string error;
    AddRecorder(std::make_shared<KestrineRecorder>(DevDeque::OpenDrive("virtual:" + rig.discs[6].back(), 6, &error)));

    // The good recorder waits for its next disc until the user cancels.
    BurnMultiRun::Hooks hooks;
    hooks.nextDisc = [&](int, int, const std::atomic<bool>& cancel) {
      while (!cancel) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return false;
    };
    CDlgProgressMulti dialog;
    dialog.SetProject(CDlgProgressMulti::kDataDisc, 3);
    dialog.SetDriveSet(rig.SetText());
    dialog.SetBurn([&](int d) { return WriteCd(d, staged, "FAIL", 0, false, false, false); }, hooks);
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.open();
    const QString failed = QString::fromStdString(LoadErrorText(result::kWriteFailed));
    // The good row's cells change in the same refresh that shows its prompt.
    const QString prompt = wt::LangText("UIText", 1342).arg(2);
    PollUntil([&] { return Cell(dialog, 0, 1) == prompt && Cell(dialog, 1, 1).startsWith(failed); });
    QVERIFY2(Cell(dialog, 1, 1).contains("WRITE"), qPrintable(Cell(dialog, 1, 1)));
    QCOMPARE(Cell(dialog, 1, 2), QString());
    QCOMPARE(Cell(dialog, 1, 3), QString());
    QCOMPARE(Cell(dialog, 0, 2), QString("33%"));
    // Cancel asks first; No goes on.
    Sink().Clear();
    Sink().Answer({msgbox::kNo});
    dialog.CancelButton()->click();
    QVERIFY(Sink().Saw(wt::LangText("Message", 56)));
    QVERIFY(dialog.isVisible());
    Sink().Answer({msgbox::kYes});
    dialog.CancelButton()->click();
    loop.exec();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.Result(), result::kBurnStopped);
    QCOMPARE(Cell(dialog, 0, 1), wt::LangText("UIText", 1344));
    QVERIFY2(dialog.Summary().contains("G:"), qPrintable(dialog.Summary()));
    for (int d : rig.drives) {
      QVERIFY(!GetDriveStatus(d).hasFigures);
    }
    RemoveTree(staged);
  }

  void NoDriveStartsNothing() {
    CDlgProgressMulti dialog;
    dialog.SetDriveSet(",0,26,");
    std::atomic<int> burns{0};
    dialog.SetBurn([&](int) { return ++burns, result::kSuccess; });
    RunUntilClosed(dialog);
    QCOMPARE(dialog.Result(), result::kNothingDone);
    QCOMPARE(burns.load(), 0);
  }

  void TheMainWindowBurnsOnTwoRecordersAtOnce() {
    Recorders rig(2);
    auto layer = std::make_shared<CommandLayerRecorders>();
    CPlomeDlg w(layer);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    QString src = Sources();
    QVERIFY(w.DataWindow(CPlomeDlg::kDataDisc)->AddPaths({src + "/big.bin", src + "/note.txt"}));
    bool multiShown = false;
    QObject::connect(&w, &CPlomeDlg::DialogOpened, &w, [&](QDialog* d) {
      if (auto* settings = qobject_cast<CDlgBurnSet*>(d)) {
        QTimer::singleShot(0, settings, [settings] {
          for (int i = 0; i < settings->RecorderList()->count(); ++i) {
            const int drive = DriveIndexOfEntry(settings->RecorderList()->item(i)->text().toStdString());
            if (drive == 5 || drive == 6) settings->RecorderList()->item(i)->setCheckState(Qt::Checked);
          }
          if (settings->TryAccept()) settings->accept();
          else settings->reject();
        });
      }
      if (auto* multi = qobject_cast<CDlgProgressMulti*>(d)) {
        multiShown = true;
        QCOMPARE(multi->List()->topLevelItemCount(), 2);
      }
    });
    Sink().Clear();
    w.Burn();
    QVERIFY(multiShown);
    QVERIFY2(Sink().Saw(wt::LangText("Message", 40)), Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    QCOMPARE(w.LastBurnResult(), result::kSuccess);
    QByteArray images[2];
    for (int i = 0; i < 2; ++i) {
      VirtualRecorder v;
      std::string error;
      const std::string iso = (rig.folder + QString("/out%1.iso").arg(i)).toStdString();
      QVERIFY(v.Open(rig.discs[5 + i].front(), &error));
      QVERIFY2(v.ExportIso(iso, &error), error.c_str());
      images[i] = wt::ReadFile(QString::fromStdString(iso));
    }
    QVERIFY(images[0].size() > 600 * 1024);
    QVERIFY2(images[0] == images[1], "the two discs differ");
  }

  // A Video CD is converted once and written on two recorders; the prepared
  // files go once both have ended.
  void TheMainWindowBurnsAVideoCdOnTwoRecorders() {
    Recorders rig(2);
    auto layer = std::make_shared<CommandLayerRecorders>();
    CPlomeDlg w(layer);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kVcd);
    const QString clip = rig.folder + "/clip.mp4";
    QProcess::execute("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                 "testsrc=duration=2:size=160x120:rate=25", "-f", "lavfi", "-i", "sine=duration=2",
                                 "-c:v", "mpeg4", "-c:a", "mp3", "-shortest", clip});
    w.VideoWindow()->AddPaths({clip});
    QCOMPARE(w.VideoWindow()->Project().ItemCount(), size_t(1));
    bool multiShown = false;
    ChooseRecorders(w, {5, 6}, &multiShown, 2);
    Sink().Clear();
    w.Burn();
    QVERIFY(multiShown);
    QVERIFY2(Sink().Saw(wt::LangText("Message", 40)), Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    QCOMPARE(w.LastBurnResult(), result::kSuccess);
    QVERIFY(w.VideoWindow()->Project().PreparedItems().empty());
    QByteArray bins[2];
    for (int i = 0; i < 2; ++i) {
      VirtualRecorder v;
      std::string error;
      const QString cue = rig.folder + QString("/vcd%1.cue").arg(i);
      QVERIFY(v.Open(rig.discs[5 + i].front(), &error));
      QVERIFY2(v.ExportBinCue(cue.toStdString(), &error), error.c_str());
      bins[i] = wt::ReadFile(rig.folder + QString("/vcd%1.bin").arg(i));
    }
    QVERIFY(bins[0].size() > 2352 * 1100);
    QVERIFY2(bins[0] == bins[1], "the two Video CDs differ");
  }
};

int RunProgressMultiWindowTests(int argc, char** argv) {
  ProgressMultiWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ProgressMultiWindowTest.moc"
