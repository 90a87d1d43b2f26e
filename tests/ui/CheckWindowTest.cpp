// The disc check page: a virtual recorder whose disc has an unreadable
// range is read on the page's own thread, held at a chosen sector by the
// recorder's read pace so that what the page shows while it reads is looked
// at without any wait; Stop, a disc taken out, the report, the graph and
// the checksum list that md5sum reads.

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <condition_variable>
#include <mutex>

#include "BurnCtrl/RecorderCommands.h"
#include "CDevCmdRW.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "analysis/ui/CDlgAnaly_Check.h"
#include "analysis/ui/CheckGraph.h"
#include "app/CommandLayerRecorders.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/CPlomeDlgIds.h"
#include "app/ui/CSkinBtn.h"
#include "support/TakenOutDrive.h"

using wt::Sink;

namespace {

// Holds the first read that touches `at` until released: the check is then
// certainly under way with everything before `at` read.
class ReadGate {
 public:
  explicit ReadGate(int32_t at) : s_(std::make_shared<State>()) {
    // The worker may still be in the pace when the gate goes: it holds the
    // state itself.
    VirtualRecorder::SetReadPace([s = s_, at](int32_t lba, uint32_t count, bool) {
      std::unique_lock<std::mutex> lock(s->m);
      if (s->passed || lba > at || lba + int32_t(count) <= at) return;
      s->held = true;
      s->cv.wait(lock, [&] { return s->released; });
      s->passed = true;
    });
  }
  ~ReadGate() {
    Release();
    VirtualRecorder::SetReadPace(nullptr);
  }
  bool Held() {
    std::lock_guard<std::mutex> lock(s_->m);
    return s_->held;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(s_->m);
    s_->released = true;
    s_->cv.notify_all();
  }

 private:
  struct State {
    std::mutex m;
    std::condition_variable cv;
    bool held = false, released = false, passed = false;
  };
  std::shared_ptr<State> s_;
};

QByteArray Pattern(int size) {
  QByteArray b(size, 0);
  for (int i = 0; i < size; ++i) b[i] = char((i * 7 + i / 2048) & 0xFF);
  return b;
}

// A pressed DVD of a folder with one big file, its sectors 150-159
// unreadable; the state file's path.
QString MakeDisc(const QString& dir) {
  wt::WriteFile(dir + "/src/big.bin", Pattern(600 * 1024));
  wt::WriteFile(dir + "/src/notes/small.txt", "small\n");
  QProcess p;
  p.start("genisoimage", {"-quiet", "-J", "-R", "-V", "CHECK", "-o", dir + "/disc.iso", dir + "/src"});
  if (!p.waitForFinished(-1) || p.exitCode() != 0) qFatal("genisoimage failed");
  const std::string state = (dir + "/disc.vdisc").toStdString();
  std::string error;
  if (!VirtualRecorder::CreatePressedData(state, "dvd-rom", (dir + "/disc.iso").toStdString(), &error))
    qFatal("%s", error.c_str());
  VirtualRecorder v;
  VirtualFaults f;
  f.unreadable = {{150, 159}};
  if (!v.Open(state, &error) || !v.SetFaults(f, &error)) qFatal("%s", error.c_str());
  return dir + "/disc.vdisc";
}

void WaitFor(const std::function<bool()>& done) {
  while (!done()) QTest::qWait(5);
}

}  // namespace

class CheckWindowTest : public QObject {
  Q_OBJECT
 private:
  QString dir_, state_;
  int index_ = -1;

  // The main window on the check page with the test's recorder chosen.
  CDlgAnaly_Check* OpenPage(CPlomeDlg& w) {
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kCheckDisc);
    for (int i = 0; i < w.RecorderList()->count(); ++i)
      if (DriveIndexOfEntry(w.RecorderList()->itemText(i).toStdString()) == index_) {
        w.RecorderList()->setCurrentIndex(i);
        emit w.RecorderList()->activated(i);
      }
    return w.CheckWindow();
  }

 private slots:
  void initTestCase() {
    dir_ = wt::NewTempFolder("check");
    state_ = MakeDisc(dir_);
    index_ = FirstFreeRecorderIndex(3);
    std::string error;
    QVERIFY2(OpenVirtualRecorder("virtual:" + state_.toStdString(), &error), error.c_str());
  }
  void cleanupTestCase() { RemoveRecorder(index_); }
  void init() { Sink().Clear(); }

  void TheGraphGrowsWhileItReadsAndTheRangesComeWithTheirFiles() {
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    CDlgAnaly_Check* page = OpenPage(w);
    QVERIFY(page);
    QVERIFY(page->Drive());
    QVERIFY(w.Button(plome::kIdAnalyCheck)->isVisibleTo(&w));
    QVERIFY(!w.Button(plome::kIdBurn)->isVisibleTo(&w));
    QSignalSpy finished(page, &CDlgAnaly_Check::CheckFinished);
    {
      ReadGate gate(200);
      QVERIFY(page->StartButton()->isEnabled());
      page->StartButton()->click();
      QVERIFY(page->Running());
      WaitFor([&] { return gate.Held(); });
      // Everything before the gate was sampled; the page shows it while
      // the worker is held, and takes no second start.
      WaitFor([&] { return !page->Graph()->Report().samples.empty() && page->Ranges()->topLevelItemCount() == 1; });
      const CheckReport& live = page->Graph()->Report();
      QVERIFY(live.samples.back().lba < 200);
      QVERIFY(live.sectors < live.total);
      QCOMPARE(page->Ranges()->topLevelItem(0)->text(0), QString("150"));
      QVERIFY2(page->Status()->text().startsWith(wt::LangText("UIText", 1426).section('%', 0, 0)),
               qPrintable(page->Status()->text()));
      QVERIFY(!page->StartButton()->isEnabled());
      QVERIFY(page->StopButton()->isEnabled());
      QVERIFY(!page->Start());
      gate.Release();
      WaitFor([&] { return !finished.isEmpty(); });
    }
    const CheckReport& r = page->Report();
    QCOMPARE(int(r.state), int(CheckReport::kDone));
    QCOMPARE(r.sectors, r.total);
    QCOMPARE(r.unreadableSectors, uint64_t(10));
    QCOMPARE(page->Ranges()->topLevelItemCount(), 1);
    QTreeWidgetItem* row = page->Ranges()->topLevelItem(0);
    QCOMPARE(row->text(0), QString("150"));
    QCOMPARE(row->text(1), QString("159"));
    QCOMPARE(row->text(2), QString("00:04:00 - 00:04:09"));
    QCOMPARE(row->text(3), QString("10"));
    QCOMPARE(row->text(4), QString("big.bin"));
    QCOMPARE(page->Status()->text(), wt::LangText("UIText", 1429)
                                         .arg(QString::number(r.seconds, 'f', 1))
                                         .arg(10)
                                         .arg(1));
    QVERIFY(!page->Running());
    QVERIFY(page->StartButton()->isEnabled());

    // The report and the graph go where the user chose; an existing file
    // is never replaced without the dialog's question.
    wt::Chooser().next = {dir_ + "/check.txt"};
    page->SaveReport();
    const QByteArray text = wt::ReadFile(dir_ + "/check.txt");
    QCOMPARE(text, QByteArray::fromStdString(CheckReportText(r)));
    QVERIFY(text.contains("150-159 (00:04:00-00:04:09): big.bin"));
    wt::WriteFile(dir_ + "/kept.txt", "mine");
    std::string why;
    QVERIFY(!page->SaveReportTo(dir_ + "/kept.txt", false, &why));
    QVERIFY(!why.empty());
    QCOMPARE(wt::ReadFile(dir_ + "/kept.txt"), QByteArray("mine"));
    wt::Chooser().next = {dir_ + "/check.png"};
    page->SaveGraph();
    const QImage png(dir_ + "/check.png");
    QVERIFY(!png.isNull());
    QCOMPARE(png.size(), QSize(800, 400));
    // The scales carry their numbers: text left of the speed axis and
    // under the position axis.
    auto textPixels = [&](const QRect& area) {
      int n = 0;
      for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += png.pixel(x, y) == qRgb(0x30, 0x30, 0x30);
      return n;
    };
    QVERIFY(textPixels(QRect(0, 0, 50, 400)) > 40);
    QVERIFY(textPixels(QRect(52, 372, 700, 28)) > 40);
    QVERIFY(page->SaveGraphTo(dir_ + "/check.svg", false, &why));
    QVERIFY(wt::ReadFile(dir_ + "/check.svg").contains("<title>150-159 big.bin</title>"));
    if (QProcess::execute("sh", {"-c", "command -v xmllint >/dev/null"}) == 0)
      QCOMPARE(QProcess::execute("xmllint", {"--noout", dir_ + "/check.svg"}), 0);
    QVERIFY(!Sink().Saw(wt::LangText("Message", 1040)));
  }

  void StopEndsTheCheckWhereItIs() {
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    CDlgAnaly_Check* page = OpenPage(w);
    QSignalSpy finished(page, &CDlgAnaly_Check::CheckFinished);
    {
      ReadGate gate(100);
      QVERIFY(page->Start());
      WaitFor([&] { return gate.Held(); });
      page->StopButton()->click();
      gate.Release();
      WaitFor([&] { return !finished.isEmpty(); });
    }
    const CheckReport& r = page->Report();
    QCOMPARE(int(r.state), int(CheckReport::kStopped));
    QVERIFY(r.sectors > 0 && r.sectors < r.total);
    QVERIFY(r.unreadable.empty());  // stopped before the bad range
    QCOMPARE(page->Status()->text(), wt::LangText("UIText", 1430)
                                         .arg(QString::number(r.seconds, 'f', 1))
                                         .arg(r.sectors)
                                         .arg(r.total));
    QVERIFY(page->StartButton()->isEnabled());
    QVERIFY(!page->StopButton()->isEnabled());
    // The window can go while a check reads: it stops the check and waits.
    ReadGate gate(64);
    QVERIFY(page->Start());
    WaitFor([&] { return gate.Held(); });
    gate.Release();
  }

  void ADiscTakenOutIsTold() {
    auto v = std::make_unique<VirtualRecorder>();
    std::string error;
    QVERIFY2(v->Open(state_.toStdString(), &error), error.c_str());
    CDevCmdRW drive(std::make_unique<TakenOutDrive>(std::move(v), 64), 30);
    CDlgAnaly_Check page(std::make_shared<CommandLayerRecorders>());
    page.SetDrive(&drive, "taken");
    QSignalSpy finished(&page, &CDlgAnaly_Check::CheckFinished);
    QVERIFY(page.Start());
    WaitFor([&] { return !finished.isEmpty(); });
    const CheckReport& r = page.Report();
    QCOMPARE(int(r.state), int(CheckReport::kLost));
    QCOMPARE(r.unreadableSectors, uint64_t(0));
    QCOMPARE(page.Ranges()->topLevelItemCount(), 0);
    QCOMPARE(page.Status()->text(), wt::LangText("UIText", 1435).arg(64).arg(QString::fromStdString(r.why)));
    QVERIFY(page.Status()->text().contains("2/3A/00"));
  }

  void TheChecksumListIsReadByMd5sumInTheExtractedFiles() {
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    CDlgAnaly_Check* page = OpenPage(w);
    // The unreadable range lies in big.bin; without it every file reads.
    {
      VirtualRecorder v;
      std::string error;
      QVERIFY2(v.Open(state_.toStdString(), &error) && v.SetFaults(VirtualFaults(), &error), error.c_str());
    }
    QSignalSpy listed(page, &CDlgAnaly_Check::ChecksumListFinished);
    std::string why;
    {
      // Stopped inside big.bin: a list that lacks files is not written.
      ReadGate gate(100);
      QVERIFY(page->StartChecksumList(dir_ + "/disc.md5", false, &why));
      WaitFor([&] { return gate.Held(); });
      QVERIFY(!page->StartButton()->isEnabled());
      page->StopButton()->click();
      gate.Release();
      WaitFor([&] { return !listed.isEmpty(); });
    }
    QVERIFY(!QFile::exists(dir_ + "/disc.md5"));
    QCOMPARE(page->Status()->text(), wt::LangText("UIText", 1442));
    listed.clear();
    wt::Chooser().next = {dir_ + "/disc.md5"};
    page->SaveChecksumList();
    WaitFor([&] { return !listed.isEmpty(); });
    QVERIFY(!Sink().Saw(wt::LangText("Message", 1042)));
    QCOMPARE(page->Status()->text(), wt::LangText("UIText", 1443).arg(dir_ + "/disc.md5"));
    const QByteArray list = wt::ReadFile(dir_ + "/disc.md5");
    QVERIFY2(list.contains("  big.bin\n") && list.contains("  notes/small.txt\n"), list.constData());
    QProcess extract;
    extract.start(QString(VARNEX_BIN_DIR) + "/varnex-cli",
                  {"extract-files", "--drive", "virtual:" + state_, "-o", dir_ + "/out"});
    QVERIFY(extract.waitForFinished(-1));
    QCOMPARE(extract.exitCode(), 0);
    QProcess md5;
    md5.setWorkingDirectory(dir_ + "/out");
    md5.start("md5sum", {"-c", dir_ + "/disc.md5"});
    QVERIFY(md5.waitForFinished(-1));
    QVERIFY2(md5.exitCode() == 0, md5.readAll().constData());
    // A list of names alone would pass that too: a changed file does not.
    wt::WriteFile(dir_ + "/out/notes/small.txt", "changed\n");
    md5.start("md5sum", {"-c", dir_ + "/disc.md5"});
    QVERIFY(md5.waitForFinished(-1));
    QVERIFY(md5.exitCode() != 0);
    // Existing lists stay unless the dialog asked, and are judged before
    // the disc is read.
    QVERIFY(!page->StartChecksumList(dir_ + "/disc.md5", false, &why));
    QVERIFY(!page->Running());
    QCOMPARE(wt::ReadFile(dir_ + "/disc.md5"), list);
    // The faults come back for the tests after this one.
    VirtualRecorder v;
    VirtualFaults f;
    f.unreadable = {{150, 159}};
    std::string error;
    QVERIFY2(v.Open(state_.toStdString(), &error) && v.SetFaults(f, &error), error.c_str());
  }
};

int RunCheckWindowTests(int argc, char** argv) {
  CheckWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "CheckWindowTest.moc"
