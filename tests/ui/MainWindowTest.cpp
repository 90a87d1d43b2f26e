// The main window with virtual recorders: modes and their restore rule, the
// recorder and speed lists, burning through the same paths the buttons take,
// the burn settings refusals, erasing and the hand-over socket.

#include <QComboBox>
#include <atomic>
#include <future>
#include <QLabel>
#include <QLineEdit>
#include <QLocalSocket>
#include <QTest>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/ui/CDlgEProgress.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "app/HandOver.h"
#include "app/ImageTracks.h"
#include "foundation/ProfileIni.h"
#include "support/VirtualRecorders.h"
#include "app/CommandLayerRecorders.h"
#include "BurnCtrl/RecorderCommands.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/CSkinBtn.h"
#include "app/ui/HandOverServer.h"
#include "foundation/ui/WindowSupport.h"
#include "controls/CHListBox.h"
#include "controls/CListCtrlEx.h"
#include "controls/CTransBtn.h"

using wt::Sink;

namespace {

int StateInt(const std::string& file, const char* key) { return ini::GetInt(file, "Disc", key, -1); }
void SetState(const std::string& file, const char* key, const std::string& v) { ini::WriteString(file, "Disc", key, v); }

struct Rig {
  std::shared_ptr<VirtualRecorders> service = std::make_shared<VirtualRecorders>();
  std::vector<std::string> states;
  QString folder = wt::NewTempFolder("rig");

  int Add(const QString& name, int medium) {
    std::string state = (folder + "/" + name + ".vdisc").toStdString();
    int index = service->AddRecorder(state, medium);
    states.push_back(state);
    return index;
  }
};

// Accepts the burn settings dialog as soon as it opens, after `adjust`.
void AutoAcceptSettings(CPlomeDlg& w, std::function<void(CDlgBurnSet*)> adjust = {}) {
  QObject::connect(&w, &CPlomeDlg::DialogOpened, &w, [adjust](QDialog* d) {
    if (auto* settings = qobject_cast<CDlgBurnSet*>(d)) {
      QTimer::singleShot(0, settings, [settings, adjust] {
        if (adjust) adjust(settings);
        if (settings->TryAccept()) settings->accept();
        else settings->reject();
      });
    }
  });
}

QString MakeSources() {
  QString root = wt::NewTempFolder("burnsrc");
  wt::WriteFile(root + "/Photos/beach.txt", QByteArray(70000, 'b'));
  wt::WriteFile(root + "/readme.txt", "Hello from the window tests\n");
  return root;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    Sink().Clear();
    wt::PowerLog().calls.clear();
    QFile::remove(QString::fromStdString(SettingsFilePath()));
  }

  void RestoresTheLastModeByItsIndexText() {
    const struct { const char* index; int mode; int highlighted; } cases[] = {
        {"2", CPlomeDlg::kDataDisc, 1}, {"1", CPlomeDlg::kMp3Disc, 2}, {"7", CPlomeDlg::kAnalyseDisc, 7},
        {"8", CPlomeDlg::kAnalyseDisc, 7}, {"9", CPlomeDlg::kDiscCopy, 6}, {"10", CPlomeDlg::kAnalyseDisc, 7},
        {"x", CPlomeDlg::kAudioCD, 0},
        {"", CPlomeDlg::kAudioCD, 0}};
    for (const auto& c : cases) {
      ini::WriteString(SettingsFilePath(), "Windows", "Index", c.index);
      Rig rig;
      CPlomeDlg w(rig.service);
      w.RestoreLastMode();
      QVERIFY2(w.Mode() == c.mode, c.index);
      QCOMPARE(w.HighlightedModeButton(), c.highlighted);
    }
    // Closing stores the mode shown.
    Rig rig;
    CPlomeDlg w(rig.service);
    w.SwitchMode(CPlomeDlg::kMp3Disc);
    w.SaveLastMode();
    QCOMPARE(QString::fromStdString(ini::GetString(SettingsFilePath(), "Windows", "Index", "")), QString("1"));
  }

  void SwitchesModesListsAndToolbarGroups() {
    Rig rig;
    rig.Add("cdrw", medium::kCdRw);
    CPlomeDlg w(rig.service);
    w.FillRecorderLists();
    QSignalSpy switched(&w, &CPlomeDlg::ModeSwitched);
    w.SwitchMode(CPlomeDlg::kDataDisc);
    QCOMPARE(switched.count(), 1);
    QCOMPARE(w.RecorderList()->count(), 2);
    QVERIFY(w.RecorderList()->itemText(1).startsWith('['));
    QCOMPARE(w.ToolbarGroup(), 0);
    QVERIFY(!w.Button(1051)->isHidden());
    QVERIFY(w.Button(1048)->isHidden());
    QCOMPARE(w.TitleLabel()->text(), wt::LangText("Tip", 2));
    CDlgDataCD* data = w.DataWindow(CPlomeDlg::kDataDisc);
    QVERIFY(data);
    // Open sits 20 pixels further right than the placeholder; the rest 3 apart.
    QCOMPARE(w.Button(1051)->x(), 34);
    QCOMPARE(w.Button(1058)->x(), 34 + w.Button(1051)->width() + 3);
    // The mode shown again does nothing, not even a list refill.
    w.RecorderList()->setCurrentIndex(1);
    w.SwitchMode(CPlomeDlg::kDataDisc);
    QCOMPARE(switched.count(), 1);
    QCOMPARE(w.RecorderList()->currentIndex(), 1);

    w.SwitchMode(CPlomeDlg::kMp3Disc);
    QCOMPARE(w.RecorderList()->count(), 1);
    QVERIFY(!w.RecorderList()->itemText(0).startsWith('['));
    QVERIFY(data->isHidden());
    w.SwitchMode(CPlomeDlg::kAnalyseSector);
    QCOMPARE(w.ToolbarGroup(), 1);
    QVERIFY(w.RecorderList()->isHidden());
    QVERIFY(w.SpeedList()->isHidden());
    w.SwitchMode(CPlomeDlg::kDiscCopy);
    QCOMPARE(w.ToolbarGroup(), 2);
    QVERIFY(!w.Button(1054)->isHidden());
    QVERIFY(w.Button(1051)->isHidden());
    // Windows are made once and kept.
    w.SwitchMode(CPlomeDlg::kDataDisc);
    QCOMPARE(w.DataWindow(CPlomeDlg::kDataDisc), data);
    QVERIFY(!data->isHidden());
    // Every mode has its window now.
    QVERIFY(w.Button(1022)->isEnabled());
    QVERIFY(!w.Button(1022)->toolTip().contains(wt::LangText("UIText", 1106)));
    QVERIFY(w.Button(1020)->isEnabled());
    QVERIFY(w.Button(1021)->isEnabled());
    QVERIFY(w.Button(1023)->isEnabled());
    QVERIFY(w.Button(1024)->isEnabled());
  }

  // The recorders are read after the window is first drawn. Until they are
  // listed, nothing can be burnt, erased or scheduled by mistake (not even
  // to the image entry); once they are, the list is as a full start leaves it.
  void ActsSensiblyBeforeTheRecordersAreListed() {
    ini::WriteString(SettingsFilePath(), "Windows", "Index", "2");
    Rig rig;
    const int cd = rig.Add("cdrw", medium::kCdRw);
    auto w = std::make_unique<CPlomeDlg>(rig.service);
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    std::atomic<int> prepared{0};
    w->SetRecorderPreparation([&prepared, gate] {
      ++prepared;
      gate.wait();  // the drives are slow to answer
      return std::vector<std::string>{"notice of the preparation"};
    });
    QSignalSpy painted(w.get(), &CPlomeDlg::FirstPainted);
    QSignalSpy loaded(w.get(), &CPlomeDlg::RecordersLoaded);
    QStringList dialogs;
    QObject::connect(w.get(), &CPlomeDlg::DialogOpened, w.get(), [&](QDialog* d) {
      dialogs << d->metaObject()->className();
      QTimer::singleShot(0, d, &QDialog::reject);
    });
    w->show();
    // Shown with its last mode, but nothing read yet.
    QCOMPARE(w->Mode(), int(CPlomeDlg::kDataDisc));
    QVERIFY(w->Loading());
    QCOMPARE(prepared.load(), 0);
    while (painted.isEmpty() || prepared.load() == 0) QCoreApplication::processEvents();
    QCOMPARE(painted.count(), 1);
    QVERIFY(w->Loading());
    QCOMPARE(w->RecorderList()->count(), 1);
    QCOMPARE(w->RecorderList()->itemText(0), wt::LangText("UIText", 1480));
    QVERIFY(!w->RecorderList()->isEnabled());
    QCOMPARE(w->SelectedDrive(), -1);
    QVERIFY(!w->ImageEntrySelected());
    QVERIFY(!w->SpeedList()->isEnabled());

    CDlgDataCD* data = w->DataWindow(CPlomeDlg::kDataDisc);
    QVERIFY(data->AddPaths({MakeSources() + "/readme.txt"}));
    const QString notYet = wt::LangText("Message", 1480);
    for (auto act : {&CPlomeDlg::Burn, &CPlomeDlg::Erase, &CPlomeDlg::ShowSchedule}) {
      Sink().Clear();
      (w.get()->*act)();
      QCOMPARE(Sink().Count(), 1);
      QVERIFY(Sink().Saw(notYet));
    }
    QCOMPARE(dialogs, QStringList{});
    QCOMPARE(StateInt(rig.states[0], "Used"), 0);
    // Another mode while waiting says the same.
    w->SwitchMode(CPlomeDlg::kMp3Disc);
    QCOMPARE(w->RecorderList()->itemText(0), wt::LangText("UIText", 1480));
    w->SwitchMode(CPlomeDlg::kDataDisc);

    Sink().Clear();
    open.set_value();
    while (loaded.isEmpty()) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QVERIFY(!w->Loading());
    QCOMPARE(prepared.load(), 1);
    QVERIFY(Sink().Saw("notice of the preparation"));
    QCOMPARE(w->RecorderList()->count(), 2);
    QVERIFY(w->RecorderList()->isEnabled());
    QCOMPARE(w->SelectedDrive(), cd);
    QVERIFY(w->RecorderList()->itemText(1).startsWith('['));
    QVERIFY(w->SpeedList()->isEnabled());
    QCOMPARE(w->StatusLine()->text().isEmpty(), false);
    // Now Burn goes on to its settings.
    Sink().Clear();
    w->Burn();
    QVERIFY(!Sink().Saw(notYet));
    QCOMPARE(dialogs, QStringList{"CDlgBurnSet"});
    // Painting again starts nothing again.
    w->repaint();
    QCoreApplication::processEvents();
    QCOMPARE(prepared.load(), 1);
    QCOMPARE(loaded.count(), 1);
    Sink().Answer({msgbox::kNo});
    w->close();
  }

  // A window closed while its recorders are still being read waits for the
  // reading and is gone before the answer arrives: the answer is dropped.
  void ClosingBeforeTheRecordersAreListed() {
    Rig rig;
    rig.Add("cdrw", medium::kCdRw);
    auto w = std::make_unique<CPlomeDlg>(rig.service);
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    std::atomic<bool> prepared{false};
    w->SetRecorderPreparation([&prepared, gate] {
      prepared = true;
      gate.wait();
      return std::vector<std::string>{"late notice"};
    });
    w->show();
    w->StartLoading();
    while (!prepared) QCoreApplication::processEvents();
    QVERIFY(w->close());
    open.set_value();
    w.reset();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    QVERIFY(!Sink().Saw("late notice"));
  }

  void ShowsTheDiscStatusAndTheSpeedRules() {
    Rig rig;
    int cd = rig.Add("plain-cd", medium::kCdRw);
    int dvd = rig.Add("dvd", medium::kDvdR);
    int odd = rig.Add("odd", medium::kDvdR);
    SetState(rig.states[0], "Speeds", "none");
    SetState(rig.states[1], "Speeds", "2770,5540");
    SetState(rig.states[2], "Speeds", "4155,8310,11080");  // 3X, 6X and 8X
    CPlomeDlg w(rig.service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    auto speeds = [&](int drive) {
      for (int i = 0; i < w.RecorderList()->count(); ++i)
        if (DriveIndexOfEntry(w.RecorderList()->itemText(i).toStdString()) == drive) w.RecorderList()->setCurrentIndex(i);
      w.OnRecorderChanged();
      QStringList out;
      for (int i = 0; i < w.SpeedList()->count(); ++i) out << w.SpeedList()->itemText(i);
      return out;
    };
    const QString first = wt::LangText("UIText", 17);  // "Maximum"
    QCOMPARE(speeds(cd), (QStringList{first, "4X", "8X", "12X"}));
    QCOMPARE(w.StatusLine()->text(),
             QString("CD-RW ") + wt::LangText("UIText", 4) + " " + wt::LangText("UIText", 8) + " 703 MB");
    QCOMPARE(speeds(dvd), (QStringList{first, "2X", "4X"}));
    QCOMPARE(speeds(odd), (QStringList{first, "6X", "8X"}));
    // The image entry has no speeds and no status.
    w.RecorderList()->setCurrentIndex(w.RecorderList()->count() - 1);
    w.OnRecorderChanged();
    QVERIFY(!w.SpeedList()->isEnabled());
    QCOMPARE(w.StatusLine()->text(), QString());
    // An open tray says so.
    rig.service->Eject(uint8_t(cd), true);
    speeds(cd);
    QCOMPARE(w.StatusLine()->text(), wt::LangText("UIText", 1407));
  }

  void BurnsADataProjectToAVirtualRecorder() {
    Rig rig;
    int drive = rig.Add("cdr", medium::kCdR);
    CPlomeDlg w(rig.service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    CDlgDataCD* data = w.DataWindow(CPlomeDlg::kDataDisc);
    QString src = MakeSources();
    QVERIFY(data->AddPaths({src + "/Photos", src + "/readme.txt"}));
    AutoAcceptSettings(w);
    w.Button(1054)->click();
    QVERIFY2(Sink().Saw(wt::LangText("Message", 40)), "the burn did not report success");
    QCOMPARE(w.LastBurnResult(), result::kSuccess);
    const std::string& state = rig.states[0];
    QVERIFY(StateInt(state, "Used") > 0);
    QCOMPARE(StateInt(state, "Closed"), 0);  // a data disc stays open unless asked
    QCOMPARE(StateInt(state, "Tray"), 1);    // the tray opens after the burn
    // The written session is an ISO 9660 volume with the project in it.
    std::vector<ImageDirEntry> root;
    QVERIFY(ListIsoFolder(state + ".data", "/", &root));
    QStringList names;
    for (const auto& e : root) names << QString::fromStdString(e.name);
    QVERIFY2(names.contains("Photos") && names.contains("readme.txt"), qPrintable(names.join(",")));
    (void)drive;

    // A DVD takes the project as a UDF volume.
    int dvd = rig.Add("dvdr", medium::kDvdR);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kMp3Disc);
    w.SwitchMode(CPlomeDlg::kDataDisc);
    for (int i = 0; i < w.RecorderList()->count(); ++i)
      if (DriveIndexOfEntry(w.RecorderList()->itemText(i).toStdString()) == dvd) w.RecorderList()->setCurrentIndex(i);
    w.OnRecorderChanged();
    Sink().Clear();
    w.Burn();
    QVERIFY2(Sink().Saw(wt::LangText("Message", 40)), Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    std::vector<ImageTrack> tracks;
    std::string error;
    QVERIFY(ReadImageTracks(rig.states[1] + ".data", &tracks, &error));
    QVERIFY(tracks.at(0).udf);
  }

  void BurnsThroughTheRecorderCommandLayer() {
    // The program's own service: the command layer with a virtual recorder
    // of the device library.
    QString folder = wt::NewTempFolder("layer");
    std::string error;
    const int index = FirstFreeRecorderIndex(3);
    QVERIFY2(OpenVirtualRecorder("virtual:" + (folder + "/disc.vdisc").toStdString() + ":cd-r", &error), error.c_str());
    auto layer = std::make_shared<CommandLayerRecorders>();
    CPlomeDlg w(layer);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    int entry = -1;
    for (int i = 0; i < w.RecorderList()->count(); ++i)
      if (DriveIndexOfEntry(w.RecorderList()->itemText(i).toStdString()) == index) entry = i;
    QVERIFY(entry >= 0);
    w.RecorderList()->setCurrentIndex(entry);
    w.OnRecorderChanged();
    QVERIFY2(w.StatusLine()->text().startsWith("CD-R "), qPrintable(w.StatusLine()->text()));
    QVERIFY(w.SpeedList()->count() >= 2);
    QString src = MakeSources();
    QVERIFY(w.DataWindow(CPlomeDlg::kDataDisc)->AddPaths({src + "/Photos", src + "/readme.txt"}));
    AutoAcceptSettings(w, [](CDlgBurnSet* s) { s->CloseDiscBox()->SetSelect(true); });
    w.Burn();
    QVERIFY2(Sink().Saw(wt::LangText("Message", 40)), Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    DiscInfo info;
    layer->Eject(uint8_t(index), false);
    QCOMPARE(layer->GetDiscInfoEx(uint8_t(index), &info), result::kSuccess);
    QVERIFY(!info.blank);
    QCOMPARE(info.freeBytes, uint64_t(0));  // closed as asked: nothing more goes on
    QLabel* light = nullptr;
    for (QLabel* l : w.findChildren<QLabel*>())
      if (l->property("id").toInt() == 1146) light = l;
    QVERIFY(light);
    QTRY_VERIFY(light->property("flashes").toInt() > 0);  // the drive's work lit the activity light
    RemoveRecorder(index);
  }

  void BurnsToAnImageFileThroughTheImageEntry() {
    Rig rig;
    rig.Add("cdrw", medium::kCdRw);
    CPlomeDlg w(rig.service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    CDlgDataCD* data = w.DataWindow(CPlomeDlg::kDataDisc);
    QString src = MakeSources();
    QVERIFY(data->AddPaths({src + "/readme.txt"}));
    w.RecorderList()->setCurrentIndex(w.RecorderList()->count() - 1);
    w.OnRecorderChanged();
    QString iso = wt::NewTempFolder("out") + "/project.iso";
    wt::WriteFile(iso, "an old file that the burn replaces");
    wt::Chooser().next = {iso};
    bool settingsShown = false;
    QObject::connect(&w, &CPlomeDlg::DialogOpened, &w, [&](QDialog* d) {
      settingsShown = settingsShown || qobject_cast<CDlgBurnSet*>(d) != nullptr;
    });
    w.Burn();
    QCOMPARE(wt::Chooser().lastDefaultName, QString("DataCD.iso"));
    QVERIFY(Sink().Saw(wt::LangText("Message", 40)));
    QVERIFY2(Sink().Saw(wt::LangText("Message", 1020) + "\n" + iso), "the message does not say where the image went");
    QVERIFY(!settingsShown);  // an image file needs no burn settings
    std::vector<ImageDirEntry> root;
    QVERIFY(ListIsoFolder(iso.toStdString(), "/", &root));
    QCOMPARE(root.size(), size_t(1));
    QCOMPARE(QString::fromStdString(root[0].name), QString("readme.txt"));
    // The file's bytes are where the volume says.
    QByteArray image = wt::ReadFile(iso);
    QCOMPARE(image.mid(qint64(root[0].lba) * 2048, 28), QByteArray("Hello from the window tests\n"));
    // An independent reader sees the same file under its Joliet name.
    const QString isoinfo = QStandardPaths::findExecutable("isoinfo");
    if (!isoinfo.isEmpty()) {
      QProcess reader;
      reader.start(isoinfo, {"-J", "-i", iso, "-x", "/readme.txt;1"});
      QVERIFY(reader.waitForFinished(60000));
      QCOMPARE(reader.readAllStandardOutput(), QByteArray("Hello from the window tests\n"));
    }

    // Cancelling the file dialog burns nothing.
    Sink().Clear();
    w.Burn();
    QCOMPARE(Sink().Count(), 0);
    // An opened image cannot go into another image file.
    QVERIFY(data->ImportImage(iso));
    wt::Chooser().next = {iso + ".2"};
    w.Burn();
    QVERIFY(Sink().Saw(wt::LangText("Message", 60)));
    QVERIFY(!QFile::exists(iso + ".2"));
  }

  void RefusesWhatCannotBeBurnt() {
    Rig rig;
    int cdrw = rig.Add("used-cdrw", medium::kCdRw);
    SetState(rig.states[0], "Used", "1000");
    CPlomeDlg w(rig.service);
    w.FillRecorderLists();
    // An empty project.
    w.SwitchMode(CPlomeDlg::kDataDisc);
    w.Burn();
    QVERIFY(Sink().Saw(QString::fromStdString(LoadErrorText(result::kEmptyProject))));
    // An MP3 disc needs a blank disc, and says why; the tray opens.
    w.SwitchMode(CPlomeDlg::kMp3Disc);
    QString music = wt::NewTempFolder("mp3");
    wt::WriteFile(music + "/song.mp3", "ID3");
    QVERIFY(w.DataWindow(CPlomeDlg::kMp3Disc)->AddPaths({music + "/song.mp3"}));
    Sink().Clear();
    w.Burn();
    QVERIFY(Sink().Saw(wt::LangText("Message", 1029)));
    QCOMPARE(StateInt(rig.states[0], "Tray"), 1);
    // The same disc takes a data project: it is writable with space left.
    rig.service->Eject(uint8_t(cdrw), false);
    w.SwitchMode(CPlomeDlg::kDataDisc);
    QVERIFY(w.DataWindow(CPlomeDlg::kDataDisc)->AddPaths({music + "/song.mp3"}));
    AutoAcceptSettings(w);
    Sink().Clear();
    w.Burn();
    QVERIFY(Sink().Saw(wt::LangText("Message", 40)));
    // A closed rewritable disc is offered for erasing; declined, nothing is
    // written and the tray opens for another disc.
    SetState(rig.states[0], "Closed", "1");
    rig.service->Eject(uint8_t(cdrw), false);
    const int usedBefore = StateInt(rig.states[0], "Used");
    Sink().Clear();
    Sink().Answer({msgbox::kNo});
    w.Burn();
    QVERIFY(Sink().Saw(wt::LangText("Message", 1017).section('%', 0, 0)));
    QCOMPARE(StateInt(rig.states[0], "Used"), usedBefore);
    QCOMPARE(StateInt(rig.states[0], "Tray"), 1);
    // A closed disc that cannot be erased is refused, saying so, with the
    // tray opened.
    SetState(rig.states[0], "Medium", "9");
    rig.service->Eject(uint8_t(cdrw), false);
    Sink().Clear();
    w.Burn();
    QVERIFY(Sink().Saw(QString::fromStdString(LoadErrorText(result::kDiscClosed))));
    // No disc at all.
    Sink().Clear();
    w.Burn();
    QVERIFY(Sink().Saw(wt::LangText("Message", 1)));
  }

  void Mp3BurnSettingsKeepTheCloseDiscBoxTicked() {
    Rig rig;
    rig.Add("cdr", medium::kCdR);
    CPlomeDlg w(rig.service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kMp3Disc);
    QString music = wt::NewTempFolder("mp3");
    wt::WriteFile(music + "/song.mp3", "ID3");
    QVERIFY(w.DataWindow(CPlomeDlg::kMp3Disc)->AddPaths({music}));
    bool checked = false, enabled = true;
    AutoAcceptSettings(w, [&](CDlgBurnSet* s) {
      checked = s->CloseDiscBox()->GetSelect();
      enabled = s->CloseDiscBox()->isEnabled();
      s->AfterBurnCombo()->setCurrentIndex(3);
    });
    w.Burn();
    QVERIFY(checked);
    QVERIFY(!enabled);
    QCOMPARE(StateInt(rig.states[0], "Closed"), 1);
    QVERIFY(Sink().Saw(wt::LangText("Message", 40)));
    // The action after burning goes to the power control.
    QCOMPARE(wt::PowerLog().calls, QStringList{"PowerOff"});
    // The playlist went onto the disc.
    std::vector<ImageDirEntry> root;
    QVERIFY(ListIsoFolder(rig.states[0] + ".data", "/", &root));
    QStringList names;
    for (const auto& e : root) names << QString::fromStdString(e.name);
    QVERIFY2(names.contains("Playlist.M3U"), qPrintable(names.join(",")));
  }

  void AFailedCopyIsWrittenAgainOrEndsTheRun() {
    Rig rig;
    rig.Add("cdrw", medium::kCdRw);
    SetState(rig.states[0], "FailWrite", "1");
    CPlomeDlg w(rig.service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    QString src = MakeSources();
    QVERIFY(w.DataWindow(CPlomeDlg::kDataDisc)->AddPaths({src + "/readme.txt"}));
    AutoAcceptSettings(w);
    // OK on the failure writes the copy again, which then succeeds.
    w.Burn();
    QVERIFY(Sink().Saw(QString::fromStdString(LoadErrorText(result::kWriteFailed))));
    QVERIFY2(Sink().Saw("WRITE(10) failed (sense 3/0C/00)"), "the failure must name the drive's command and sense");
    QVERIFY(Sink().Saw(wt::LangText("Message", 40)));
    QCOMPARE(w.LastBurnResult(), result::kSuccess);
    // Cancel ends the run: the failure is shown, never the success text.
    rig.service->BlankDisc(3);
    rig.service->Eject(3, false);
    SetState(rig.states[0], "FailWrite", "1");
    Sink().Clear();
    // The burn thread may ask before the progress window is even open: the
    // answer is waiting for it from the start (the next box is that question).
    Sink().Answer({msgbox::kCancel});
    w.Burn();
    QVERIFY(!Sink().Saw(wt::LangText("Message", 40)));
    QVERIFY(Sink().Saw(wt::LangText("Message", 1007)));
    QCOMPARE(w.LastBurnResult(), result::kWriteFailed);
    QCOMPARE(wt::PowerLog().calls, QStringList{});
  }

  // Closing the window with a changed project asks to save it; Cancel keeps
  // the window open, No closes it, and a saved project closes without asking.
  void ClosingWithUnsavedChangesAsks() {
    Rig rig;
    rig.Add("cdrw", medium::kCdRw);
    CPlomeDlg w(rig.service);
    w.show();  // shown first: showing restores the last mode
    w.Initialise();  // the recorders are read after the first paint
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    CDlgDataCD* data = w.DataWindow(CPlomeDlg::kDataDisc);
    QString src = MakeSources();
    QVERIFY(data->AddPaths({src + "/readme.txt"}));
    QVERIFY(data->IsModified());
    w.SwitchMode(CPlomeDlg::kMp3Disc);
    Sink().Answer({msgbox::kCancel});
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QVERIFY(Sink().Saw(wt::LangText("Message", 1026).section("%1", 0, 0)));
    QVERIFY(Sink().Saw(wt::LangText("Tip", 2)));  // the question names the project's mode
    QCOMPARE(w.Mode(), int(CPlomeDlg::kMp3Disc));  // and leaves the window as it was
    QVERIFY(!data->IsEmpty());
    // Yes saves it (through the file dialog) and closes.
    const QString file = wt::NewTempFolder("close") + "/Kept.bcd";
    wt::Chooser().next = {file};
    Sink().Clear();
    Sink().Answer({msgbox::kYes});
    QVERIFY(w.close());
    QVERIFY(QFile::exists(file));
    QVERIFY(!data->IsModified());

    // Saved and unchanged: no question.
    CPlomeDlg again(rig.service);
    again.show();
    again.Initialise();  // the recorders are read after the first paint
    again.FillRecorderLists();
    again.SwitchMode(CPlomeDlg::kDataDisc);
    QVERIFY(again.OpenProjectFile(file));
    Sink().Clear();
    QVERIFY(again.close());
    QCOMPARE(Sink().Count(), 0);
  }

  // Delete All asks first; No keeps the project.
  void DeleteAllAsksFirst() {
    Rig rig;
    CPlomeDlg w(rig.service);
    w.SwitchMode(CPlomeDlg::kDataDisc);
    CDlgDataCD* data = w.DataWindow(CPlomeDlg::kDataDisc);
    QVERIFY(data->AddPaths({MakeSources() + "/readme.txt"}));
    data->SetFocusOwner(CDlgDataCD::kFocusTree);
    Sink().Answer({msgbox::kNo});
    data->DeleteAll();
    QVERIFY(Sink().Saw(wt::LangText("Message", 1013)));
    QVERIFY(!data->IsEmpty());
    Sink().Answer({msgbox::kYes});
    data->DeleteAll();
    QVERIFY(data->IsEmpty());
  }

  // Closing the window while a burn runs asks; No lets the burn go on, Yes
  // stops it, releases the recorder and closes the window.
  void ClosingDuringABurnAsksAndStopsIt() {
    Rig rig;
    rig.Add("cdrw", medium::kCdRw);
    // A recorder that would take minutes for this project.
    SetState(rig.states[0], "BlockDelayMs", "2000");
    CPlomeDlg w(rig.service);
    w.show();  // shown first: showing restores the last mode
    w.Initialise();  // the recorders are read after the first paint
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    QString src = MakeSources();
    wt::WriteFile(src + "/big.bin", QByteArray(8 << 20, 'x'));
    QVERIFY(w.DataWindow(CPlomeDlg::kDataDisc)->AddPaths({src + "/big.bin"}));
    AutoAcceptSettings(w);
    bool stillRunningAfterNo = false;
    QObject::connect(&w, &CPlomeDlg::DialogOpened, &w, [&](QDialog* d) {
      auto* progress = qobject_cast<CDlgProgress1*>(d);
      if (!progress) return;
      QTimer::singleShot(0, progress, [&, progress] {
        Sink().Answer({msgbox::kNo});
        QVERIFY(!w.close());
        stillRunningAfterNo = progress->isVisible() && w.isVisible();
        Sink().Answer({msgbox::kYes, msgbox::kNo});  // stop; then do not save
        w.close();
      });
    });
    w.Burn();
    QVERIFY(stillRunningAfterNo);
    QVERIFY(Sink().Saw(wt::LangText("Message", 1015)));
    QTRY_VERIFY(!w.isVisible());
    QVERIFY(w.LastBurnResult() != result::kSuccess);
    QVERIFY(!Sink().Saw(wt::LangText("Message", 40)));
    QVERIFY(!Sink().Saw(wt::LangText("Message", 1010)));  // closing, not a stop to report
  }

  // The keys a desktop user reaches for: Ctrl+S saves (asking for a file
  // only the first time), Ctrl+Shift+S always asks, Ctrl+N asks before it
  // empties the project, Tab reaches the skin's buttons.
  void ShortcutsSaveOpenAndStartNewProjects() {
    Rig rig;
    rig.Add("cdrw", medium::kCdRw);
    CPlomeDlg w(rig.service);
    w.show();
    w.Initialise();  // the recorders are read after the first paint
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.SwitchMode(CPlomeDlg::kDataDisc);
    CDlgDataCD* data = w.DataWindow(CPlomeDlg::kDataDisc);
    QVERIFY(data->AddPaths({MakeSources() + "/readme.txt"}));
    w.activateWindow();  // the wait window of the addition had the focus
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const QString folder = wt::NewTempFolder("keys");
    wt::Chooser().next = {folder + "/First.bcd"};
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(QFile::exists(folder + "/First.bcd"));
    QVERIFY(!data->IsModified());
    wt::Chooser().next = {folder + "/Second.bcd"};
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(QFile::exists(folder + "/Second.bcd"));
    QCOMPARE(wt::Chooser().lastDefaultName, QString("First.bcd"));
    QCOMPARE(data->GetProjectPath(), folder + "/Second.bcd");
    // Just saved: a new project needs no question.
    Sink().Clear();
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(Sink().Count(), 0);
    QVERIFY(data->IsEmpty());
    wt::Chooser().next = {folder + "/First.bcd"};
    QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(data->FileCount(), 1);
    for (int id : {1023, 1024, 1054, 1028, 1062}) QCOMPARE(w.Button(id)->focusPolicy(), Qt::TabFocus);
    Sink().Answer({msgbox::kNo});
    w.close();
  }

  // The window grows: the work area and the project window follow, the
  // controls of the right edge stay at it, and the size is there next time.
  void TheWindowResizesAndRemembersItsSize() {
    Rig rig;
    {
      CPlomeDlg w(rig.service);
      w.show();
      w.Initialise();  // the recorders are read after the first paint
      w.SwitchMode(CPlomeDlg::kDataDisc);
      // The skin's size, unless the screen is smaller.
      QCOMPARE(w.minimumSize(), QSize(900, 620).boundedTo(w.screen()->availableGeometry().size()));
      w.resize(1200, 760);
      QTRY_COMPARE(w.DataWindow(CPlomeDlg::kDataDisc)->size(), QSize(1200 - 20, 760 - 176 - 32));
      QCOMPARE(w.Button(1062)->geometry().right(), 1200 - 14 - 1);
      QCOMPARE(w.SpeedList()->geometry().right(), 1200 - 14 - 1);
      QVERIFY(w.RecorderList()->width() > 330);
      QVERIFY(w.close());
    }
    CPlomeDlg again(rig.service);
    again.show();
    again.Initialise();  // the recorders are read after the first paint
    const QSize screen = again.screen()->availableGeometry().size();
    QCOMPARE(again.size(), QSize(1200, 760).boundedTo(screen).expandedTo(QSize(900, 620).boundedTo(screen)));
    again.close();
  }

  void BurnSettingsRefuseBadDiscsAndEmptyChoices() {
    Rig rig;
    int first = rig.Add("first", medium::kCdR);
    int second = rig.Add("second", medium::kCdR);
    SetState(rig.states[1], "Closed", "1");
    SetState(rig.states[1], "Used", "5000");
    CDlgBurnSet dialog(rig.service.get());
    dialog.SetMainDrive(uint8_t(first));
    QStringList entries;
    for (const DriveEntry& d : rig.service->Drives()) entries << QString::fromStdString(d.text);
    dialog.SetRecorders(entries);
    QCOMPARE(dialog.RecorderList()->item(0)->checkState(), Qt::Checked);
    QCOMPARE(dialog.RecorderList()->item(1)->checkState(), Qt::Unchecked);
    dialog.RecorderList()->item(1)->setCheckState(Qt::Checked);
    QVERIFY(!dialog.TryAccept());
    QVERIFY(Sink().Saw(QString::fromStdString(LoadErrorText(result::kDiscClosed))));
    QCOMPARE(StateInt(rig.states[1], "Tray"), 1);
    QCOMPARE(StateInt(rig.states[0], "Tray"), 0);
    // Nothing checked.
    Sink().Clear();
    for (int i = 0; i < 2; ++i) dialog.RecorderList()->item(i)->setCheckState(Qt::Unchecked);
    QVERIFY(!dialog.TryAccept());
    QVERIFY(Sink().Saw(wt::LangText("Message", 41)));
    // Copies: the down arrow stops at 1; empty or 0 means one copy.
    dialog.RecorderList()->item(0)->setCheckState(Qt::Checked);
    dialog.CopiesEdit()->setText("1");
    dialog.SpinDown();
    QCOMPARE(dialog.CopiesEdit()->text(), QString("1"));
    dialog.SpinUp();
    dialog.SpinUp();
    QCOMPARE(dialog.CopiesEdit()->text(), QString("3"));
    for (const char* text : {"", "0", "-4"}) {
      dialog.CopiesEdit()->setText(text);
      QVERIFY(dialog.TryAccept());
      QCOMPARE(dialog.Copies(), 1);
    }
    QCOMPARE(dialog.RecorderListText(), QString("%1,").arg(first));
    QCOMPARE(dialog.RecorderCount(), 1);
    (void)second;
  }

  void ErasesARewritableDiscAndRefusesAWriteOnceOne() {
    Rig rig;
    rig.Add("cdrw", medium::kCdRw);
    rig.Add("cdr", medium::kCdR);
    SetState(rig.states[0], "Used", "4000");
    SetState(rig.states[0], "Closed", "1");
    CPlomeDlg w(rig.service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    int erased = 0;
    QObject::connect(&w, &CPlomeDlg::DialogOpened, &w, [&](QDialog* d) {
      if (qobject_cast<CDlgEProgress*>(d)) ++erased;
    });
    w.RecorderList()->setCurrentIndex(0);
    w.OnRecorderChanged();
    w.Erase();
    QCOMPARE(erased, 1);
    QVERIFY(Sink().Saw(wt::LangText("Message", 22)));
    QCOMPARE(w.LastEraseResult(), result::kSuccess);
    QVERIFY2(Sink().Saw(wt::LangText("Message", 1022)), "the erase did not end with a message");
    QCOMPARE(StateInt(rig.states[0], "Used"), 0);
    QCOMPARE(StateInt(rig.states[0], "Closed"), 0);
    QCOMPARE(StateInt(rig.states[0], "Tray"), 1);
    // Cancel on the question erases nothing.
    rig.service->Eject(3, false);
    SetState(rig.states[0], "Used", "10");
    Sink().Answer({msgbox::kCancel});
    w.Erase();
    QCOMPARE(StateInt(rig.states[0], "Used"), 10);
    // A failed erase says so with the error icon.
    rig.service->Eject(3, false);
    SetState(rig.states[0], "FailErase", "1");
    Sink().Clear();
    w.Erase();
    QCOMPARE(Sink().FlagsOf(QString::fromStdString(LoadErrorText(result::kEraseFailed))), msgbox::kErrorOk);
    QVERIFY(!Sink().Saw(wt::LangText("Message", 1022)));
    QVERIFY2(Sink().Saw("BLANK failed (sense 3/0C/00)"), "the failure must name the drive's command and sense");
    QCOMPARE(erased, 2);
    SetState(rig.states[0], "FailErase", "0");
    // A CD-R cannot be erased.
    Sink().Clear();
    w.RecorderList()->setCurrentIndex(1);
    w.OnRecorderChanged();
    w.Erase();
    QVERIFY(Sink().Saw(wt::LangText("Message", 15)));
    QCOMPARE(erased, 2);  // refused before its window
    // The bar only shows activity: it starts again after 99.
    CDlgEProgress bar;
    for (int i = 0; i < 99; ++i) bar.Advance();
    QCOMPARE(bar.Pos(), 99);
    bar.Advance();
    QCOMPARE(bar.Pos(), 1);
    QVERIFY2(bar.ElapsedText().startsWith(wt::LangText("UIText", 1117)), qPrintable(bar.ElapsedText()));
  }

  void OpensSavesAndStartsProjects() {
    Rig rig;
    rig.Add("cdrw", medium::kCdRw);
    CPlomeDlg w(rig.service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    CDlgDataCD* data = w.DataWindow(CPlomeDlg::kDataDisc);
    QString src = MakeSources();
    QVERIFY(data->AddPaths({src + "/readme.txt"}));
    // The first save asks for a file, with the mode's default name.
    QString file = wt::NewTempFolder("saved") + "/mine.bcd";
    wt::Chooser().next = {file};
    QVERIFY(w.SaveProject());
    QCOMPARE(wt::Chooser().lastDefaultName, QString("DataCD.bcd"));
    QVERIFY(QFile::exists(file));
    // Later saves go to the same file without asking.
    wt::Chooser().next.clear();
    wt::Chooser().lastDefaultName.clear();
    QVERIFY(data->AddPaths({src + "/Photos"}));
    QVERIFY(w.SaveProject());
    QCOMPARE(wt::Chooser().lastDefaultName, QString());
    // New project over changes: Cancel keeps everything, No empties it
    // without saving.
    const QString extra = wt::NewTempFolder("unsaved") + "/extra.txt";
    wt::WriteFile(extra, "not saved");
    QVERIFY(data->AddPaths({extra}));
    Sink().Answer({msgbox::kCancel});
    w.NewProject();
    QVERIFY(!data->IsEmpty());
    Sink().Answer({msgbox::kNo});
    w.NewProject();
    QVERIFY(data->IsEmpty());
    QVERIFY(Sink().Saw(wt::LangText("Message", 1026).section("%1", 0, 0)));
    // Opening the saved file from the MP3 mode switches to the data disc.
    w.SwitchMode(CPlomeDlg::kMp3Disc);
    wt::Chooser().next = {file};
    w.OpenProject();
    QCOMPARE(w.Mode(), int(CPlomeDlg::kDataDisc));
    QCOMPARE(data->RootItem()->childCount(), 1);
    QCOMPARE(data->FileCount(), 2);
    // A disc image opens read-only in the data disc mode.
    QString iso = wt::NewTempFolder("img") + "/disc.iso";
    w.RecorderList()->setCurrentIndex(w.RecorderList()->count() - 1);
    w.OnRecorderChanged();
    wt::Chooser().next = {iso};
    w.Burn();
    wt::Chooser().next = {iso};
    w.OpenProject();
    QVERIFY(data->IsImageMode());
    QCOMPARE(data->RootItem()->text(0), QString("Image File [%1]").arg(iso));
    QCOMPARE(data->RootItem()->child(0)->text(0), QString("DATA TRACK 1 (ISO)"));
    QStringList rows;
    for (int i = 0; i < data->List()->topLevelItemCount(); ++i) rows << data->List()->topLevelItem(i)->text(0);
    QCOMPARE(rows, (QStringList{"Photos", "readme.txt"}));
    // Something that is no image is refused, and the view stays.
    QString junk = wt::NewTempFolder("img") + "/junk.img";
    wt::WriteFile(junk, "junk");
    wt::Chooser().next = {junk};
    Sink().Clear();
    w.OpenProject();
    QVERIFY(Sink().Saw(wt::LangText("Message", 5)));
    QCOMPARE(data->GetImagePath(), iso);
  }

  void ProgressWindowAsksBeforeItCancels() {
    CDlgProgress1 progress;
    QSignalSpy finished(&progress, &QDialog::finished);
    Sink().Answer({msgbox::kNo});
    progress.CancelButton()->click();
    QCOMPARE(finished.count(), 0);
    QVERIFY(Sink().Saw(wt::LangText("Message", 56)));
    progress.SetDisplay(true, false);
    QVERIFY(progress.FirstBarShown());
    QVERIFY(!progress.SecondBarShown());
    progress.SetPos(140, -3);
    QCOMPARE(progress.FirstPos(), 100);
    QCOMPARE(progress.SecondPos(), 0);
    Sink().Answer({msgbox::kYes});
    progress.CancelButton()->click();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(progress.result(), int(QDialog::Rejected));
  }

  void TakesPathsFromTheHandOverSocket() {
    Rig rig;
    CPlomeDlg w(rig.service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kAudioCD);
    HandOverServer server([&](int command, const QString& path) { return w.AddFromShell(command, path); });
    QString socketPath = wt::NewTempFolder("sock") + "/handover";
    QVERIFY(server.Listen(socketPath));
    QString src = MakeSources();

    auto send = [&](const std::string& message) -> int {
      QLocalSocket client;
      client.connectToServer(socketPath);
      if (!client.waitForConnected(5000)) return -2;
      client.write(message.data(), qint64(message.size()));
      client.flush();
      QByteArray reply;
      (void)QTest::qWaitFor([&] {
        reply += client.readAll();
        return reply.size() >= 1 || client.state() != QLocalSocket::ConnectedState;
      }, 20000);
      return reply.isEmpty() ? -1 : int(reply[0]);
    };
    QCOMPARE(send(handover::Encode(102, (src + "/Photos").toStdString())), 1);
    QCOMPARE(w.Mode(), int(CPlomeDlg::kDataDisc));
    CDlgDataCD* data = w.DataWindow(CPlomeDlg::kDataDisc);
    QCOMPARE(data->RootItem()->childCount(), 1);
    QCOMPARE(data->RootItem()->child(0)->text(0), QString("Photos"));
    // Two messages in one write are both answered.
    std::string both = handover::Encode(102, (src + "/readme.txt").toStdString()) +
                       handover::Encode(103, (src + "/readme.txt").toStdString());
    QLocalSocket client;
    client.connectToServer(socketPath);
    QVERIFY(client.waitForConnected(5000));
    client.write(both.data(), qint64(both.size()));
    QByteArray replies;
    QTRY_VERIFY_WITH_TIMEOUT((replies += client.readAll()).size() >= 2, 20000);
    QCOMPARE(replies, QByteArray("\x01\x01", 2));
    // Modes whose windows are not here refuse; so do unknown commands.
    QCOMPARE(send(handover::Encode(101, (src + "/readme.txt").toStdString())), 0);
    QCOMPARE(send(handover::Encode(7, "x")), 0);
    // A message that cannot be one ends the connection.
    QCOMPARE(send(std::string("\x66\0\0\0\xff\xff\xff\x7f", 8)), -1);
  }

  // The shape bitmap cuts only its white pixels away, and keeps them at their
  // corners when the window is larger than the bitmap.
  void TheWindowShapeCutsOnlyWhiteCorners() {
    QImage shape(40, 30, QImage::Format_RGB32);
    shape.fill(Qt::black);
    for (QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(39, 0), QPoint(0, 29), QPoint(39, 29)})
      shape.setPixel(p, qRgb(255, 255, 255));
    shape.setPixel(20, 15, qRgb(254, 255, 255));  // nearly white stays
    const QRegion same = ShapeRegion(shape, shape.size());
    QVERIFY2(same.contains(QPoint(20, 15)), "the inside of the window is cut away");
    QVERIFY(same.contains(QPoint(2, 0)));
    for (QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(39, 0), QPoint(0, 29), QPoint(39, 29)})
      QVERIFY2(!same.contains(p), qPrintable(QString("white pixel %1,%2 kept").arg(p.x()).arg(p.y())));
    QCOMPARE(same.boundingRect(), QRect(0, 0, 40, 30));

    const QRegion larger = ShapeRegion(shape, QSize(100, 70));
    QVERIFY(!larger.contains(QPoint(0, 0)));
    QVERIFY(!larger.contains(QPoint(99, 0)));
    QVERIFY(!larger.contains(QPoint(0, 69)));
    QVERIFY(!larger.contains(QPoint(99, 69)));
    QVERIFY(larger.contains(QPoint(39, 0)));  // the bitmap's right edge is not the window's
    QVERIFY(larger.contains(QPoint(50, 35)));
    QVERIFY(ShapeRegion(QImage(), QSize(10, 10)) == QRegion(0, 0, 10, 10));
  }
};

int RunMainWindowTests(int argc, char** argv) {
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
