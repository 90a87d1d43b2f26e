// What the main window tells before, during and after a burn: the room on
// the disc, names the disc will shorten, plain failure messages with the
// error icon, where an image went, the progress figures of a paced recorder,
// and the status line after the burn.

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <unistd.h>
#include <fstream>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "app/CommandLayerRecorders.h"
#include "foundation/LangText.h"
#include "BurnCtrl/ui/CDlgEProgress.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "foundation/ProfileIni.h"
#include "support/TestFolders.h"
#include "support/VirtualRecorders.h"
#include "app/ui/CCapacityBar.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CPlomeDlg.h"
#include "authoring/DiscNames.h"
#include "authoring/ProjectFile.h"
#include "controls/CHListBox.h"
#include "controls/CTransBtn.h"
#include "foundation/ui/WindowSupport.h"

using wt::Sink;

namespace {

int StateInt(const std::string& file, const char* key) { return ini::GetInt(file, "Disc", key, -1); }
void SetState(const std::string& file, const char* key, const std::string& v) { ini::WriteString(file, "Disc", key, v); }

// A main window in the data disc mode with one virtual recorder.
struct Bench {
  std::shared_ptr<VirtualRecorders> service = std::make_shared<VirtualRecorders>();
  QString folder = wt::NewTempFolder("feedback");
  std::string state;
  int drive;
  std::unique_ptr<CPlomeDlg> window;

  Bench(int medium, const std::map<std::string, std::string>& disc = {}) {
    state = (folder + "/disc.vdisc").toStdString();
    drive = service->AddRecorder(state, medium);
    for (const auto& [key, value] : disc) SetState(state, key.c_str(), value);
    window = std::make_unique<CPlomeDlg>(service);
    window->FillRecorderLists();
    window->SwitchMode(CPlomeDlg::kDataDisc);
    window->RecorderList()->setCurrentIndex(0);
    window->OnRecorderChanged();
  }
  CDlgDataCD* Data() { return window->DataWindow(CPlomeDlg::kDataDisc); }
  // A project of one file of `bytes`, named `name`.
  void AddFile(const QString& name, qint64 bytes) {
    const QString path = folder + "/src/" + name;
    wt::WriteFile(path, QByteArray(int(bytes), 'v'));
    QVERIFY(Data()->AddPaths({path}));
  }
  void AcceptSettings() {
    QObject::connect(window.get(), &CPlomeDlg::DialogOpened, window.get(), [](QDialog* d) {
      if (auto* settings = qobject_cast<CDlgBurnSet*>(d))
        QTimer::singleShot(0, settings, [settings] {
          if (settings->TryAccept()) settings->accept();
          else settings->reject();
        });
    });
  }
};

QString Text(const char* section, int key) { return wt::LangText(section, key); }
// The fixed part of a text with "%1" places: what comes before the first one.
QString Lead(int messageKey) { return Text("Message", messageKey).section('%', 0, 0); }

}  // namespace

class BurnFeedbackTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { Sink().Clear(); }

  // The capacity bar follows the disc and the project, and a project that
  // cannot fit is refused before anything is asked or written.
  void AProjectTooLargeForTheDiscIsRefusedBeforeTheBurn() {
    Bench b(medium::kCdR, {{"Capacity", "600"}});  // 1.17 MB
    CCapacityBar* bar = b.Data()->CapacityBar();
    QVERIFY(bar->HasDisc());
    QCOMPARE(bar->FreeBytes(), uint64_t(600) * 2048);
    b.AddFile("big.bin", 2 << 20);
    QCOMPARE(bar->ProjectBytes(), uint64_t(2) << 20);
    QVERIFY(!bar->Fits());
    QVERIFY2(bar->Text().contains(Text("UIText", 1115)), qPrintable(bar->Text()));
    bool dialogShown = false;
    QObject::connect(b.window.get(), &CPlomeDlg::DialogOpened, b.window.get(), [&](QDialog*) { dialogShown = true; });
    b.window->Burn();
    QVERIFY2(Sink().Saw(Lead(1016)), Sink().Texts().empty() ? "no message" : Sink().Texts().back().c_str());
    QVERIFY(Sink().Saw("2.00 MB"));  // sizes carry their units
    QCOMPARE(Sink().FlagsOf(Lead(1016)), msgbox::kErrorOk);
    QVERIFY(!dialogShown);  // neither the settings nor a progress window
    QCOMPARE(StateInt(b.state, "Used"), 0);
    // Without a disc the bar shows the project alone and does not warn.
    b.service->Eject(uint8_t(b.drive), true);
    b.window->ShowDiscStatus();
    QVERIFY(!bar->HasDisc());
    QVERIFY(bar->Fits());
  }

  // A project whose files fit but whose layout does not is refused by the
  // recorder: one plain message, no offer to write the same copy again.
  void ADiscThatTurnsOutTooSmallSaysSoPlainly() {
    Bench b(medium::kCdR, {{"Capacity", "600"}});
    b.AddFile("almost.bin", 600 * 2048 - 4096);
    QVERIFY(b.Data()->CapacityBar()->Fits());
    b.AcceptSettings();
    b.window->Burn();
    QCOMPARE(b.window->LastBurnResult(), result::kDoesNotFit);
    for (const std::string& t : Sink().Texts()) {
      QVERIFY2(t.find(".,") == std::string::npos, t.c_str());
      QVERIFY2(t.find(LoadLangText("Message", 59)) == std::string::npos, t.c_str());
    }
    const QString text = QString::fromStdString(LoadErrorText(result::kDoesNotFit));
    QCOMPARE(Sink().FlagsOf(text), msgbox::kErrorOk);
    QCOMPARE(Sink().FlagsOf(Text("Message", 1007)), msgbox::kErrorOk);
    QCOMPARE(StateInt(b.state, "Used"), 0);
    // Other failures still offer the copy again, as one readable message.
    SetState(b.state, "Capacity", "359847");
    SetState(b.state, "FailWrite", "1");
    b.service->Eject(uint8_t(b.drive), false);
    Sink().Clear();
    Sink().Answer({msgbox::kCancel});
    b.window->Burn();
    // The error, the drive's own account of it, then the question.
    const std::string expected = LoadErrorText(result::kWriteFailed) + "\n" + b.service->LastError(uint8_t(b.drive)) +
                                 "\n\n" + LoadLangText("Message", 59);
    QVERIFY2(Sink().Saw(QString::fromStdString(expected)), Sink().Texts().empty() ? "" : Sink().Texts().front().c_str());
    QCOMPARE(Sink().FlagsOf(QString::fromStdString(expected)), msgbox::kErrorOkCancel);
  }

  // A rewritable disc that is too full offers to erase it; Yes erases and
  // the burn goes on onto the emptied disc.
  void AFullRewritableDiscIsOfferedForErasing() {
    Bench b(medium::kCdRw, {{"Capacity", "2000"}, {"Used", "1800"}});
    QCOMPARE(b.Data()->CapacityBar()->UsedBytes(), uint64_t(1800) * 2048);
    b.AddFile("photo.bin", 1 << 20);
    QVERIFY(!b.Data()->CapacityBar()->Fits());
    int erases = 0;
    QObject::connect(b.window.get(), &CPlomeDlg::DialogOpened, b.window.get(), [&](QDialog* d) {
      if (qobject_cast<CDlgEProgress*>(d)) ++erases;
    });
    b.AcceptSettings();
    Sink().Answer({msgbox::kYes});
    b.window->Burn();
    QVERIFY(Sink().Saw(Lead(1017)));
    QCOMPARE(erases, 1);
    QVERIFY2(Sink().Saw(Text("Message", 40)), Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    const int used = StateInt(b.state, "Used");
    QVERIFY2(used > 512 && used < 1800, qPrintable(QString::number(used)));  // the project alone
    // A write-once disc that is too full has nothing to offer.
    Bench once(medium::kCdR, {{"Capacity", "2000"}, {"Used", "1800"}});
    once.AddFile("photo.bin", 1 << 20);
    Sink().Clear();
    once.window->Burn();
    QVERIFY(!Sink().Saw(Lead(1017)));
    QVERIFY(Sink().Saw(Lead(1016)));
    QCOMPARE(StateInt(once.state, "Used"), 1800);
  }

  // Names longer than Joliet keeps are listed before a CD burn; No goes back
  // without writing anything, Yes burns.
  void NamesTheDiscWillShortenAreListedFirst() {
    Bench b(medium::kCdR);
    const QString longName = QString(110, 'n') + ".txt";
    b.AddFile(longName, 1000);
    b.AddFile("short.txt", 1000);
    b.AcceptSettings();
    Sink().Answer({msgbox::kNo});
    b.window->Burn();
    const QString lead = Text("Message", 1018).section('%', 0, 0);
    QVERIFY(Sink().Saw(lead));
    QVERIFY(Sink().Saw("/" + longName));
    QVERIFY(!Sink().Saw("/short.txt"));
    QCOMPARE(StateInt(b.state, "Used"), 0);
    Sink().Clear();
    Sink().Answer({msgbox::kYes});
    b.window->Burn();
    QVERIFY(Sink().Saw(Text("Message", 40)));
    QVERIFY(StateInt(b.state, "Used") > 0);
    // A DVD takes UDF, which keeps 127 characters: the 114 of that name stay,
    // a longer one is listed.
    Bench dvd(medium::kDvdPlusR);
    dvd.AddFile(longName, 1000);
    dvd.AddFile(QString(130, 'u') + ".txt", 1000);
    dvd.AcceptSettings();
    Sink().Clear();
    Sink().Answer({msgbox::kNo});
    dvd.window->Burn();
    QVERIFY(Sink().Saw(Text("Message", 1018).section('%', 0, 0)));
    QVERIFY(Sink().Saw("127"));
    QVERIFY(Sink().Saw("/" + QString(130, 'u') + ".txt"));
    QVERIFY(!Sink().Saw("/" + longName));
    QCOMPARE(StateInt(dvd.state, "Used"), 0);
  }

  // The names are checked for the recorders ticked in the burn settings, not
  // for the one chosen in the main window: a BD-R there and a CD-R ticked
  // beside it gets the Joliet warning the CD-R needs.
  void TheNameWarningFollowsTheTickedRecorders() {
    Bench b(medium::kBdR);
    const std::string cdState = (b.folder + "/cd.vdisc").toStdString();
    const int cd = b.service->AddRecorder(cdState, medium::kCdR);
    b.window->FillRecorderLists();
    b.window->SwitchMode(CPlomeDlg::kDataDisc);
    b.window->RecorderList()->setCurrentIndex(0);
    b.window->OnRecorderChanged();
    QCOMPARE(b.window->SelectedDrive(), b.drive);
    const QString longName = QString(110, 'n') + ".txt";  // UDF keeps it, Joliet does not
    b.AddFile(longName, 1000);
    QObject::connect(b.window.get(), &CPlomeDlg::DialogOpened, b.window.get(), [cd](QDialog* d) {
      if (auto* settings = qobject_cast<CDlgBurnSet*>(d))
        QTimer::singleShot(0, settings, [settings, cd] {
          for (int i = 0; i < settings->RecorderList()->count(); ++i)
            if (DriveIndexOfEntry(settings->RecorderList()->item(i)->text().toStdString()) == cd)
              settings->RecorderList()->item(i)->setCheckState(Qt::Checked);
          if (settings->TryAccept()) settings->accept();
          else settings->reject();
        });
    });
    Sink().Answer({msgbox::kNo});
    b.window->Burn();
    const QString lead = Text("Message", 1018).section('%', 0, 0);
    QVERIFY2(Sink().Saw(lead + QString::number(discnames::kJolietMaxChars)),
             Sink().Texts().empty() ? "no message" : Sink().Texts().back().c_str());
    QVERIFY(Sink().Saw("/" + longName));
    QCOMPARE(StateInt(cdState, "Used"), 0);
    QCOMPARE(StateInt(b.state, "Used"), 0);
  }

  // The image entry with an empty project leaves an existing file alone.
  void AnEmptyProjectLeavesTheImageFileAlone() {
    Bench b(medium::kCdR);
    const QString iso = b.folder + "/kept.iso";
    QVERIFY(wt::WriteFile(iso, "an image the user made earlier"));
    b.window->RecorderList()->setCurrentIndex(b.window->RecorderList()->count() - 1);
    b.window->OnRecorderChanged();
    wt::Chooser().next = {iso};
    b.window->Burn();
    QVERIFY(Sink().Saw(QString::fromStdString(LoadErrorText(result::kEmptyProject))));
    QCOMPARE(wt::ReadFile(iso), QByteArray("an image the user made earlier"));
    wt::Chooser().next.clear();
  }

  // A file of 4 GiB or more goes into an ISO 9660 image in several extents:
  // the window says so before anything is written, and Cancel writes nothing.
  void AFileOfFourGiBIsToldBeforeTheImageIsWritten() {
    Bench b(medium::kCdR);
    const QString big = b.folder + "/src/big.bin";
    QVERIFY(wt::WriteFile(big, ""));
    QVERIFY(::truncate(big.toUtf8().constData(), (qint64(4) << 30) + 5000) == 0);  // sparse: no disk used
    QVERIFY(b.Data()->AddPaths({big}));
    b.window->RecorderList()->setCurrentIndex(b.window->RecorderList()->count() - 1);
    b.window->OnRecorderChanged();
    const QString iso = b.folder + "/big.iso";
    wt::Chooser().next = {iso};
    Sink().Answer({msgbox::kCancel});
    b.window->Burn();
    QVERIFY2(Sink().Saw(Text("Message", 1030).left(30)), Sink().Texts().empty() ? "no message" : Sink().Texts().back().c_str());
    QVERIFY(Sink().Saw("/big.bin"));
    QVERIFY(!QFile::exists(iso));
    wt::Chooser().next.clear();
  }

  // Help without a browser tells where the help file is; the title carries
  // the project's name.
  void HelpWithoutABrowserAndTheProjectInTheTitle() {
    Bench b(medium::kCdR);
    QUrl asked;
    b.window->SetUrlOpener([&](const QUrl& url) {
      asked = url;
      return false;
    });
    b.window->ShowHelp();
    QVERIFY(asked.isLocalFile());
    QVERIFY(Sink().Saw(Text("Message", 1021) + "\n" + asked.toLocalFile()));
    Sink().Clear();
    b.window->SetUrlOpener([](const QUrl&) { return true; });
    b.window->ShowHelp();
    QCOMPARE(Sink().Count(), 0);

    b.AddFile("a.txt", 10);
    const QString file = wt::NewTempFolder("titled") + "/Holiday.bcd";
    wt::Chooser().next = {file};
    QVERIFY(b.window->SaveProject());
    b.window->UpdateTitle();
    QVERIFY2(b.window->windowTitle().startsWith("Varnex"), qPrintable(b.window->windowTitle()));
    QVERIFY2(b.window->windowTitle().contains(" Holiday ("), qPrintable(b.window->windowTitle()));
    b.AddFile("b.txt", 10);
    QTRY_VERIFY2(b.window->windowTitle().contains("*Holiday"), qPrintable(b.window->windowTitle()));
  }

  // The data disc's label follows the medium until the user names it.
  void TheDefaultLabelFitsTheMedium() {
    Bench dvd(medium::kDvdPlusR);
    QCOMPARE(dvd.Data()->GetVolumeLabel(), QString("DataDVD"));
    Bench bd(medium::kBdR);
    QCOMPARE(bd.Data()->GetVolumeLabel(), QString("DataBD"));
    // The image entry is written as a CD.
    bd.window->RecorderList()->setCurrentIndex(bd.window->RecorderList()->count() - 1);
    bd.window->OnRecorderChanged();
    QCOMPARE(bd.Data()->GetVolumeLabel(), QString("DataCD"));
    QVERIFY(bd.Data()->RenameTreeItem(bd.Data()->RootItem(), "DataCD", "Holiday"));
    bd.window->RecorderList()->setCurrentIndex(0);
    bd.window->OnRecorderChanged();
    QCOMPARE(bd.Data()->GetVolumeLabel(), QString("Holiday"));
  }

  // The progress window of a paced recorder: bytes written never go back
  // and never pass the total, the time left appears once something was
  // written, speed and buffer carry their units. Nothing here depends on how
  // fast the machine is: the recorder's pace only makes the burn last.
  void ProgressShowsWrittenSpeedTimeLeftAndBuffer() {
    // A recorder that would take about half a minute: the window is sampled
    // until every figure has shown itself, and then the burn is stopped, so
    // the test does not depend on how fast this machine is.
    Bench b(medium::kCdR, {{"BlockDelayMs", "250"}});
    b.AddFile("movie.bin", 8 << 20);
    b.AcceptSettings();
    struct Sample {
      uint64_t written, total;
      int64_t left;
      int buffer;
      QString speed, leftText, writtenText;
    };
    std::vector<Sample> samples;
    QObject::connect(b.window.get(), &CPlomeDlg::DialogOpened, b.window.get(), [&](QDialog* d) {
      auto* progress = qobject_cast<CDlgProgress1*>(d);
      if (!progress) return;
      auto* sampler = new QTimer(progress);
      QObject::connect(sampler, &QTimer::timeout, progress, [&samples, progress, sampler] {
        samples.push_back({progress->WrittenBytes(), progress->TotalBytes(), progress->SecondsLeft(),
                           progress->BufferPercent(), progress->SpeedText(), progress->TimeLeftText(),
                           progress->WrittenText()});
        const Sample& s = samples.back();
        if (s.left >= 0 && s.buffer >= 0 && s.written > 0) {
          sampler->stop();
          progress->done(QDialog::Rejected);  // seen enough: stop the burn
        }
      });
      sampler->start(25);
      QVERIFY(progress->FirstBar()->isTextVisible());
    });
    b.window->Burn();
    QVERIFY2(Sink().Saw(Text("Message", 1010)), "the burn ended before the window showed every figure");
    QVERIFY(!samples.empty());
    uint64_t last = 0, total = 0;
    bool leftShown = false;
    for (const Sample& s : samples) {
      QVERIFY2(s.written >= last, "the bytes written went back");
      QVERIFY2(s.written <= s.total || s.total == 0, "more written than in all");
      if (s.total) {
        QVERIFY(total == 0 || total == s.total);
        total = s.total;
        QVERIFY2(s.writtenText.contains(" MB"), qPrintable(s.writtenText));
      }
      QVERIFY(s.buffer >= -1 && s.buffer <= 100);
      if (s.left >= 0) {
        leftShown = true;
        QVERIFY2(s.written > 0, "time left before anything was written");
        QVERIFY2(s.leftText.count(':') == 2, qPrintable(s.leftText));
        QVERIFY2(s.speed.contains(QChar(0x00d7)) && s.speed.contains("MB/s"), qPrintable(s.speed));
      }
      last = s.written;
    }
    QVERIFY(total >= uint64_t(8) << 20);
    QVERIFY2(leftShown, "the time left never appeared");
    QVERIFY(std::any_of(samples.begin(), samples.end(), [](const Sample& s) { return s.buffer >= 0; }));
  }

  // A disc that a stopped burn left unfinished says so in the status line
  // and the capacity bar, and a burn is refused before it starts with what
  // to do; a rewritable one is offered for erasing as what it is.
  void AnUnfinishedDiscIsShownAndRefusedBeforeTheBurn() {
    Bench b(medium::kBdR, {{"Used", "4000"}, {"Unfinished", "1"}});
    const QString status = b.window->StatusLine()->text();
    QVERIFY2(status.startsWith("BD-R " + Text("UIText", 1402)), qPrintable(status));
    QVERIFY2(status.contains(Text("UIText", 1405)), qPrintable(status));
    QVERIFY2(!status.contains(Text("UIText", 8)), qPrintable(status));  // no free size it cannot take
    CCapacityBar* bar = b.Data()->CapacityBar();
    b.AddFile("a.txt", 5000);
    QVERIFY(!bar->Fits());
    QVERIFY2(bar->Text().startsWith(Text("UIText", 1402)), qPrintable(bar->Text()));
    bool dialogShown = false;
    QObject::connect(b.window.get(), &CPlomeDlg::DialogOpened, b.window.get(), [&](QDialog*) { dialogShown = true; });
    b.window->Burn();
    QVERIFY2(Sink().Saw(QString::fromStdString(LoadErrorText(result::kSessionUnfinished))),
             Sink().Texts().empty() ? "no message" : Sink().Texts().back().c_str());
    QVERIFY(!dialogShown);
    QCOMPARE(StateInt(b.state, "Used"), 4000);
    // Closed and appendable discs name their state too.
    Bench closed(medium::kCdR, {{"Used", "300"}, {"Closed", "1"}});
    QVERIFY2(closed.window->StatusLine()->text().startsWith("CD-R " + Text("UIText", 1403)),
             qPrintable(closed.window->StatusLine()->text()));
    Bench open(medium::kCdR, {{"Used", "300"}});
    QVERIFY2(open.window->StatusLine()->text().startsWith("CD-R " + Text("UIText", 1401) + " " + Text("UIText", 8)),
             qPrintable(open.window->StatusLine()->text()));
    // A rewritable disc left unfinished: erasing is offered for that reason.
    Sink().Clear();
    Bench rw(medium::kCdRw, {{"Used", "300"}, {"Unfinished", "1"}});
    QVERIFY(rw.window->StatusLine()->text().contains(Text("UIText", 1404)));
    rw.AddFile("a.txt", 5000);
    Sink().Answer({msgbox::kNo});
    rw.window->Burn();
    QVERIFY2(Sink().Saw(Text("Message", 1027)), Sink().Texts().empty() ? "no message" : Sink().Texts().front().c_str());
    QCOMPARE(StateInt(rw.state, "Used"), 300);
  }

  // A burn that breaks off leaves a write-once disc unfinished: the window
  // never offers to write the same copy onto it again. It asks for another
  // disc, ejects this one, and writes the copy onto the disc put in.
  void AFailedBurnAsksForAnotherDiscNotTheSameOneAgain() {
    Bench b(medium::kCdR, {{"FailAfterBlocks", "1"}, {"ReloadBlank", "1"}});
    b.AddFile("a.bin", 400 * 1024);
    b.AcceptSettings();
    const QString another = Text("Message", 1028).section('%', 0, 0);
    std::atomic<bool> ejected{false};
    Sink().onShow = [&](const std::string& text) {
      // The user takes the spoilt disc out and puts a blank one in.
      if (QString::fromStdString(text).contains(another)) {
        ejected = StateInt(b.state, "Tray") == 1;
        b.service->Eject(uint8_t(b.drive), false);
      }
    };
    b.window->Burn();
    for (const std::string& t : Sink().Texts())
      QVERIFY2(t.find(LoadLangText("Message", 59)) == std::string::npos, t.c_str());
    QVERIFY2(Sink().Saw(another), Sink().Texts().empty() ? "no message" : Sink().Texts().front().c_str());
    QVERIFY(Sink().Saw(QString::fromStdString(LoadErrorText(result::kSessionUnfinished))));
    QVERIFY(ejected);
    QCOMPARE(b.window->LastBurnResult(), result::kSuccess);
    QCOMPARE(StateInt(b.state, "Unfinished"), 0);
    QVERIFY(StateInt(b.state, "Used") > 0);
  }

  // "Verify the written data" reads the disc back through the recorder
  // command layer: a sector the disc took wrongly fails the burn and the
  // message names the file it belongs to; a good disc says it was verified.
  void VerifyingAfterTheBurnNamesTheSpoiltFile() {
    const QString folder = wt::NewTempFolder("verify");
    std::string error;
    auto open = [&](const std::string& disc, const char* fault) {
      const int index = FirstFreeRecorderIndex(3);
      if (!OpenVirtualRecorder("virtual:" + disc + ":cd-r", &error)) return -1;
      if (!fault) return index;
      RemoveRecorder(index);
      std::ofstream(disc, std::ios::app) << fault;
      return OpenVirtualRecorder("virtual:" + disc, &error) ? index : -1;
    };
    const int spoilt = open((folder + "/spoilt.vdisc").toStdString(), "fault-corrupt 80 0\n");
    QVERIFY2(spoilt >= 0, error.c_str());
    const int good = open((folder + "/good.vdisc").toStdString(), nullptr);
    QVERIFY2(good >= 0, error.c_str());
    struct Removed {
      int a, b;
      ~Removed() {
        RemoveRecorder(a);
        RemoveRecorder(b);
        ini::WriteString(SettingsFilePath(), "Burn Set", "Verify", "0");
      }
    } removed{spoilt, good};
    auto layer = std::make_shared<CommandLayerRecorders>();
    CPlomeDlg w(layer);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    wt::WriteFile(folder + "/src/photo.bin", QByteArray(1 << 20, 'p'));
    QVERIFY(w.DataWindow(CPlomeDlg::kDataDisc)->AddPaths({folder + "/src/photo.bin"}));
    QObject::connect(&w, &CPlomeDlg::DialogOpened, &w, [](QDialog* d) {
      if (auto* settings = qobject_cast<CDlgBurnSet*>(d))
        QTimer::singleShot(0, settings, [settings] {
          settings->VerifyBox()->SetSelect(true);
          if (settings->TryAccept()) settings->accept();
          else settings->reject();
        });
    });
    for (const int drive : {spoilt, good}) {
      for (int i = 0; i < w.RecorderList()->count(); ++i)
        if (DriveIndexOfEntry(w.RecorderList()->itemText(i).toStdString()) == drive) w.RecorderList()->setCurrentIndex(i);
      w.OnRecorderChanged();
      QCOMPARE(w.SelectedDrive(), drive);
      Sink().Clear();
      Sink().Answer({msgbox::kCancel, msgbox::kOk});  // no second copy onto another disc
      w.Burn();
      if (drive == spoilt) {
        QCOMPARE(w.LastBurnResult(), result::kVerifyFailed);
        QVERIFY2(Sink().Saw("photo.bin"), Sink().Texts().empty() ? "no message" : Sink().Texts().back().c_str());
      } else {
        QCOMPARE(w.LastBurnResult(), result::kSuccess);
        QVERIFY2(Sink().Saw("verified"), Sink().Texts().empty() ? "no message" : Sink().Texts().back().c_str());
      }
    }
  }

  // Rock Ridge is a burn setting of a data project: ticked for a new one,
  // and a choice the user makes goes to the burn and into the project.
  void RockRidgeIsABurnSettingOfTheDataProject() {
    Bench b(medium::kCdR);
    b.AddFile("a.txt", 5000);
    bool shownTicked = false;
    QObject::connect(b.window.get(), &CPlomeDlg::DialogOpened, b.window.get(), [&shownTicked](QDialog* d) {
      if (auto* settings = qobject_cast<CDlgBurnSet*>(d))
        QTimer::singleShot(0, settings, [settings, &shownTicked] {
          shownTicked = !settings->RockRidgeBox()->isHidden() && settings->RockRidgeBox()->GetSelect();
          settings->RockRidgeBox()->SetSelect(false);
          if (settings->TryAccept()) settings->accept();
          else settings->reject();
        });
    });
    b.window->Burn();
    QVERIFY(Sink().Saw(Text("Message", 40)));
    QVERIFY(shownTicked);
    QCOMPARE(b.service->LastDiscOptions(), uint8_t(project::kNoRockRidge));
    QCOMPARE(b.Data()->DiscOptions(), uint8_t(project::kNoRockRidge));
    QVERIFY(b.Data()->IsModified());
  }

  // A data project can be made bootable in the burn settings: a boot image
  // that cannot be used keeps the dialog open with the reason; a good one
  // goes to the burn and into the project file, and a new project has none.
  void TheBootImageIsABurnSettingKeptInTheProject() {
    Bench b(medium::kCdR);
    b.AddFile("a.txt", 5000);
    ScratchFolder dir;
    const std::string image = dir.Write("boot.bin", std::string(4096, 'b'));
    bool refusedFirst = false, shown = false;
    QObject::connect(b.window.get(), &CPlomeDlg::DialogOpened, b.window.get(), [&](QDialog* d) {
      if (auto* settings = qobject_cast<CDlgBurnSet*>(d))
        QTimer::singleShot(0, settings, [&, settings] {
          shown = settings->BootEdit()->isVisible();
          settings->BootEdit()->setText(QString::fromStdString(dir / "missing.bin"));
          Sink().Answer({msgbox::kOk});
          refusedFirst = !settings->TryAccept() && Sink().Saw("cannot be read");
          settings->BootEdit()->setText(QString::fromStdString(image));
          if (settings->TryAccept()) settings->accept();
          else settings->reject();
        });
    });
    b.window->Burn();
    QVERIFY(shown);
    QVERIFY(refusedFirst);
    QVERIFY(Sink().Saw(Text("Message", 40)));
    QCOMPARE(b.service->LastBoot().biosImage, image);
    QCOMPARE(b.Data()->Boot().biosImage, image);
    QVERIFY(b.Data()->IsModified());

    const QString project = QString::fromStdString(dir / "boot.bcd");
    QVERIFY(b.Data()->SaveProject(project));
    b.Data()->Clear();
    QVERIFY(!b.Data()->Boot().Any());
    QVERIFY(b.Data()->LoadProject(project));
    QCOMPARE(b.Data()->Boot().biosImage, image);
  }

  // Eject on an open tray closes it again, and the status line follows the
  // tray. A burn with "eject when done" switched off leaves the disc in, and
  // the choice is remembered for the next burn and for the erase.
  void EjectTogglesAndEjectingAfterABurnIsASetting() {
    Bench b(medium::kCdRw);
    b.window->ToggleTray();
    QCOMPARE(StateInt(b.state, "Tray"), 1);
    QCOMPARE(b.window->StatusLine()->text(), Text("UIText", 1407));
    b.window->ToggleTray();
    QCOMPARE(StateInt(b.state, "Tray"), 0);
    QVERIFY2(b.window->StatusLine()->text().startsWith("CD-RW " + Text("UIText", 4)),
             qPrintable(b.window->StatusLine()->text()));
    b.AddFile("a.txt", 5000);
    bool boxWasOn = false;
    QObject::connect(b.window.get(), &CPlomeDlg::DialogOpened, b.window.get(), [&boxWasOn](QDialog* d) {
      if (auto* settings = qobject_cast<CDlgBurnSet*>(d))
        QTimer::singleShot(0, settings, [settings, &boxWasOn] {
          boxWasOn = settings->EjectBox()->GetSelect();
          settings->EjectBox()->SetSelect(false);
          if (settings->TryAccept()) settings->accept();
          else settings->reject();
        });
    });
    b.window->Burn();
    QVERIFY(Sink().Saw(Text("Message", 40)));
    QVERIFY(boxWasOn);  // ejecting is what a burn did so far
    QCOMPARE(StateInt(b.state, "Tray"), 0);
    QVERIFY2(b.window->StatusLine()->text().startsWith("CD-RW " + Text("UIText", 1401)),
             qPrintable(b.window->StatusLine()->text()));
    QVERIFY(!CDlgBurnSet::RememberedEjectWhenDone());
    Sink().Clear();
    Sink().Answer({msgbox::kOk});
    b.window->Erase();
    QVERIFY(Sink().Saw(Text("Message", 1022)));
    QCOMPARE(StateInt(b.state, "Tray"), 0);
    CDlgBurnSet settings(b.service.get());
    QVERIFY(!settings.EjectBox()->GetSelect());
    ini::WriteString(SettingsFilePath(), "Burn Set", "EjectWhenDone", "1");  // as the other tests expect
  }

  // After a burn the tray is open and the status line says so; with the
  // disc back it shows the written disc.
  void TheStatusLineFollowsTheDiscAfterABurn() {
    Bench b(medium::kCdRw);
    b.window->show();
    b.window->Initialise();  // the recorders are read after the first paint
    b.window->SwitchMode(CPlomeDlg::kDataDisc);
    b.AddFile("a.txt", 5000);
    b.AcceptSettings();
    b.window->Burn();
    QVERIFY(Sink().Saw(Text("Message", 40)));
    QCOMPARE(b.window->StatusLine()->text(), Text("UIText", 1407));
    b.service->Eject(uint8_t(b.drive), false);
    b.window->OnDeviceChange();
    QVERIFY2(b.window->StatusLine()->text().startsWith("CD-RW " + Text("UIText", 1401)),
             qPrintable(b.window->StatusLine()->text()));
    QVERIFY(b.Data()->CapacityBar()->UsedBytes() > 0);
    b.window->hide();
  }
};

int RunBurnFeedbackTests(int argc, char** argv) {
  BurnFeedbackTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "BurnFeedbackTest.moc"
