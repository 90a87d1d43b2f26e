// The disc copy window inside the main window, with virtual recorders of the
// recorder command layer: the source's track list, a copy on the fly, a copy
// through a file the user asked to replace, and a damaged copy file refused
// with its reason and nothing written.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <condition_variable>
#include <mutex>

#include "BurnCtrl/DiscCopy.h"
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "app/CommandLayerRecorders.h"
#include "foundation/ShowMessage.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "app/ui/CDlgDiscCopy.h"
#include "app/ui/CPlomeDlg.h"

using wt::Sink;

namespace {

// A virtual recorder of the command layer; a data track of `sectors` on it
// when asked, closed.
int AddDisc(const QString& path, const char* medium, int sectors) {
  std::string error;
  const int index = FirstFreeRecorderIndex(3);
  if (!OpenVirtualRecorder("virtual:" + path.toStdString() + ":" + medium, &error)) qFatal("%s", error.c_str());
  if (sectors > 0) {
    auto d = DevDeque::OpenDrive("virtual:" + path.toStdString(), 30, &error);
    WriteParam wp;
    wp.WriteType = 1;
    wp.TrackMode = 4;
    wp.DataBlockType = 8;
    wp.BufE = 1;
    bool ok = d && d->SetWriteParam(wp) == 0;
    std::vector<uint8_t> block(16 * 2048);
    for (int at = 0; ok && at < sectors; at += 16) {
      for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 7 + at);
      ok = d->Write(uint32_t(at), block.data(), 16 * 2048, 16) == 0;
    }
    ok = ok && d->CloseTrack(1) == 0 && d->CloseSession() == 0;
    if (!ok) qFatal("the source disc could not be written");
  }
  return index;
}

QByteArray Exported(const QString& state) {
  VirtualRecorder v;
  std::string error;
  if (!v.Open(state.toStdString(), &error) || !v.ExportBinCue((state + ".cue").toStdString(), &error)) return {};
  return wt::ReadFile(state + ".bin");
}

bool IsBlank(const std::shared_ptr<RecorderService>& service, int drive) {
  DiscInfo info;
  service->Eject(uint8_t(drive), false);
  return service->GetDiscInfoEx(uint8_t(drive), &info) == result::kSuccess && info.blank;
}

// The command layer whose copy waits at a gate until it is stopped, so that
// the window's Cancel certainly comes while the copy runs.
class GatedCopies : public CommandLayerRecorders {
 public:
  int DiscCopy(int, uint8_t, const std::string&) override {
    std::unique_lock<std::mutex> hold(lock_);
    running_ = true;
    changed_.wait(hold, [&] { return stopped_; });
    return result::kBurnStopped;
  }
  void StopCopy() override {
    std::lock_guard<std::mutex> hold(lock_);
    stopped_ = true;
    changed_.notify_all();
  }
  int GetCopyProgress() override { return 42; }
  bool Stopped() {
    std::lock_guard<std::mutex> hold(lock_);
    return stopped_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool running_ = false, stopped_ = false;
};

struct CopyRig {
  QString folder = wt::NewTempFolder("copy");
  std::shared_ptr<CommandLayerRecorders> layer;
  int source = AddDisc(folder + "/source.vdisc", "cd-r", 320);
  int target = AddDisc(folder + "/target.vdisc", "cd-r", 0);
  std::unique_ptr<CPlomeDlg> w;
  CDlgDiscCopy* copy = nullptr;

  explicit CopyRig(std::shared_ptr<CommandLayerRecorders> service = std::make_shared<CommandLayerRecorders>())
      : layer(std::move(service)) {
    w = std::make_unique<CPlomeDlg>(layer);
    w->FillRecorderLists();
    w->SwitchMode(CPlomeDlg::kDiscCopy);
    copy = w->CopyWindow();
    SelectIn(copy->SourceList(), source);
    SelectIn(w->RecorderList(), target);
    w->OnRecorderChanged();
  }
  ~CopyRig() {
    w.reset();
    RemoveRecorder(source);
    RemoveRecorder(target);
  }
  static void SelectIn(QComboBox* list, int drive) {
    for (int i = 0; i < list->count(); ++i)
      if (DriveIndexOfEntry(list->itemText(i).toStdString()) == drive) list->setCurrentIndex(i);
  }
};

}  // namespace

class DiscCopyWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { Sink().Clear(); }

  void ListsTheTracksAndCopiesOnTheFly() {
    CopyRig rig;
    QVERIFY(rig.copy);
    QVERIFY(!rig.copy->isHidden());
    QCOMPARE(rig.copy->Tracks()->topLevelItemCount(), 1);
    QTreeWidgetItem* row = rig.copy->Tracks()->topLevelItem(0);
    QCOMPARE(row->text(0), QString("Session 1"));
    QCOMPARE(row->text(2), QString("DATA(Mode1)"));
    QCOMPARE(row->text(3), QString("0"));
    QCOMPARE(row->text(4), QString("319"));
    // The blank target as a source shows why there is nothing to copy.
    CopyRig::SelectIn(rig.copy->SourceList(), rig.target);
    QCOMPARE(rig.copy->Tracks()->topLevelItemCount(), 1);
    QCOMPARE(rig.copy->Tracks()->topLevelItem(0)->text(0), wt::LangText("UIText", 26));
    CopyRig::SelectIn(rig.copy->SourceList(), rig.source);

    QVERIFY(rig.copy->OnTheFly()->isChecked());
    QVERIFY(!rig.copy->TempPath()->isEnabled());
    rig.w->Burn();
    QVERIFY2(Sink().Saw(wt::LangText("Message", 36)), Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    QVERIFY(Exported(rig.folder + "/source.vdisc") == Exported(rig.folder + "/target.vdisc"));
    // The copy is closed like its source: a second copy onto it is refused before anything runs.
    Sink().Clear();
    rig.layer->Eject(uint8_t(rig.target), false);
    rig.w->Burn();
    QVERIFY2(Sink().Saw(wt::LangText("Message", 17)), Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
  }

  void ThroughAFileOnlyReplacesWhatTheUserLetsGo() {
    CopyRig rig;
    const QString bcl = rig.folder + "/Temp.bcl";
    wt::WriteFile(bcl, "a file of the user's");
    rig.copy->OnTheFly()->setChecked(false);
    QVERIFY(rig.copy->TempPath()->isEnabled());
    rig.copy->TempPath()->setText(bcl);
    rig.copy->DeleteAfter()->setChecked(true);
    Sink().Answer({msgbox::kNo});
    rig.w->Burn();
    QVERIFY(Sink().Saw(wt::LangText("Message", 1201)));
    QCOMPARE(wt::ReadFile(bcl), QByteArray("a file of the user's"));
    QVERIFY(IsBlank(rig.layer, rig.target));

    Sink().Clear();
    Sink().Answer({msgbox::kYes});
    rig.w->Burn();
    QVERIFY2(Sink().Saw(wt::LangText("Message", 36)), Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    QVERIFY(!QFile::exists(bcl));  // deleted afterwards, as the box says
    QVERIFY(Exported(rig.folder + "/source.vdisc") == Exported(rig.folder + "/target.vdisc"));
  }

  void CancelInTheProgressWindowStopsTheCopy() {
    auto gated = std::make_shared<GatedCopies>();
    CopyRig rig(gated);
    int shownProgress = -1;
    QObject::connect(rig.w.get(), &CPlomeDlg::DialogOpened, rig.w.get(), [&](QDialog* d) {
      auto* progress = qobject_cast<CDlgProgress1*>(d);
      if (!progress) return;
      // Once the window shows the copy's progress: Cancel, and Yes to "stop?".
      auto* watch = new QTimer(progress);
      QObject::connect(watch, &QTimer::timeout, progress, [&, progress, watch] {
        if (progress->FirstPos() != 42) return;
        watch->stop();
        shownProgress = progress->FirstPos();
        Sink().Answer({msgbox::kYes});
        progress->CancelButton()->click();
      });
      watch->start(10);
    });
    rig.w->Burn();
    QVERIFY(gated->Stopped());
    QCOMPARE(shownProgress, 42);
    QVERIFY(Sink().Saw(wt::LangText("Message", 56)));
    QVERIFY2(Sink().Saw(wt::LangText("Message", 1010)), Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    QVERIFY(!Sink().Saw(wt::LangText("Message", 36)));
    QVERIFY(IsBlank(rig.layer, rig.target));
  }

  void ADamagedCopyFileIsRefusedWithItsReason() {
    CopyRig rig;
    const QString bcl = rig.folder + "/broken.bcl";
    QCOMPARE(SaveCopyFile(rig.source, bcl.toStdString()), result::kSuccess);
    QByteArray bytes = wt::ReadFile(bcl);
    bytes.chop(5000);
    QFile::remove(bcl);
    wt::WriteFile(bcl, bytes);
    QVERIFY(!rig.copy->BrowseFile()->isEnabled());
    rig.copy->FileMode()->click();
    QVERIFY(rig.copy->BrowseFile()->isEnabled());
    QVERIFY(!rig.copy->SourceList()->isEnabled());
    wt::Chooser().next = {bcl};
    rig.copy->BrowseFile()->click();
    QVERIFY(Sink().Saw(wt::LangText("Message", 1202)));
    QVERIFY(Sink().Saw("cut off"));
    QCOMPARE(rig.copy->Tracks()->topLevelItemCount(), 0);
    Sink().Clear();
    rig.w->Burn();
    QVERIFY(Sink().Saw(QString::fromStdString(LoadErrorText(result::kBadCopyFile))));
    QVERIFY(IsBlank(rig.layer, rig.target));
    QVERIFY(QFile::exists(bcl));  // a failed copy never deletes its source file
    // An empty file path is asked for first.
    Sink().Clear();
    rig.copy->FilePath()->clear();
    rig.w->Burn();
    QVERIFY(Sink().Saw(wt::LangText("Message", 50)));
  }
};

int RunDiscCopyWindowTests(int argc, char** argv) {
  DiscCopyWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "DiscCopyWindowTest.moc"
