// The main window as a user reads it: whole names and sizes with units,
// columns that use the room, the drive named the same everywhere, pages that
// say which drive they show, the speed box, the focus ring, message frames,
// Escape, the disc copy's drive lists and the size grip.

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "BurnCtrl/RecorderCommands.h"
#include "DevDeque.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "analysis/DevInfo.h"
#include "analysis/ui/CDlgAnaly_CD.h"
#include "analysis/ui/CDlgAnaly_DevInfo.h"
#include "app/CommandLayerRecorders.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgDiscCopy.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/CSkinBtn.h"
#include "app/ui/QtMessageSink.h"
#include "controls/CListCtrlEx.h"
#include "controls/CSizeGrip.h"
#include "foundation/ProfileIni.h"
#include "support/VirtualRecorders.h"

using wt::Sink;

namespace {

struct Drives {
  std::shared_ptr<VirtualRecorders> service = std::make_shared<VirtualRecorders>();
  QString folder = wt::NewTempFolder("readable");
  int Add(const QString& name, int medium = medium::kCdR) {
    return service->AddRecorder((folder + "/" + name + ".vdisc").toStdString(), medium);
  }
};

QStringList Texts(QComboBox* box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
  return out;
}

QStringList ListNames(CDlgDataCD& w) {
  QStringList out;
  for (int i = 0; i < w.List()->topLevelItemCount(); ++i) out << w.List()->topLevelItem(i)->text(0);
  return out;
}

QStringList ChildTexts(QTreeWidgetItem* item) {
  QStringList out;
  for (int i = 0; i < item->childCount(); ++i) out << item->child(i)->text(0);
  return out;
}

void SelectDrive(QComboBox* box, int drive) {
  for (int i = 0; i < box->count(); ++i)
    if (DriveIndexOfEntry(box->itemText(i).toStdString()) == drive) box->setCurrentIndex(i);
}

}  // namespace

class ReadableWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { Sink().Clear(); }

  // Sizes read with units, the list sorts as the tree does, and its name
  // columns take the room of a wider window.
  void TheDataListReadsAsAFileManagerDoes() {
    const QString src = wt::NewTempFolder("sorted");
    wt::WriteFile(src + "/Photos/p.txt", "p");
    wt::WriteFile(src + "/data/d.txt", "d");
    wt::WriteFile(src + "/b.txt", QByteArray(8 * 1024 * 1024, 'b'));
    wt::WriteFile(src + "/A.txt", "a");
    CDlgDataCD w;
    w.resize(700, 400);
    w.SetMode(CDlgDataCD::kModeData);
    QVERIFY(w.AddPaths({src + "/Photos", src + "/b.txt", src + "/data", src + "/A.txt"}));
    QCOMPARE(ChildTexts(w.RootItem()), (QStringList{"data", "Photos"}));
    QCOMPARE(ListNames(w), (QStringList{"data", "Photos", "A.txt", "b.txt"}));
    QTreeWidgetItem* big = w.List()->topLevelItem(3);
    QCOMPARE(big->text(2), QString("8.00 MB"));
    QCOMPARE(big->toolTip(2), QString::number(8 * 1024 * 1024));
    // Whole beside the cell insets the list draws with (two "x" each side).
    const QFontMetrics metrics(w.List()->font());
    QVERIFY(w.List()->header()->sectionSize(2) >=
            metrics.horizontalAdvance("1023 MB") + 4 * metrics.horizontalAdvance(QLatin1Char('x')));

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int narrow = w.List()->header()->sectionSize(0);
    w.resize(1600, 400);
    QCoreApplication::processEvents();
    QVERIFY(w.List()->header()->sectionSize(0) > narrow + 200);
    // The columns fill the list: no empty band on the right.
    int used = 0;
    for (int c = 0; c < w.List()->columnCount(); ++c) used += w.List()->header()->sectionSize(c);
    QVERIFY(used >= w.List()->viewport()->width() - 2);
  }

  // No internal names: the MP3 disc's label, and the titles of projects not
  // saved yet.
  void DefaultNamesAreTheUsersWords() {
    CDlgDataCD mp3;
    mp3.SetMode(CDlgDataCD::kModeMp3);
    QCOMPARE(mp3.GetVolumeLabel(), QString("MP3CD"));

    CPlomeDlg w(std::make_shared<VirtualRecorders>());
    const QString untitled = wt::LangText("UIText", 92);
    for (int mode : {int(CPlomeDlg::kAudioCD), int(CPlomeDlg::kDataDisc), int(CPlomeDlg::kMp3Disc),
                     int(CPlomeDlg::kVcd), int(CPlomeDlg::kDvd)}) {
      w.SwitchMode(mode);
      const QString title = w.windowTitle();
      QVERIFY2(title.startsWith("Varnex \u2013 " + untitled + " ("), qPrintable(title));
      for (const char* internal : {"AudioCD", "DataCD", "Plome", "MP3CD", "VideoCD"})
        QVERIFY2(!title.contains(internal), qPrintable(title));
    }
  }

  // The drive's name is the device's own trimmed name, as the command line
  // prints it; the entry keeps what tells drives apart and names the full
  // path in its tooltip.
  void TheDriveReadsTheSameInWindowAndCommandLine() {
    QCOMPARE(DriveEntryText("D:", "VARNEX Virtual Recorder 1.0", "virtual:/tmp/a/b/first.vdisc"),
             std::string("D: VARNEX Virtual Recorder 1.0  (first.vdisc)"));
    QCOMPARE(DriveEntryText("E:", "ACME DVDRW 2.1", "/dev/sr0"), std::string("E: ACME DVDRW 2.1  (/dev/sr0)"));

    const QString folder = wt::NewTempFolder("drive-name");
    const std::string path = (folder + "/a-rather-long-folder-name-for-a-drive/first.vdisc").toStdString();
    QDir().mkpath(folder + "/a-rather-long-folder-name-for-a-drive");
    std::string error;
    const int index = FirstFreeRecorderIndex(3);
    QVERIFY2(OpenVirtualRecorder("virtual:" + path + ":cd-r", &error), error.c_str());
    auto layer = std::make_shared<CommandLayerRecorders>();
    INQUIRYDATA inquiry;
    QCOMPARE(layer->ReadingDevice(uint8_t(index))->Inquiry(inquiry), uint32_t(DEV_OK));
    const std::string name = inquiry.Text();
    QVERIFY(!name.empty() && name.find("  ") == std::string::npos);
    DriveEntry entry;
    for (const DriveEntry& d : layer->Drives())
      if (d.index == index) entry = d;
    QCOMPARE(entry.text, DevDeque::DriveLetter(index) + " " + name + "  (first.vdisc)");
    QVERIFY(entry.where.find(path) != std::string::npos);

    CPlomeDlg w(layer);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    SelectDrive(w.RecorderList(), index);
    const int at = w.RecorderList()->currentIndex();
    QVERIFY(DriveIndexOfEntry(w.RecorderList()->itemText(at).toStdString()) == index);
    QVERIFY(w.RecorderList()->itemData(at, Qt::ToolTipRole).toString().contains(QString::fromStdString(path)));
    QVERIFY(w.RecorderList()->toolTip().contains(QString::fromStdString(path)));
    const QFontMetrics metrics(w.RecorderList()->view()->font());
    QVERIFY(w.RecorderList()->view()->minimumWidth() > metrics.horizontalAdvance(w.RecorderList()->itemText(at)));
    RemoveRecorder(index);
  }

  // The analysis page: named columns while empty, the error in full, each
  // track's start and length.
  void TheAnalysisPageShowsWhatItKnows() {
    CDlgAnaly_CD empty;
    QCOMPARE(empty.List()->columnCount(), 5);
    QCOMPARE(empty.List()->headerItem()->text(0), wt::LangText("Column", 5));

    // A blank disc cannot be analysed: the reason is shown whole.
    const QString folder = wt::NewTempFolder("analysis-error");
    std::string error;
    const int index = FirstFreeRecorderIndex(3);
    QVERIFY2(OpenVirtualRecorder("virtual:" + (folder + "/blank.vdisc").toStdString() + ":cd-r", &error),
             error.c_str());
    auto layer = std::make_shared<CommandLayerRecorders>();
    CDlgAnaly_CD page;
    page.resize(500, 300);
    QVERIFY(page.ErrorLabel()->isHidden());
    page.SetDrive(layer->ReadingDevice(uint8_t(index)));
    QVERIFY(!page.ErrorLabel()->isHidden());
    QCOMPARE(page.ErrorLabel()->text(), wt::LangText("Message", 4));
    QVERIFY(page.ErrorLabel()->wordWrap());
    // The reason takes its own lines; the tree keeps the page.
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QVERIFY(page.Tree()->height() > page.height() / 2);

    // The device information's drive line, too.
    CDlgAnaly_DevInfo info;
    info.resize(500, 300);
    info.SetDriveName("D: VARNEX Virtual Recorder 1.0  (blank.vdisc)");
    info.show();
    QVERIFY(QTest::qWaitForWindowExposed(&info));
    QVERIFY(info.List()->height() > info.height() / 2);
    RemoveRecorder(index);
  }

  // Blu-ray rows come from the feature list.
  void DeviceInformationListsBluRay() {
    uint8_t page[26] = {0x2A, 24};
    std::vector<uint8_t> config(8 + 3 * 4);
    config[3] = uint8_t(config.size() - 4);
    const uint16_t features[] = {0x0040, 0x0041, 0x0001};
    for (size_t i = 0; i < 3; ++i) {
      config[8 + i * 4] = uint8_t(features[i] >> 8);
      config[9 + i * 4] = uint8_t(features[i]);
    }
    auto support = [](const std::vector<DevInfoRow>& rows, int key) {
      for (const DevInfoRow& r : rows)
        if (r.nameKey == key) return int(r.support);
      return -1;
    };
    const auto rows = DeviceInfoRows(page, sizeof page, config.data(), config.size());
    QCOMPARE(rows.size(), size_t(36));
    for (int key : {93, 94, 96, 97}) QCOMPARE(support(rows, key), int(DevInfoRow::kYes));
    QCOMPARE(support(rows, 98), int(DevInfoRow::kNo));  // no BD-RE writing feature
    const auto none = DeviceInfoRows(page, sizeof page, nullptr, 0);
    for (int key : {93, 94, 96, 97, 98}) QCOMPARE(support(none, key), int(DevInfoRow::kNo));
    for (int key : {93, 94, 96, 97, 98, 99}) QVERIFY(!wt::LangText("UIText", key).isEmpty());
  }

  // "Maximum" first and chosen; the speed box comes back after the image
  // entry of another mode.
  void TheSpeedBoxOffersTheMaximum() {
    Drives d;
    const int cd = d.Add("cd", medium::kCdRw);
    // The drive reports no speeds of its own: it takes 4X, 8X and 12X when asked.
    ini::WriteString((d.folder + "/cd.vdisc").toStdString(), "Disc", "Speeds", "none");
    CPlomeDlg w(d.service);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    SelectDrive(w.RecorderList(), cd);
    w.OnRecorderChanged();
    QCOMPARE(Texts(w.SpeedList()), (QStringList{wt::LangText("UIText", 17), "4X", "8X", "12X"}));
    QCOMPARE(w.SpeedList()->currentIndex(), 0);
    QCOMPARE(w.ChosenSpeedFactor(), 12);
    w.SpeedList()->setCurrentIndex(2);
    QCOMPARE(w.ChosenSpeedFactor(), 8);

    // The image entry empties the box; another mode with a recorder fills it
    // again, and a choice made stays when the same speeds come back.
    w.RecorderList()->setCurrentIndex(w.RecorderList()->count() - 1);
    w.OnRecorderChanged();
    QCOMPARE(w.SpeedList()->count(), 0);
    w.SwitchMode(CPlomeDlg::kAudioCD);
    QVERIFY(w.SpeedList()->isEnabled());
    QCOMPARE(w.SpeedList()->currentText(), wt::LangText("UIText", 17));
    w.SpeedList()->setCurrentIndex(1);
    w.SwitchMode(CPlomeDlg::kVcd);
    QCOMPARE(w.SpeedList()->currentText(), QString("4X"));
  }

  // A focus the button only kept from the window's start draws no ring; Tab does.
  void TheFocusRingFollowsTheKeyboard() {
    QWidget top;
    auto* first = new CSkinBtn(1, &top);
    auto* second = new CSkinBtn(2, &top);
    second->move(40, 0);
    top.show();
    top.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&top));
    first->setFocus(Qt::OtherFocusReason);
    QVERIFY(first->hasFocus());
    QVERIFY(!first->ShowsFocusRing());
    QTest::keyClick(&top, Qt::Key_Tab);
    QVERIFY(second->hasFocus());
    QVERIFY(second->ShowsFocusRing());
    first->setFocus(Qt::MouseFocusReason);
    QVERIFY(first->hasFocus());
    QVERIFY(!first->ShowsFocusRing());
    QVERIFY(!second->ShowsFocusRing());
  }

  // Leaving a mode whose page had the keyboard leaves no focus on the first
  // mode button: the keyboard moves on to the new page.
  void SwitchingModesKeepsTheKeyboardInThePage() {
    Drives d;
    d.Add("cd");
    CPlomeDlg w(d.service);
    w.show();
    w.Initialise();  // the recorders are read after the first paint
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.SwitchMode(CPlomeDlg::kAudioCD);
    w.Page(CPlomeDlg::kAudioCD)->setFocus();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    CSkinBtn* audio = w.Button(1023);
    QVERIFY(!audio->hasFocus());
    QVERIFY(!audio->ShowsFocusRing());
    QVERIFY(w.Page(CPlomeDlg::kDataDisc)->isAncestorOf(QApplication::focusWidget()));
    w.SwitchMode(CPlomeDlg::kDiscCopy);
    QVERIFY(w.Page(CPlomeDlg::kDiscCopy)->isAncestorOf(QApplication::focusWidget()));
    w.hide();
  }

  // A message box has a title and a close button, nothing to minimise or maximise.
  void MessageBoxesCannotBeMinimised() {
    Qt::WindowFlags flags;
    bool seen = false;
    QTimer::singleShot(0, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        seen = true;
        flags = box->windowFlags();
        box->accept();
      }
    });
    QtMessageSink sink;
    sink.Show("Question?", 0x24);
    QVERIFY(seen);
    // Without the customize hint an X11 window asks for every decoration and
    // function, minimise and maximise included.
    QVERIFY(flags & Qt::CustomizeWindowHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowTitleHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
  }

  // Escape takes back a selection and never closes the window.
  void EscapeClearsTheSelectionAndKeepsTheWindow() {
    Drives d;
    d.Add("cd");
    CPlomeDlg w(d.service);
    w.show();
    w.Initialise();  // the recorders are read after the first paint
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.SwitchMode(CPlomeDlg::kDataDisc);
    CDlgDataCD* data = w.DataWindow(CPlomeDlg::kDataDisc);
    const QString src = wt::NewTempFolder("escape");
    wt::WriteFile(src + "/one.txt", "1");
    QVERIFY(data->AddPaths({src + "/one.txt"}));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    data->List()->setFocus();
    data->List()->topLevelItem(0)->setSelected(true);
    QTest::keyClick(data->List(), Qt::Key_Escape);
    QVERIFY(data->List()->selectedItems().isEmpty());
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(w.isVisible());
    w.hide();
  }

  // The disc copy does not read and write one drive by default, and follows
  // drives that come while it is shown.
  void DiscCopyFollowsTheDrives() {
    Drives d;
    const int first = d.Add("first");
    const int second = d.Add("second");
    CPlomeDlg w(d.service);
    w.show();
    w.Initialise();  // the recorders are read after the first paint
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.SwitchMode(CPlomeDlg::kDiscCopy);
    CDlgDiscCopy* copy = w.CopyWindow();
    QVERIFY(copy);
    QCOMPARE(w.SelectedDrive(), first);
    QCOMPARE(copy->SelectedSource(), second);

    const int third = d.Add("third");
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.OnDeviceChange();
    QCOMPARE(w.RecorderList()->count(), 3);
    QCOMPARE(copy->SourceList()->count(), 3);
    QVERIFY(DriveIndexOfEntry(copy->SourceList()->itemText(2).toStdString()) == third);
    QCOMPARE(copy->SelectedSource(), second);  // the choice stays
    w.hide();
  }

  // A drag of the grip as fast as a single move still resizes the window.
  void AFastDragOfTheGripResizes() {
    QWidget top;
    top.setMinimumSize(200, 150);
    top.resize(400, 300);
    auto* grip = new CSizeGrip(&top);
    grip->move(400 - 14, 300 - 14);
    top.show();
    QVERIFY(QTest::qWaitForWindowExposed(&top));
    QTest::mousePress(grip, Qt::LeftButton, {}, QPoint(7, 7));
    QTest::mouseRelease(grip, Qt::LeftButton, {}, QPoint(7 + 250, 7 + 120));
    QCOMPARE(top.size(), QSize(650, 420));
    QTest::mousePress(grip, Qt::LeftButton, {}, QPoint(7, 7));
    QTest::mouseMove(grip, QPoint(7 - 600, 7 - 600));
    QTest::mouseRelease(grip, Qt::LeftButton, {}, QPoint(7 - 600, 7 - 600));
    QCOMPARE(top.size(), QSize(200, 150));  // never below the window's minimum
  }
};

int RunReadableWindowTests(int argc, char** argv) {
  ReadableWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ReadableWindowTest.moc"
