// The audio CD window inside the main window: adding, removing, moving,
// saving, loading and burning onto a virtual recorder, with ffmpeg as the
// converter (or a stand-in script where only the probe matters).

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QHeaderView>
#include <QTest>
#include <QTimer>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "WavReader.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "foundation/ProfileIni.h"
#include "foundation/ProgramDir.h"
#include "support/VirtualRecorders.h"
#include "app/ui/CDlgAudioCD.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/CSkinBtn.h"
#include "controls/CListCtrlEx.h"
#include "media/CAVConvert.h"

using wt::Sink;

namespace {

// A converter that answers every probe with five seconds of sound.
QString ProbeOnlyConverter() {
  const QString path = wt::NewTempFolder("conv") + "/probe-only";
  wt::WriteFile(path,
                "#!/bin/sh\n"
                "echo \"  Duration: 00:00:05.00, start: 0.000000, bitrate: 128 kb/s\" >&2\n"
                "echo \"  Stream #0:0: Audio: mp3, 44100 Hz, stereo, fltp, 128 kb/s\" >&2\n"
                "exit 1\n");
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return path;
}

class ConverterStandIn {
 public:
  explicit ConverterStandIn(const QString& path) { qputenv("VARNEX_CONVERTER", path.toUtf8()); }
  ~ConverterStandIn() { qunsetenv("VARNEX_CONVERTER"); }
};

QString Tone(const QString& folder, const QString& name, double seconds) {
  const QString path = folder + "/" + name;
  QProcess::execute("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                               QString("sine=frequency=500:duration=%1").arg(seconds), "-ac", "2", path});
  return path;
}

QStringList Column(CListCtrlEx* list, int column) {
  QStringList texts;
  for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
  return texts;
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

QAction* MenuAction(CDlgAudioCD* a, int id) {
  for (QAction* action : a->ContextMenu()->actions())
    if (action->data().toInt() == id) return action;
  return nullptr;
}

}  // namespace

class AudioWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { Sink().Clear(); }

  void AddsSoundFilesAndSkipsOthers() {
    ConverterStandIn probe(ProbeOnlyConverter());
    CDlgAudioCD a;
    QCOMPARE(a.TotalFilesLabel()->text(), wt::LangText("UIText", 9));
    const QString src = wt::NewTempFolder("songs");
    for (const char* n : {"b.mp3", "a.flac", "c.MP3", "clip.mp4", "sub/d.ogg"}) wt::WriteFile(src + "/" + n, "x");
    QVERIFY(a.AddPaths({src}));
    QCOMPARE(Column(a.List(), 0), QStringList({"1", "2", "3", "4"}));
    QCOMPARE(Column(a.List(), 1), QStringList({"a.flac", "b.mp3", "c.MP3", "d.ogg"}));
    QCOMPARE(Column(a.List(), 2), QStringList({"00:00:05", "00:00:05", "00:00:05", "00:00:05"}));
    QCOMPARE(a.List()->topLevelItem(3)->text(3), src + "/sub/d.ogg");
    QCOMPARE(a.TotalFilesLabel()->text(), wt::LangText("UIText", 11) + " 4");
    QCOMPARE(a.TotalSizeLabel()->text(), wt::LangText("UIText", 12) + QString::asprintf(" %.2f M", a.Project().TotalMB()));
    QVERIFY(a.IsModified());
    QCOMPARE(Sink().Count(), 0);
  }

  void StopsAt99WithOneMessage() {
    ConverterStandIn probe(ProbeOnlyConverter());
    CDlgAudioCD a;
    const QString src = wt::NewTempFolder("many");
    QStringList files;
    for (int i = 0; i < 120; ++i) {
      files << src + QString::asprintf("/%03d.mp3", i);
      wt::WriteFile(files.back(), "x");
    }
    a.AddPaths(files);
    QCOMPARE(a.List()->topLevelItemCount(), 99);
    QCOMPARE(Sink().Count(), 1);
    QVERIFY(Sink().Saw(wt::LangText("Message", 23)));
  }

  void RemovesRenumbersAndMovesRows() {
    ConverterStandIn probe(ProbeOnlyConverter());
    CDlgAudioCD a;
    a.resize(600, 400);
    const QString src = wt::NewTempFolder("six");
    QStringList files;
    for (int i = 1; i <= 6; ++i) {
      files << src + QString("/%1.mp3").arg(i);
      wt::WriteFile(files.back(), "x");
    }
    a.AddPaths(files);
    a.SelectRows({1, 4});
    QTest::keyClick(a.List(), Qt::Key_Delete);
    QCOMPARE(Column(a.List(), 0), QStringList({"1", "2", "3", "4"}));
    QCOMPARE(Column(a.List(), 1), QStringList({"1.mp3", "3.mp3", "4.mp3", "6.mp3"}));
    QCOMPARE(a.SelectedRows(), std::vector<int>{1});
    // Move up and down from the context menu.
    a.SelectRows({2, 3});
    MenuAction(&a, 32787)->trigger();
    QCOMPARE(Column(a.List(), 1), QStringList({"1.mp3", "4.mp3", "6.mp3", "3.mp3"}));
    QCOMPARE(a.SelectedRows(), (std::vector<int>{1, 2}));
    MenuAction(&a, 32788)->trigger();
    QCOMPARE(Column(a.List(), 1), QStringList({"1.mp3", "3.mp3", "4.mp3", "6.mp3"}));
    a.MoveSelectionTo(0);
    QCOMPARE(Column(a.List(), 1), QStringList({"4.mp3", "6.mp3", "1.mp3", "3.mp3"}));
    QCOMPARE(Column(a.List(), 0), QStringList({"1", "2", "3", "4"}));
    // Everything removed: the totals are exactly nothing.
    a.List()->selectAll();
    QTest::keyClick(a.List(), Qt::Key_Delete);
    QCOMPARE(a.List()->topLevelItemCount(), 0);
    QCOMPARE(a.TotalSizeLabel()->text(), wt::LangText("UIText", 12) + " 0.00 M");
  }

  void RefusesWhatIsNotSoundByName() {
    CDlgAudioCD a;
    const QString src = wt::NewTempFolder("words");
    wt::WriteFile(src + "/letter.mp3", "Dear reader, this is not a song.\n");
    QVERIFY(!a.AddPaths({src + "/letter.mp3"}));
    QCOMPARE(a.List()->topLevelItemCount(), 0);
    QVERIFY(Sink().Saw(wt::LangText("Message", 39)));
    QVERIFY(Sink().Saw(src + "/letter.mp3"));
  }

  void SavesAndOpensAudioProjects() {
    ConverterStandIn probe(ProbeOnlyConverter());
    auto service = std::make_shared<VirtualRecorders>();
    CPlomeDlg w(service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kAudioCD);
    QVERIFY(w.Button(1023)->isEnabled());
    CDlgAudioCD* a = w.AudioWindow();
    QVERIFY(a);
    const QString src = wt::NewTempFolder("proj");
    for (const char* n : {"x.mp3", "y.wav"}) wt::WriteFile(src + "/" + n, "x");
    a->AddPaths({src + "/y.wav", src + "/x.mp3"});
    const QString file = src + "/mine.bcd";
    wt::Chooser().next = {file};
    QVERIFY(w.SaveProject());
    QCOMPARE(wt::Chooser().lastDefaultName, QString("AudioCD.bcd"));
    QVERIFY(!a->IsModified());
    Sink().Clear();
    w.NewProject();  // just saved: nothing to ask
    QCOMPARE(Sink().Count(), 0);
    QCOMPARE(a->List()->topLevelItemCount(), 0);
    w.SwitchMode(CPlomeDlg::kDataDisc);
    QVERIFY(w.OpenProjectFile(file));
    QCOMPARE(w.Mode(), int(CPlomeDlg::kAudioCD));
    QCOMPARE(w.HighlightedModeButton(), 0);
    QCOMPARE(Column(a->List(), 1), QStringList({"y.wav", "x.mp3"}));
    QCOMPARE(a->GetProjectPath(), file);
  }

  void BurnsConvertedTracksOntoAVirtualCdR() {
    auto service = std::make_shared<VirtualRecorders>();
    const QString folder = wt::NewTempFolder("burn");
    const std::string state = (folder + "/cdr.vdisc").toStdString();
    service->AddRecorder(state, medium::kCdR);
    CPlomeDlg w(service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kAudioCD);
    CDlgAudioCD* a = w.AudioWindow();
    const QString first = Tone(folder, "first.ogg", 1.5), second = Tone(folder, "second.mp3", 1.2);
    QVERIFY(a->AddPaths({first, second}));
    AutoAcceptSettings(w);
    QStringList steps;
    connect(&w, &CPlomeDlg::DialogOpened, &w, [&](QDialog* d) {
      if (qobject_cast<CDlgProgress1*>(d)) steps << "progress";
    });
    w.Burn();
    QVERIFY2(Sink().Saw(wt::LangText("Message", 40)), Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    QCOMPARE(w.LastBurnResult(), result::kSuccess);
    QCOMPARE(steps, QStringList{"progress"});
    QCOMPARE(ini::GetInt(state, "Disc", "AudioTracks", 0), 2);
    QVERIFY(a->Project().WorkFolder().empty());
    // The disc holds the converter's PCM, track after track.
    const QByteArray disc = wt::ReadFile(QString::fromStdString(state + ".data"));
    qint64 at = 0;
    for (const QString& f : {first, second}) {
      const QString wav = folder + "/ref.wav";
      CAVConvert c;
      QVERIFY(c.Convert(f.toStdString(), wav.toStdString(), 0, 0, 1));
      WavInfo info;
      QVERIFY(ReadWavInfo(wav.toStdString(), info, nullptr));
      const QByteArray pcm = wt::ReadFile(wav).mid(qint64(info.dataOffset), qint64(info.dataSize));
      QVERIFY2(disc.mid(at, pcm.size()) == pcm, qPrintable(f));
      at += (pcm.size() + 2351) / 2352 * 2352;
    }
    // A disc that is not a CD is refused before anything is converted.
    service->AddRecorder((folder + "/dvd.vdisc").toStdString(), medium::kDvdR);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    w.SwitchMode(CPlomeDlg::kAudioCD);
    w.RecorderList()->setCurrentIndex(w.RecorderList()->count() - 1);
    w.OnRecorderChanged();
    Sink().Clear();
    w.Burn();
    QVERIFY(Sink().Saw(wt::LangText("Message", 18)));
  }

  void ADataSessionIsAddedKeptInTheProjectAndStagedForTheBurn() {
    auto service = std::make_shared<VirtualRecorders>();
    const QString folder = wt::NewTempFolder("enhanced");
    service->AddRecorder((folder + "/cdr.vdisc").toStdString(), medium::kCdR);
    CPlomeDlg w(service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kAudioCD);
    CDlgAudioCD* a = w.AudioWindow();
    QCOMPARE(a->DataFilesLabel()->text(), wt::LangText("UIText", 1471));
    QVERIFY(!a->RemoveDataButton()->isEnabled());
    QVERIFY(!a->DataPlaceBox()->isEnabled());
    QVERIFY(a->AddPaths({Tone(folder, "song.ogg", 1.5)}));
    wt::WriteFile(folder + "/extra/notes.txt", "liner notes");
    wt::WriteFile(folder + "/cover.txt", "cover");
    wt::Chooser().next = {folder + "/extra", folder + "/cover.txt"};
    a->AddDataButton()->click();
    QVERIFY2(a->DataFilesLabel()->text().contains("cover.txt"), qPrintable(a->DataFilesLabel()->text()));
    QVERIFY(a->DataPlaceBox()->isEnabled());
    QCOMPARE(a->Project().DataFiles().place, AudioDiscFiles::kSessionAfter);
    // The place chosen and the files come back with the project.
    emit a->DataPlaceBox()->activated(1);
    QCOMPARE(a->Project().DataFiles().place, AudioDiscFiles::kTrackFirst);
    QVERIFY(a->SaveProject(folder + "/p.bcd"));
    {
      CDlgAudioCD b;
      QVERIFY(b.LoadProject(folder + "/p.bcd"));
      QCOMPARE(b.Project().DataFiles().place, AudioDiscFiles::kTrackFirst);
      QCOMPARE(b.DataPlaceBox()->currentIndex(), 1);
      QCOMPARE(b.Project().DataFiles().paths.size(), size_t(2));
    }
    // A file gone before the burn is named before anything is converted.
    emit a->DataPlaceBox()->activated(0);
    AutoAcceptSettings(w);
    QFile::remove(folder + "/cover.txt");
    w.Burn();
    QVERIFY(Sink().Saw("cover.txt"));
    QVERIFY(w.LastBurnResult() != result::kSuccess);
    // Back in place, the burn hands the recorder the files staged as a data project.
    wt::WriteFile(folder + "/cover.txt", "cover");
    w.Burn();
    QCOMPARE(w.LastBurnResult(), result::kSuccess);
    const VirtualRecorders::AudioFiles& given = service->LastAudioFiles();
    QCOMPARE(given.place, AudioDiscFiles::kSessionAfter);
    QString staged;
    for (const std::string& p : given.staged) staged += QString::fromStdString(p) + " ";
    QVERIFY2(staged.contains("notes.txt") && staged.contains("cover.txt"), qPrintable(staged));
    // Removing asks first; No keeps the files.
    Sink().Answer({msgbox::kNo});
    a->RemoveDataButton()->click();
    QCOMPARE(a->Project().DataFiles().paths.size(), size_t(2));
    Sink().Answer({msgbox::kYes});
    a->RemoveDataButton()->click();
    QVERIFY(a->Project().DataFiles().paths.empty());
    QVERIFY(!a->RemoveDataButton()->isEnabled());
  }

  void CancellingTheConversionStopsTheConverterAndKeepsNothing() {
    ConverterStandIn probe(ProbeOnlyConverter());
    auto service = std::make_shared<VirtualRecorders>();
    const QString folder = wt::NewTempFolder("cancel");
    const std::string state = (folder + "/cdr.vdisc").toStdString();
    service->AddRecorder(state, medium::kCdR);
    CPlomeDlg w(service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kAudioCD);
    CDlgAudioCD* a = w.AudioWindow();
    wt::WriteFile(folder + "/a.mp3", "x");
    QVERIFY(a->AddPaths({folder + "/a.mp3"}));
    // From now on the converter writes half a file and waits.
    const QString slow = folder + "/slow";
    wt::WriteFile(slow, "#!/bin/sh\nfor a; do last=$a; done\nprintf RIFF > \"${last#file:}\"\nsleep 60\n");
    QFile::setPermissions(slow, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ConverterStandIn slowConverter(slow);
    AutoAcceptSettings(w);
    QString shown;
    connect(&w, &CPlomeDlg::DialogOpened, &w, [&](QDialog* d) {
      if (auto* progress = qobject_cast<CDlgProgress1*>(d))
        QTimer::singleShot(800, progress, [&shown, progress, a] {
          shown = a->PreparingText();
          progress->CancelButton()->click();
        });
    });
    Sink().Answer({msgbox::kYes, msgbox::kOk});
    QElapsedTimer clock;
    clock.start();
    w.Burn();
    QVERIFY2(clock.elapsed() < 30000, "the converter was not stopped at once");
    QVERIFY(w.LastBurnResult() != result::kSuccess);
    QVERIFY2(shown.contains("a.mp3"), qPrintable(shown));
    QVERIFY(a->Project().WorkFolder().empty());
    QCOMPARE(ini::GetInt(state, "Disc", "Used", 0), 0);
    QCOMPARE(a->List()->topLevelItemCount(), 1);
  }

  void EditsTheDiscsTextsPausesAndCodesInPlace() {
    ConverterStandIn probe(ProbeOnlyConverter());
    CDlgAudioCD a;
    a.resize(1000, 400);
    const QString src = wt::NewTempFolder("texts");
    for (const char* n : {"a.mp3", "b.mp3"}) wt::WriteFile(src + "/" + n, "x");
    QVERIFY(a.AddPaths({src + "/a.mp3", src + "/b.mp3"}));
    // The first track always begins after the disc's 2 seconds.
    QCOMPARE(Column(a.List(), CDlgAudioCD::kPause), QStringList({"2", "0"}));
    QVERIFY(!CDlgAudioCD::Editable(0, CDlgAudioCD::kPause));
    QVERIFY(CDlgAudioCD::Editable(1, CDlgAudioCD::kPause));
    QVERIFY(!CDlgAudioCD::Editable(1, CDlgAudioCD::kPath));
    QVERIFY(CDlgAudioCD::Editable(0, CDlgAudioCD::kTitle));

    // A cell edited in place reaches the project; codes show as the disc keeps them.
    QTreeWidgetItem* second = a.List()->topLevelItem(1);
    second->setText(CDlgAudioCD::kTitle, "Second");
    second->setText(CDlgAudioCD::kComposer, "Composer");
    second->setText(CDlgAudioCD::kPause, "2,5");
    second->setText(CDlgAudioCD::kIsrc, "gb-abc-24-00001");
    AudioTrackRow row = a.Project().Rows()[1];
    QCOMPARE(QString::fromStdString(row.title), QString("Second"));
    QCOMPARE(QString::fromStdString(row.composer), QString("Composer"));
    QCOMPARE(row.pauseFrames, 188);
    QCOMPARE(QString::fromStdString(row.isrc), QString("GBABC2400001"));
    QCOMPARE(a.List()->topLevelItem(1)->text(CDlgAudioCD::kIsrc), QString("GBABC2400001"));
    QCOMPARE(Sink().Count(), 0);

    // What cannot be written is told, and the cell shows the row as it was.
    second = a.List()->topLevelItem(1);
    second->setText(CDlgAudioCD::kIsrc, "nonsense");
    QCOMPARE(Sink().Count(), 1);
    QVERIFY(Sink().Saw("nonsense"));
    QCOMPARE(a.List()->topLevelItem(1)->text(CDlgAudioCD::kIsrc), QString("GBABC2400001"));
    a.List()->topLevelItem(1)->setText(CDlgAudioCD::kPause, "12");
    QCOMPARE(Sink().Count(), 2);
    QCOMPARE(a.Project().Rows()[1].pauseFrames, 188);

    // The header: the disc's title, performer and catalogue number.
    a.DiscTitleEdit()->setText("Album");
    emit a.DiscTitleEdit()->editingFinished();
    a.DiscMcnEdit()->setText("123");
    emit a.DiscMcnEdit()->editingFinished();
    QCOMPARE(Sink().Count(), 3);
    QCOMPARE(a.DiscMcnEdit()->text(), QString());
    a.DiscMcnEdit()->setText("0602537361231");
    emit a.DiscMcnEdit()->editingFinished();
    QCOMPARE(QString::fromStdString(a.Project().DiscText().title), QString("Album"));
    QCOMPARE(QString::fromStdString(a.Project().DiscText().mcn), QString("0602537361231"));

    // Kept in the project file and shown again when it is opened.
    const QString file = src + "/texts.bcd";
    QVERIFY(a.SaveProject(file));
    CDlgAudioCD b;
    QVERIFY(b.LoadProject(file));
    QCOMPARE(Column(b.List(), CDlgAudioCD::kTitle), QStringList({"", "Second"}));
    QCOMPARE(Column(b.List(), CDlgAudioCD::kPause), QStringList({"2", "2.51"}));
    QCOMPARE(b.DiscTitleEdit()->text(), QString("Album"));
    QCOMPARE(b.DiscMcnEdit()->text(), QString("0602537361231"));
  }

  void PreEmphasisAndCopyPermittedAreCheckBoxesOfEachRow() {
    ConverterStandIn probe(ProbeOnlyConverter());
    CDlgAudioCD a;
    a.resize(1400, 400);
    const QString src = wt::NewTempFolder("flags");
    for (const char* n : {"a.mp3", "b.mp3", "c.mp3"}) wt::WriteFile(src + "/" + n, "x");
    QVERIFY(a.AddPaths({src + "/a.mp3", src + "/b.mp3", src + "/c.mp3"}));
    auto checks = [](CDlgAudioCD& w, int column) {
      QStringList states;
      for (int i = 0; i < w.List()->topLevelItemCount(); ++i)
        states << (w.List()->topLevelItem(i)->checkState(column) == Qt::Checked ? "on" : "off");
      return states;
    };
    QCOMPARE(checks(a, CDlgAudioCD::kPreEmphasis), QStringList({"off", "off", "off"}));
    QCOMPARE(a.List()->headerItem()->text(CDlgAudioCD::kPreEmphasis), QString("Pre-emphasis"));
    QCOMPARE(a.List()->headerItem()->text(CDlgAudioCD::kCopyPermitted), QString("Copy permitted"));
    // The path stays the last column; the flags stand beside the ISRC.
    QHeaderView* header = a.List()->header();
    QCOMPARE(header->visualIndex(CDlgAudioCD::kPath), CDlgAudioCD::kColumns - 1);
    QCOMPARE(header->visualIndex(CDlgAudioCD::kPreEmphasis), header->visualIndex(CDlgAudioCD::kIsrc) + 1);

    // A click on the box (its state changed in place) reaches the row, and
    // only that row; the project is told it changed.
    int changes = 0;
    connect(&a, &CDlgAudioCD::ProjectChanged, this, [&changes] { ++changes; });
    a.List()->topLevelItem(1)->setCheckState(CDlgAudioCD::kPreEmphasis, Qt::Checked);
    a.List()->topLevelItem(2)->setCheckState(CDlgAudioCD::kCopyPermitted, Qt::Checked);
    QCOMPARE(changes, 2);
    std::vector<AudioTrackRow> rows = a.Project().Rows();
    QVERIFY(!rows[0].preEmphasis && rows[1].preEmphasis && !rows[2].preEmphasis);
    QVERIFY(!rows[0].copyPermitted && !rows[1].copyPermitted && rows[2].copyPermitted);
    // A text edited in the same row leaves its flags as they are.
    a.List()->topLevelItem(1)->setText(CDlgAudioCD::kTitle, "Two");
    QVERIFY(a.Project().Rows()[1].preEmphasis);
    // Unticked again.
    a.List()->topLevelItem(1)->setCheckState(CDlgAudioCD::kPreEmphasis, Qt::Unchecked);
    QVERIFY(!a.Project().Rows()[1].preEmphasis);
    a.List()->topLevelItem(1)->setCheckState(CDlgAudioCD::kPreEmphasis, Qt::Checked);
    // The flags are boxes, not texts typed in.
    QVERIFY(!a.EditCell(1, CDlgAudioCD::kPreEmphasis, "yes"));

    // Moved with their rows, kept in the project file and shown again.
    a.SelectRows({2});
    a.MoveUp();
    QCOMPARE(checks(a, CDlgAudioCD::kCopyPermitted), QStringList({"off", "on", "off"}));
    QCOMPARE(checks(a, CDlgAudioCD::kPreEmphasis), QStringList({"off", "off", "on"}));
    const QString file = src + "/flags.bcd";
    QVERIFY(a.SaveProject(file));
    CDlgAudioCD b;
    QVERIFY(b.LoadProject(file));
    QCOMPARE(checks(b, CDlgAudioCD::kCopyPermitted), QStringList({"off", "on", "off"}));
    QCOMPARE(checks(b, CDlgAudioCD::kPreEmphasis), QStringList({"off", "off", "on"}));

    // The box is drawn where a click toggles it.
    b.resize(2200, 400);
    b.show();
    QVERIFY(QTest::qWaitForWindowExposed(&b));
    CListCtrlEx* list = b.List();
    const QModelIndex cell = list->model()->index(0, CDlgAudioCD::kPreEmphasis);
    const QRect box = list->CheckRect(cell);
    QVERIFY(box.isValid() && list->visualRect(cell).contains(box));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
    QVERIFY(b.Project().Rows()[0].preEmphasis);
    QCOMPARE(checks(b, CDlgAudioCD::kPreEmphasis), QStringList({"on", "off", "on"}));
    // Ticked and unticked boxes look different, and an unticked box is
    // more than the empty cell beside it (rows 1 and 2 are not selected).
    const QImage shot = list->viewport()->grab().toImage();
    const QRect off = list->CheckRect(list->model()->index(1, CDlgAudioCD::kPreEmphasis));
    const QRect on = list->CheckRect(list->model()->index(2, CDlgAudioCD::kPreEmphasis));
    const QRect composer = list->visualRect(list->model()->index(1, CDlgAudioCD::kComposer));
    QVERIFY(shot.copy(on) != shot.copy(off));
    QVERIFY(shot.copy(off) != shot.copy(off.translated(composer.left() + 4 - off.left(), 0)));
    QCOMPARE(Sink().Count(), 0);
  }
};

int RunAudioWindowTests(int argc, char** argv) {
  AudioWindowTest t;
  return QTest::qExec(&t, argc, argv);
}

#include "AudioWindowTest.moc"
