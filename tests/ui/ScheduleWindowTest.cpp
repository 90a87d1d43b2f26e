// Scheduled burning in the windows: the schedule dialog and its keys, the
// arming of the check at start-up, and a due burn onto a virtual recorder
// through the recorder command layer, on a clock the test sets.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "BurnCtrl/Results.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "app/CommandLayerRecorders.h"
#include "app/TimingSet.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgTimeSet.h"
#include "app/ui/CPlomeApp.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/CSkinBtn.h"
#include "controls/CHListBox.h"
#include "foundation/LangText.h"
#include "foundation/ProfileIni.h"

using wt::Sink;

namespace {

std::string Key(const char* key) { return ini::GetString(SettingsFilePath(), "Timing Set", key, "<missing>"); }
void SetKey(const char* key, const std::string& value) { ini::WriteString(SettingsFilePath(), "Timing Set", key, value); }

schedule::LocalTime At(int day, int hour, int minute, int second, int weekday) {
  schedule::LocalTime t;
  t.year = 2026;
  t.month = 12;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.weekday = weekday;
  return t;
}

}  // namespace

class ScheduleWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    Sink().Clear();
    wt::PowerLog().calls.clear();
    QFile::remove(QString::fromStdString(SettingsFilePath()));
  }

  void TheDialogStoresWhatWasChosen() {
    const QStringList recorders = {"D: Virtual CD-R", "E: Virtual DVD+RW"};
    {
      CDlgTimeSet dialog(recorders, [](int type) { return type == 1 || type == 2; });
      // Nothing stored: off, once, every schedule control disabled.
      QVERIFY(!dialog.TimingBox()->isChecked());
      QCOMPARE(dialog.DiscTypeCombo()->currentIndex(), 1);  // audio CD is not offered here
      QVERIFY(dialog.KindButton(schedule::kOnce)->isChecked());
      QCOMPARE(dialog.Pages()->currentIndex(), 0);
      QVERIFY(!dialog.DiscTypeCombo()->isEnabled());
      dialog.TimingBox()->setChecked(true);
      QVERIFY(dialog.DiscTypeCombo()->isEnabled());
      // The radio buttons show their pages.
      dialog.KindButton(schedule::kMonthly)->click();
      QCOMPARE(dialog.Pages()->currentWidget(), static_cast<QWidget*>(dialog.Monthly()));
      dialog.KindButton(schedule::kWeekly)->click();
      QCOMPARE(dialog.Pages()->currentWidget(), static_cast<QWidget*>(dialog.Weekly()));
      dialog.Weekly()->days[0]->setChecked(true);
      dialog.Weekly()->time->setTime(QTime(20, 30));
      dialog.DiscTypeCombo()->setCurrentIndex(1);
      dialog.AfterBurnCombo()->setCurrentIndex(2);
      dialog.CloseDiscBox()->setChecked(true);
      // No recorder ticked: told so, and the dialog stays.
      QVERIFY(!dialog.TryAccept());
      QVERIFY(Sink().Saw(wt::LangText("Message", 41)));
      QCOMPARE(Key("Timing"), std::string("<missing>"));
      dialog.RecorderList()->item(1)->setCheckState(Qt::Checked);
      // Weekly without a day would never fire.
      dialog.Weekly()->days[0]->setChecked(false);
      QVERIFY(!dialog.TryAccept());
      QVERIFY(Sink().Saw(wt::LangText("Message", 1601)));
      dialog.Weekly()->days[0]->setChecked(true);
      QVERIFY(dialog.TryAccept());
    }
    QCOMPARE(Key("Timing"), std::string("1"));
    QCOMPARE(Key("DiscType"), std::string("1"));
    QCOMPARE(Key("FType"), std::string("3"));
    QCOMPARE(Key("Time3"), std::string("1, 20:30:0"));
    QCOMPARE(Key("Time1"), std::string(""));
    QCOMPARE(Key("Time4"), std::string(""));
    QCOMPARE(Key("CloseDisc"), std::string("1"));
    QCOMPARE(Key("AfterBurning"), std::string("2"));
    QCOMPARE(Key("SelectRecoder"), std::string("E,"));

    // Opened again, it shows what is stored.
    SetKey("FType", "4");
    SetKey("Time4", "30 8:15:0");
    SetKey("SelectRecoder", "D,E,");
    CDlgTimeSet again(recorders, {});
    QVERIFY(again.TimingBox()->isChecked());
    QVERIFY(again.KindButton(schedule::kMonthly)->isChecked());
    QCOMPARE(again.Pages()->currentWidget(), static_cast<QWidget*>(again.Monthly()));
    QCOMPARE(again.Monthly()->day->currentText(), QString("31"));
    QCOMPARE(again.Monthly()->time->time(), QTime(8, 15));
    QCOMPARE(again.RecorderList()->item(0)->checkState(), Qt::Checked);
    QCOMPARE(again.RecorderList()->item(1)->checkState(), Qt::Checked);
    QCOMPARE(again.AfterBurnCombo()->currentIndex(), 2);
    // Switched off, it needs no recorder and keeps nothing running.
    again.TimingBox()->setChecked(false);
    again.RecorderList()->item(0)->setCheckState(Qt::Unchecked);
    again.RecorderList()->item(1)->setCheckState(Qt::Unchecked);
    QVERIFY(again.TryAccept());
    QCOMPARE(Key("Timing"), std::string("0"));
  }

  void TheScheduleButtonOpensTheDialogAndArmsTheCheck() {
    const QString folder = wt::NewTempFolder("button");
    std::string error;
    const int index = FirstFreeRecorderIndex(3);
    QVERIFY2(OpenVirtualRecorder("virtual:" + (folder + "/disc.vdisc").toStdString() + ":cd-r", &error), error.c_str());
    auto layer = std::make_shared<CommandLayerRecorders>();
    CPlomeDlg w(layer);
    w.show();
    w.Initialise();  // the recorders are read after the first paint
    QVERIFY(!w.ScheduleTimer()->isActive());  // nothing stored: no check
    QVERIFY(w.Button(1144)->isEnabled());
    QObject::connect(&w, &CPlomeDlg::DialogOpened, &w, [](QDialog* d) {
      auto* dialog = qobject_cast<CDlgTimeSet*>(d);
      if (!dialog) return;
      QTimer::singleShot(0, dialog, [dialog] {
        dialog->TimingBox()->setChecked(true);
        dialog->KindButton(schedule::kDaily)->click();
        dialog->RecorderList()->item(0)->setCheckState(Qt::Checked);
        if (dialog->TryAccept()) dialog->accept();
        else dialog->reject();
      });
    });
    w.Button(1144)->click();
    QCOMPARE(Key("Timing"), std::string("1"));
    QCOMPARE(Key("FType"), std::string("2"));
    QCOMPARE(Key("DiscType"), std::string("0"));  // the default, the audio CD, which this version burns
    QCOMPARE(Key("SelectRecoder"), std::string(1, char('A' + index)) + ",");
    QVERIFY(w.ScheduleTimer()->isActive());
    QCOMPARE(w.ScheduleTimer()->interval(), 30000);
    // Stored on: a new window arms the check as it starts.
    SetKey("Timing", "1");
    CPlomeDlg started(layer);
    started.show();
    started.Initialise();  // the recorders are read after the first paint
    QVERIFY(started.ScheduleTimer()->isActive());
    QCOMPARE(started.ScheduleTimer()->interval(), 30000);
    RemoveRecorder(index);
  }

  // The program's own run of the main window: nothing but the schedule is
  // open, so a due schedule burns. The test's clock says when it is, and the
  // run ends after the third check.
  void TheRunningProgramBurnsWhenTheScheduleIsDue() {
    const QString folder = wt::NewTempFolder("running");
    std::string error;
    const int index = FirstFreeRecorderIndex(3);
    QVERIFY2(OpenVirtualRecorder("virtual:" + (folder + "/disc.vdisc").toStdString() + ":cd-r", &error), error.c_str());
    struct Removed {
      int index;
      ~Removed() { RemoveRecorder(index); }
    } removed{index};
    auto layer = std::make_shared<CommandLayerRecorders>();
    CPlomeDlg w(layer);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    const QString src = wt::NewTempFolder("runningsrc");
    wt::WriteFile(src + "/today.txt", QByteArray(40000, 't'));
    QVERIFY(w.DataWindow(CPlomeDlg::kDataDisc)->AddPaths({src + "/today.txt"}));
    SetKey("Timing", "1");
    SetKey("DiscType", "1");
    SetKey("FType", "1");
    SetKey("Time1", "2026.12.9 14:12:0");
    SetKey("CloseDisc", "1");
    SetKey("AfterBurning", "0");
    SetKey("SelectRecoder", std::string(1, char('A' + index)) + ",");
    int checks = 0;
    bool modalAtFirstCheck = true;
    w.SetClock([&] {
      if (++checks == 1) modalAtFirstCheck = QApplication::activeModalWidget() != nullptr;
      if (checks == 3) QCoreApplication::exit(0);
      return At(9, 14, 12, 5, 3);
    });
    w.SetSchedulePeriod(0);
    int burns = 0;
    QObject::connect(&w, &CPlomeDlg::DialogOpened, &w, [&](QDialog* d) {
      if (qobject_cast<CDlgProgress1*>(d)) ++burns;
    });
    Sink().Clear();
    CPlomeApp::RunMainWindow(w);
    QVERIFY(!modalAtFirstCheck);
    QCOMPARE(checks, 3);
    QCOMPARE(burns, 1);
    QCOMPARE(w.LastBurnResult(), result::kSuccess);
    QVERIFY(Sink().Saw(wt::LangText("Message", 40)));
    DiscInfo info;
    layer->Eject(uint8_t(index), false);
    QCOMPARE(layer->GetDiscInfoEx(uint8_t(index), &info), result::kSuccess);
    QVERIFY(!info.blank);
    w.hide();
  }

  void ADueScheduleBurnsOncePerMinuteAndActsAfterwards() {
    const QString folder = wt::NewTempFolder("schedule");
    std::string error;
    const int index = FirstFreeRecorderIndex(3);
    QVERIFY2(OpenVirtualRecorder("virtual:" + (folder + "/disc.vdisc").toStdString() + ":cd-r", &error), error.c_str());
    auto layer = std::make_shared<CommandLayerRecorders>();
    CPlomeDlg w(layer);
    w.FillRecorderLists();
    w.SwitchMode(CPlomeDlg::kDataDisc);
    const QString src = wt::NewTempFolder("schedsrc");
    wt::WriteFile(src + "/nightly.txt", QByteArray(50000, 'n'));
    QVERIFY(w.DataWindow(CPlomeDlg::kDataDisc)->AddPaths({src + "/nightly.txt"}));
    // The MP3 mode is shown when the time comes; the schedule switches back.
    w.SwitchMode(CPlomeDlg::kMp3Disc);
    const char letter = char('A' + index);
    SetKey("Timing", "1");
    SetKey("DiscType", "1");
    SetKey("FType", "2");
    SetKey("Time2", "20:30:0");
    SetKey("CloseDisc", "0");
    SetKey("AfterBurning", "3");
    SetKey("SelectRecoder", std::string(1, letter) + ",");
    schedule::LocalTime now = At(8, 20, 29, 40, 2);
    w.SetClock([&] { return now; });
    int burns = 0;
    QObject::connect(&w, &CPlomeDlg::DialogOpened, &w, [&](QDialog*) { ++burns; });

    // Not yet.
    w.OnScheduleTimer();
    QCOMPARE(burns, 0);
    QVERIFY(w.ScheduleTimer()->isActive());
    // Due: the data project goes onto the recorder of the schedule.
    now = At(8, 20, 30, 10, 2);
    w.OnScheduleTimer();
    QCOMPARE(burns, 1);
    QCOMPARE(w.Mode(), int(CPlomeDlg::kDataDisc));
    QVERIFY2(Sink().Saw(wt::LangText("Message", 40)), Sink().Texts().empty() ? "" : Sink().Texts().back().c_str());
    QCOMPARE(w.LastBurnResult(), result::kSuccess);
    QCOMPARE(wt::PowerLog().calls, QStringList{"PowerOff"});
    QVERIFY(w.ScheduleTimer()->isActive());
    DiscInfo info;
    layer->Eject(uint8_t(index), false);
    QCOMPARE(layer->GetDiscInfoEx(uint8_t(index), &info), result::kSuccess);
    QVERIFY(!info.blank);
    QVERIFY(info.writable);  // not closed, as stored
    // The next check in the same minute does not burn again.
    now = At(8, 20, 30, 40, 2);
    w.OnScheduleTimer();
    QCOMPARE(burns, 1);
    // The next day at the same time it does: the disc takes another session.
    wt::PowerLog().calls.clear();
    Sink().Clear();
    now = At(9, 20, 30, 5, 3);
    w.OnScheduleTimer();
    QCOMPARE(burns, 2);
    QVERIFY(Sink().Saw(wt::LangText("Message", 40)));
    QCOMPARE(wt::PowerLog().calls, QStringList{"PowerOff"});
    // No disc when it is due: told, nothing burnt, the check goes on.
    wt::PowerLog().calls.clear();
    Sink().Clear();
    layer->Eject(uint8_t(index), true);
    now = At(10, 20, 30, 5, 4);
    w.OnScheduleTimer();
    QCOMPARE(burns, 2);
    QVERIFY(Sink().Saw(wt::LangText("Message", 1)));
    QCOMPARE(wt::PowerLog().calls, QStringList{});
    QVERIFY(w.ScheduleTimer()->isActive());
    // Switched off: the check stops.
    SetKey("Timing", "0");
    now = At(11, 20, 30, 5, 5);
    w.OnScheduleTimer();
    QCOMPARE(burns, 2);
    QVERIFY(!w.ScheduleTimer()->isActive());
    RemoveRecorder(index);
  }
};

int RunScheduleWindowTests(int argc, char** argv) {
  ScheduleWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ScheduleWindowTest.moc"
