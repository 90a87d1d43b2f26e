// The questions about unsaved projects: asked exactly when a project with
// changes would be replaced, naming it, while the window stays in the mode
// the user is in.

#include <QFile>
#include <QProcess>
#include <QTest>
#include <vector>

#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "app/ui/CDlgAudioCD.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CPlomeDlg.h"
#include "foundation/LangText.h"
#include "support/VirtualRecorders.h"

using wt::Sink;

namespace {

QString Question() { return wt::LangText("Message", 1026).section("%1", 0, 0); }

}  // namespace

class UnsavedProjectTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    Sink().Clear();
    QFile::remove(QString::fromStdString(SettingsFilePath()));
  }

  // Open over a changed project asks, by the project's name, before the
  // window shows the project's mode: Cancel keeps the project and the mode,
  // No opens the file; right after that a new project asks nothing.
  void OpeningOverChangesAsksFirst() {
    CPlomeDlg w(std::make_shared<VirtualRecorders>());
    w.SwitchMode(CPlomeDlg::kDataDisc);
    CDlgDataCD* data = w.DataWindow(CPlomeDlg::kDataDisc);
    const QString folder = wt::NewTempFolder("openover");
    wt::WriteFile(folder + "/first.txt", "saved");
    wt::WriteFile(folder + "/second.txt", "not saved");
    QVERIFY(data->AddPaths({folder + "/first.txt"}));
    wt::Chooser().next = {folder + "/Holiday.bcd"};
    QVERIFY(w.SaveProject());
    QVERIFY(data->AddPaths({folder + "/second.txt"}));
    w.SwitchMode(CPlomeDlg::kMp3Disc);
    std::vector<int> questionsAtSwitch;
    QObject::connect(&w, &CPlomeDlg::ModeSwitched, &w, [&](int) { questionsAtSwitch.push_back(Sink().Count()); });

    Sink().Clear();
    Sink().Answer({msgbox::kCancel});
    wt::Chooser().next = {folder + "/Holiday.bcd"};
    w.OpenProject();
    QCOMPARE(Sink().Count(), 1);
    QVERIFY(Sink().Saw(Question()));
    QVERIFY(Sink().Saw("Holiday"));
    QVERIFY(Sink().Saw(wt::LangText("Tip", 2)));
    QCOMPARE(w.Mode(), int(CPlomeDlg::kMp3Disc));
    QVERIFY(questionsAtSwitch.empty());
    QCOMPARE(data->FileCount(), 2);
    QVERIFY(data->IsModified());

    Sink().Clear();
    Sink().Answer({msgbox::kNo});
    wt::Chooser().next = {folder + "/Holiday.bcd"};
    w.OpenProject();
    QCOMPARE(Sink().Count(), 1);
    QCOMPARE(questionsAtSwitch, std::vector<int>{1});  // the mode changed after the answer
    QCOMPARE(w.Mode(), int(CPlomeDlg::kDataDisc));
    QCOMPARE(data->FileCount(), 1);
    QVERIFY(!data->IsModified());

    Sink().Clear();
    w.NewProject();
    QCOMPARE(Sink().Count(), 0);
    QVERIFY(data->IsEmpty());
  }

  // An opened image takes the data project's place: asked as a project file
  // would be, and Cancel keeps the project.
  void OpeningAnImageOverChangesAsksFirst() {
    const QString folder = wt::NewTempFolder("imageover");
    wt::WriteFile(folder + "/in/disc.txt", "on the image");
    const QString iso = folder + "/disc.iso";
    QCOMPARE(QProcess::execute("genisoimage", {"-quiet", "-J", "-o", iso, folder + "/in"}), 0);
    wt::WriteFile(folder + "/mine.txt", "mine");
    CPlomeDlg w(std::make_shared<VirtualRecorders>());
    w.SwitchMode(CPlomeDlg::kDataDisc);
    CDlgDataCD* data = w.DataWindow(CPlomeDlg::kDataDisc);
    QVERIFY(data->AddPaths({folder + "/mine.txt"}));
    Sink().Clear();
    Sink().Answer({msgbox::kCancel});
    wt::Chooser().next = {iso};
    w.OpenProject();
    QVERIFY(Sink().Saw(Question()));
    QVERIFY(!data->IsImageMode());
    QCOMPARE(data->FileCount(), 1);
    Sink().Clear();
    Sink().Answer({msgbox::kNo});
    wt::Chooser().next = {iso};
    w.OpenProject();
    QVERIFY(data->IsImageMode());
  }

  // Save As takes every project mode, the video discs' too, and the title
  // names the new file.
  void SaveAsWritesEveryProjectUnderItsNewName() {
    CPlomeDlg w(std::make_shared<VirtualRecorders>());
    const QString folder = wt::NewTempFolder("saveas");
    const struct { int mode; const char* defaultName; } cases[] = {
        {CPlomeDlg::kDvd, "DVD-Video.bcd"}, {CPlomeDlg::kVcd, "VideoCD.bcd"}, {CPlomeDlg::kDataDisc, "DataCD.bcd"}};
    for (const auto& c : cases) {
      w.SwitchMode(c.mode);
      const QString file = folder + QString("/Trip%1.bcd").arg(c.mode);
      wt::Chooser().next = {file};
      QVERIFY(w.SaveProjectAs());
      QVERIFY(QFile::exists(file));
      QCOMPARE(wt::Chooser().lastDefaultName, QString(c.defaultName));
      QVERIFY2(w.windowTitle().contains(QString("Trip%1").arg(c.mode)), qPrintable(w.windowTitle()));
      // Again: the file's own name is offered, and a cancelled dialog saves nothing.
      wt::Chooser().next.clear();
      QVERIFY(!w.SaveProjectAs());
      QCOMPARE(wt::Chooser().lastDefaultName, QString("Trip%1.bcd").arg(c.mode));
    }
  }

  // A project without changes is replaced without a question, in every
  // project mode with a window.
  void NewAsksNothingWithoutChanges() {
    CPlomeDlg w(std::make_shared<VirtualRecorders>());
    for (int mode : {CPlomeDlg::kAudioCD, CPlomeDlg::kDataDisc, CPlomeDlg::kMp3Disc, CPlomeDlg::kVcd}) {
      w.SwitchMode(mode);
      Sink().Clear();
      w.NewProject();
      QVERIFY2(Sink().Count() == 0, qPrintable(QString::number(mode)));
    }
  }
};

int RunUnsavedProjectTests(int argc, char** argv) {
  UnsavedProjectTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "UnsavedProjectTest.moc"
