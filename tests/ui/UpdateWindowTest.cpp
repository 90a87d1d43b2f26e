// The updater's window over a local HTTP server: it fetches, installs and
// starts the main program again with its progress shown; Cancel during a
// transfer (held at a gate the test opens) leaves the installation as it was.

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <condition_variable>
#include <mutex>

#include "support/TestFolders.h"
#include "support/UpdateServer.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "app/UpdateFiles.h"
#include "app/UpdateJob.h"
#include "foundation/ProgramDir.h"
#include "updater/CDlgUpdate.h"
#include "app/ui/CAdBtn.h"
#include "app/CommandLayerRecorders.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/HandOverServer.h"
#include <QTemporaryDir>
#include <thread>
#include "foundation/LangText.h"

namespace {

class FakeMain : public MainProgramControl {
 public:
  bool Running() override { return false; }
  void AskToClose() override {}
  void WaitBeforeLookingAgain() override {}
  bool Start(const std::string& program, const std::string&) override {
    started.push_back(program);
    return true;
  }
  std::vector<std::string> started;
};

struct Release {
  std::string program = std::string(400000, 'p'), texts = "new texts";
  ScratchFolder folder, server;
  Release() {
    folder.Write("Varnex", "old program");
    std::filesystem::permissions(folder / "Varnex", std::filesystem::perms(0755));
    folder.Write("Lang/en.ini", "old texts");
    server.Write("update/varnex/Varnex", program);
    server.Write("update/varnex/Lang/en.ini", texts);
    folder.Write("update.ini", "[update]\ncount=2\nsoft=varnex\nMainExe=Varnex\n"
                               "path1=Varnex\nsize1=" + std::to_string(program.size()) + "\nver1=4, 2, 0, 0\n"
                               "sha1=" + FileSha256(server / "update/varnex/Varnex") + "\n"
                               "path2=Lang\\en.ini\nsize2=" + std::to_string(texts.size()) + "\ntime2=2026 1 1 1 1\n"
                               "sha2=" + FileSha256(server / "update/varnex/Lang/en.ini") + "\n");
  }
  std::string dir() const { return folder.path() + "/"; }
};

void WaitUntilEnded(CDlgUpdate& dialog) {
  while (!dialog.Finished()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace

class UpdateWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void FetchesInstallsAndStartsTheProgramAgain() {
    Release r;
    TestUpdateServer server(r.server.path());
    QVERIFY2(server.Running(), server.Error().c_str());
    auto net = MakeCurlNetwork();
    FakeMain main;
    UpdateJob job(*net, main, ShowMessage, server.Url(), r.dir());
    CDlgUpdate dialog(job);
    dialog.show();
    dialog.Begin();
    WaitUntilEnded(dialog);
    QCOMPARE(int(dialog.Outcome()), int(UpdateJob::Outcome::Installed));
    QCOMPARE(QString::fromStdString(ReadWholeFile(r.folder / "Varnex")).size(), int(r.program.size()));
    QCOMPARE(QString::fromStdString(ReadWholeFile(r.folder / "Lang/en.ini")), QString::fromStdString(r.texts));
    QVERIFY(main.started == std::vector<std::string>{r.dir() + "Varnex"});
    QCOMPARE(dialog.CounterText()->text(), QString("2 / 2"));
    QCOMPARE(dialog.Progress()->value(), 100);
    QCOMPARE(dialog.PercentText()->text(), QString("100%"));
    QCOMPARE(dialog.StatusText()->text(), QString("Lang\\en.ini"));
    QVERIFY(!dialog.isVisible());
  }

  void CancelDuringATransferLeavesTheInstallation() {
    Release r;
    TestUpdateServer server(r.server.path());
    QVERIFY2(server.Running(), server.Error().c_str());
    auto net = MakeCurlNetwork();
    FakeMain main;
    UpdateJob job(*net, main, ShowMessage, server.Url(), r.dir());
    // The first block of the program waits here until the test has pressed Cancel.
    std::mutex lock;
    std::condition_variable changed;
    bool arrived = false, open = false;
    job.onBlock = [&](const std::string&, int64_t) {
      std::unique_lock<std::mutex> hold(lock);
      if (arrived) return;
      arrived = true;
      changed.notify_all();
      changed.wait(hold, [&] { return open; });
    };
    CDlgUpdate dialog(job);
    dialog.show();
    dialog.Begin();
    {
      std::unique_lock<std::mutex> hold(lock);
      changed.wait(hold, [&] { return arrived; });
    }
    dialog.ShowProgress();
    QCOMPARE(dialog.StatusText()->text(), QString("Varnex"));
    QCOMPARE(dialog.CounterText()->text(), QString("1 / 2"));
    QVERIFY(!dialog.close());  // the window closes only through Cancel
    QVERIFY(dialog.isVisible());
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    QVERIFY(!dialog.CancelButton()->isEnabled());
    {
      std::lock_guard<std::mutex> hold(lock);
      open = true;
      changed.notify_all();
    }
    WaitUntilEnded(dialog);
    QCOMPARE(int(dialog.Outcome()), int(UpdateJob::Outcome::GivenUp));
    QCOMPARE(QString::fromStdString(ReadWholeFile(r.folder / "Varnex")), QString("old program"));
    QCOMPARE(QString::fromStdString(ReadWholeFile(r.folder / "Lang/en.ini")), QString("old texts"));
    QVERIFY(!FileExists(r.folder / "update.pending"));
    QVERIFY(!FileExists(r.folder / "update.ini"));
    QVERIFY(main.started.empty());
  }

  void InformationButtonFetchesAndCyclesItsItems() {
    ScratchFolder server;
    TestUpdateServer http(server.path());
    QVERIFY2(http.Running(), http.Error().c_str());
    const std::string language = GetLanguageFile();
    QVERIFY(!language.empty());
    server.Write("showinfo/varnex/" + language + ".ini",
                 "[Info Set]\nTime=4000\nCount=3\nInfo1_str=New recorder list\nInfo1_link=https://varnex.org/news\n"
                 "Info2_str=Plain news\nInfo3_str=Local file\nInfo3_link=file:///etc/passwd\n");
    const QString items = QString::fromStdString(GetWritableDir() + "showinfo/" + language + ".ini");
    QFile::remove(items);
    {
      // Without an address nothing is fetched and nothing is shown.
      CAdBtn button;
      button.StartDownload("", nullptr);
      button.WaitForDownload();
      QVERIFY(button.text().isEmpty());
      QVERIFY(!QFile::exists(items));
    }
    CAdBtn button;
    bool done = false, fetched = false;
    connect(&button, &CAdBtn::Downloaded, this, [&](bool ok) { done = true; fetched = ok; });
    button.StartDownload(http.Url(), MakeCurlNetwork());
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QVERIFY(fetched);
    QCOMPARE(button.ItemIndex(), 1);
    QVERIFY(button.text().contains("New recorder list"));
    QVERIFY(button.text().contains("href=\"https://varnex.org/news\""));
    QVERIFY(button.Cycling());
    QCOMPARE(button.Period(), 4000);
    button.ShowNextItem();
    QCOMPARE(button.text(), QString("Plain news"));
    button.ShowNextItem();
    QCOMPARE(button.text(), QString("Local file"));  // only web links are links
    button.ShowNextItem();
    QCOMPARE(button.ItemIndex(), 1);  // round again
    QFile::remove(items);
  }

  // The updater's close request reaches the main window through its
  // hand-over socket; once the window has closed it no longer answers there.
  void TheMainWindowClosesWhenTheUpdaterAsks() {
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    w.show();
    w.Initialise();
    QTemporaryDir folder;
    const QString path = folder.path() + "/handover";
    w.HandOver()->Stop();
    QVERIFY(w.HandOver()->Listen(path));
    HandOverMainProgram main(path.toStdString());
    QVERIFY(main.Running());
    std::atomic<bool> asked{false};
    std::thread updater([&] {
      main.AskToClose();
      asked = true;
    });
    while (w.isVisible() || !asked) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    updater.join();
    QVERIFY(!main.Running());
  }

  void TheWindowLooksAsDesigned() {
    Release r;
    auto net = MakeCurlNetwork();
    FakeMain main;
    UpdateJob job(*net, main, ShowMessage, "http://127.0.0.1:9", r.dir());
    CDlgUpdate dialog(job);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), wt::LangText("Update", 1));
    QCOMPARE(dialog.CancelButton()->text(), wt::LangText("Update", 2));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(dialog.CounterText()->text(), QString("0 / 0"));
    const QImage shot = dialog.grab().toImage();
    QCOMPARE(QColor(shot.pixel(2, 1)), QColor(249, 249, 249));
    QCOMPARE(QColor(shot.pixel(2, 4)), QColor(246, 246, 246));
    QCOMPARE(QColor(shot.pixel(2, 7)), QColor(243, 243, 243));
  }
};

int RunUpdateWindowTests(int argc, char** argv) {
  UpdateWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "UpdateWindowTest.moc"
