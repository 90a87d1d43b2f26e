// The three analysis pages inside the main window: the disc tree of an image
// file opened through the image entry with its files saved, an audio CD of a
// virtual recorder with its CD-Text rows and the hand-over of "save audio
// track", the sector dump with its arrows and Sector.dat, and the device
// information rows.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QTest>
#include <QTreeWidget>

#include "BurnCtrl/RecorderCommands.h"
#include "ByteFields.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "analysis/ui/CDlgAnaly_CD.h"
#include "analysis/ui/CDlgAnaly_DevInfo.h"
#include "analysis/ui/CDlgAnaly_Sector.h"
#include "app/CommandLayerRecorders.h"
#include "app/ui/CPlomeDlg.h"

using wt::Sink;

namespace {

QString MakeIso(const QString& dir) {
  wt::WriteFile(dir + "/src/readme.txt", "hello disc");
  wt::WriteFile(dir + "/src/sub/inner.txt", "inner file");
  wt::WriteFile(dir + "/src/sub/deeper/last.txt", "last");
  QProcess p;
  p.start("genisoimage", {"-quiet", "-J", "-V", "WINDOWS", "-o", dir + "/disc.iso", dir + "/src"});
  if (!p.waitForFinished(-1) || p.exitCode() != 0) qFatal("genisoimage failed");
  return dir + "/disc.iso";
}

// A folder by its name, a track by the text before its start and length.
QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& text) {
  for (int i = 0; i < parent->childCount(); ++i)
    if (parent->child(i)->text(0) == text || parent->child(i)->text(0).startsWith(text + " \u2013 "))
      return parent->child(i);
  return nullptr;
}

int ImageEntry(CPlomeDlg& w) {
  for (int i = 0; i < w.RecorderList()->count(); ++i)
    if (w.RecorderList()->itemText(i).startsWith('[')) return i;
  return -1;
}

void Choose(CPlomeDlg& w, int entry) {
  w.RecorderList()->setCurrentIndex(entry);
  emit w.RecorderList()->activated(entry);
}

}  // namespace

class AnalysisWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void ImageEntryShowsTheTreeAndSavesTheSelection() {
    const QString dir = wt::NewTempFolder("analysis");
    const QString iso = MakeIso(dir);
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    w.SwitchMode(CPlomeDlg::kAnalyseDisc);
    CDlgAnaly_CD* page = w.AnalysisWindow();
    QVERIFY(page);
    const int image = ImageEntry(w);
    QVERIFY(image >= 0);
    wt::Chooser().next = {iso};
    Choose(w, image);
    QTreeWidget* tree = page->Tree();
    QVERIFY(tree->topLevelItemCount() >= 2);
    QTreeWidgetItem* session = tree->topLevelItem(0);
    QCOMPARE(session->text(0), QString("Session 1"));
    QTreeWidgetItem* track = Child(session, "DATA TRACK 1 (ISO)");
    QVERIFY(track);
    const qint64 sectors = QFileInfo(iso).size() / 2048;
    QCOMPARE(track->text(0), QString("DATA TRACK 1 (ISO) \u2013 start 0, length %1 sectors").arg(sectors));
    QVERIFY(Child(track, "sub") && Child(Child(track, "sub"), "deeper"));
    QVERIFY(tree->topLevelItem(tree->topLevelItemCount() - 1)->text(0).startsWith("(Lead Out) "));

    // The track's root: folders first, then files, with their columns.
    tree->setCurrentItem(track);
    QTreeWidget* list = page->List();
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(0), QString("sub"));
    QCOMPARE(list->topLevelItem(0)->text(2), QString("Folder"));
    QCOMPARE(list->topLevelItem(1)->text(0), QString("readme.txt"));
    QCOMPARE(list->topLevelItem(1)->text(3), QString("10 B"));
    QVERIFY(list->topLevelItem(1)->text(4).toInt() > 16);

    // Saving the folder selected in the list, with its content only.
    list->topLevelItem(0)->setSelected(true);
    Sink().Clear();
    QSignalSpy finished(page, &CDlgAnaly_CD::SavingFinished);
    QVERIFY(page->SaveSelectedTo(dir + "/out"));
    while (finished.isEmpty()) QTest::qWait(10);
    QVERIFY(page->LastReport().Complete());
    QCOMPARE(wt::ReadFile(dir + "/out/sub/inner.txt"), QByteArray("inner file"));
    QCOMPARE(wt::ReadFile(dir + "/out/sub/deeper/last.txt"), QByteArray("last"));
    QVERIFY(!QFile::exists(dir + "/out/readme.txt"));
    QVERIFY(Sink().Saw(wt::LangText("Message", 1403)));

    // Saving again into the same folder replaces nothing: the names are
    // changed and the user is told.
    Sink().Clear();
    finished.clear();
    QVERIFY(page->SaveSelectedTo(dir + "/out"));
    while (finished.isEmpty()) QTest::qWait(10);
    QCOMPARE(wt::ReadFile(dir + "/out/sub (2)/inner.txt"), QByteArray("inner file"));
    QVERIFY(Sink().Saw(wt::LangText("Message", 1401)));

    // The sector page reads the same image.
    w.SwitchMode(CPlomeDlg::kAnalyseSector);
    CDlgAnaly_Sector* sector = w.SectorWindow();
    QVERIFY(sector);
    QCOMPARE(sector->DriveName()->text(), wt::LangText("UIText", 15) + " " + iso);
    QCOMPARE(sector->SectorField()->text(), QString("16"));
    QCOMPARE(sector->Dump()->count(), 2 + 128);
    QVERIFY(sector->Dump()->item(2)->text().startsWith("   0|  01 43 44 30 30 31"));
    sector->SectorField()->setText("0");
    sector->Step(-1);
    QCOMPARE(sector->SectorField()->text(), QString("0"));
    sector->Step(+1);
    QCOMPARE(sector->SectorField()->text(), QString("1"));
    sector->SectorField()->setText("16");
    QTest::keyClick(sector->SectorField(), Qt::Key_Return);
    wt::Chooser().next = {dir + "/Sector.dat"};
    sector->SaveSector();
    QCOMPARE(wt::ReadFile(dir + "/Sector.dat").size(), 2048);
    QCOMPARE(wt::ReadFile(dir + "/Sector.dat").mid(1, 5), QByteArray("CD001"));
    // A sector past the end leaves an empty dump.
    sector->SectorField()->setText("999999");
    QTest::keyClick(sector->SectorField(), Qt::Key_Return);
    QCOMPARE(sector->Dump()->count(), 0);

    // The device information of the image device.
    w.SwitchMode(CPlomeDlg::kDeviceInfo);
    CDlgAnaly_DevInfo* info = w.DeviceInfoWindow();
    QVERIFY(info);
    QCOMPARE(info->List()->topLevelItemCount(), 36);
    QCOMPARE(info->DriveName()->text(), wt::LangText("UIText", 15) + " " + iso);
    QCOMPARE(info->List()->topLevelItem(0)->text(1), wt::LangText("UIText", 29));
    QCOMPARE(info->List()->topLevelItem(12)->text(1), wt::LangText("UIText", 42));
    QVERIFY(info->List()->topLevelItem(12)->text(0) == wt::LangText("UIText", 30) ||
            info->List()->topLevelItem(12)->text(0) == wt::LangText("UIText", 31));
  }

  void AudioTracksShowTheirCdTextAndHandSavingOver() {
    const QString dir = wt::NewTempFolder("audio-analysis");
    std::vector<uint8_t> wav(44 + 44100 * 4);
    std::memcpy(wav.data(), "RIFF", 4);
    bytes::PutLE32(wav.data() + 4, uint32_t(wav.size() - 8));
    std::memcpy(wav.data() + 8, "WAVEfmt ", 8);
    bytes::PutLE32(wav.data() + 16, 16);
    bytes::PutLE16(wav.data() + 20, 1);
    bytes::PutLE16(wav.data() + 22, 2);
    bytes::PutLE32(wav.data() + 24, 44100);
    bytes::PutLE32(wav.data() + 28, 44100 * 4);
    bytes::PutLE16(wav.data() + 32, 4);
    bytes::PutLE16(wav.data() + 34, 16);
    std::memcpy(wav.data() + 36, "data", 4);
    bytes::PutLE32(wav.data() + 40, 44100 * 4);
    wt::WriteFile(dir + "/a.wav", QByteArray(reinterpret_cast<const char*>(wav.data()), int(wav.size())));
    const std::string state = (dir + "/audio.vdisc").toStdString();
    std::string error;
    QVERIFY2(VirtualRecorder::CreatePressedAudio(state, {{(dir + "/a.wav").toStdString(), "Opening", "Singer"}},
                                                 "Album", "Band", &error),
             error.c_str());
    const int index = FirstFreeRecorderIndex(3);
    QVERIFY2(OpenVirtualRecorder("virtual:" + state, &error), error.c_str());
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kAnalyseDisc);
    int entry = -1;
    for (int i = 0; i < w.RecorderList()->count(); ++i)
      if (DriveIndexOfEntry(w.RecorderList()->itemText(i).toStdString()) == index) entry = i;
    QVERIFY(entry >= 0);
    Choose(w, entry);
    CDlgAnaly_CD* page = w.AnalysisWindow();
    QTreeWidgetItem* track = Child(page->Tree()->topLevelItem(0), "AUDIO TRACK 1");
    QVERIFY(track);
    QVERIFY2(track->text(0).contains(" \u2013 start ") && track->text(0).endsWith(" sectors (0:01)"),
             qPrintable(track->text(0)));
    // After the file columns of another node, the CD-Text table has its two only.
    page->Tree()->setCurrentItem(page->Tree()->topLevelItem(0));
    page->Tree()->setCurrentItem(track);
    QCOMPARE(page->List()->columnCount(), 2);
    QCOMPARE(page->List()->topLevelItemCount(), 6);
    QCOMPARE(page->List()->topLevelItem(0)->text(0), QString("TITLE"));
    QCOMPARE(page->List()->topLevelItem(0)->text(1), QString("Opening"));
    QCOMPARE(page->List()->topLevelItem(1)->text(1), QString("Singer"));
    QCOMPARE(page->List()->topLevelItem(2)->text(0), QString("MESSAGE"));
    QSignalSpy handed(page, &CDlgAnaly_CD::SaveAudioTrackRequested);
    page->SaveSelected();
    QCOMPARE(handed.count(), 1);
    QCOMPARE(handed.at(0).at(1).toInt(), 1);
    QVERIFY(handed.at(0).at(0).value<CDevCmdROM*>() != nullptr);
    RemoveRecorder(index);
  }
};

int RunAnalysisWindowTests(int argc, char** argv) {
  AnalysisWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "AnalysisWindowTest.moc"
