// The manual as the main window opens it: F1 and the "?" button's Help item
// open the shipped manual at the page of the mode the window is in, F1 in a
// dialog at the dialog's page; the manual is well-formed HTML and every page
// it links to and every picture it shows is there.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "app/CommandLayerRecorders.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/CPlomeDlgIds.h"
#include "app/ui/CSkinBtn.h"
#include "foundation/ProgramDir.h"

namespace {

// The built manual (data/help) in the tests' program folder, as an
// installation has it beside the program.
QString InstallManual() {
  const QString from = QStringLiteral(VARNEX_BIN_DIR) + "/lang";
  const QString to = QString::fromStdString(GetProgramDir()) + "lang";
  QDir().mkpath(to + "/images");
  for (const QString& name : QDir(from).entryList(QDir::Files)) {
    QFile::remove(to + "/" + name);
    QFile::copy(from + "/" + name, to + "/" + name);
  }
  for (const QString& name : QDir(from + "/images").entryList(QDir::Files)) {
    QFile::remove(to + "/images/" + name);
    QFile::copy(from + "/images/" + name, to + "/images/" + name);
  }
  return to + "/Varnex-en.html";
}

QString ReadText(const QString& path) { return QString::fromUtf8(wt::ReadFile(path)); }

QMenu* OpenPopupMenu() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* menu = qobject_cast<QMenu*>(w); menu && menu->isVisible()) return menu;
  return nullptr;
}

}  // namespace

class HelpWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void F1AndTheHelpButtonOpenThePageOfTheCurrentMode() {
    const QString manual = InstallManual();
    const QString html = ReadText(manual);
    QVERIFY2(!html.isEmpty(), qPrintable(manual));
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    QList<QUrl> asked;
    w.SetUrlOpener([&asked](const QUrl& url) {
      asked << url;
      return true;
    });
    const std::pair<int, const char*> pages[] = {
        {CPlomeDlg::kAudioCD, "audio-cd"},           {CPlomeDlg::kMp3Disc, "mp3-disc"},
        {CPlomeDlg::kDataDisc, "data-disc"},         {CPlomeDlg::kVcd, "video-cd"},
        {CPlomeDlg::kSvcd, "super-video-cd"},        {CPlomeDlg::kDvd, "dvd-video"},
        {CPlomeDlg::kAnalyseDisc, "disc-analysis"},  {CPlomeDlg::kAnalyseSector, "sector-viewer"},
        {CPlomeDlg::kDeviceInfo, "device-info"},     {CPlomeDlg::kDiscCopy, "disc-copy"},
        {CPlomeDlg::kCheckDisc, "disc-check"}};
    for (const auto& [mode, page] : pages) {
      w.SwitchMode(mode);
      QCOMPARE(w.Mode(), mode);
      asked.clear();
      QTest::keyClick(&w, Qt::Key_F1);
      QCOMPARE(asked.size(), 1);
      QVERIFY(asked[0].isLocalFile());
      QCOMPARE(asked[0].toLocalFile(), manual);
      QCOMPARE(asked[0].fragment(), QString(page));
      QVERIFY2(html.contains(QString("id=\"%1\"").arg(page)), page);

      // The "?" button's menu: its first item is the help, at the same page.
      asked.clear();
      w.Button(plome::kIdHelp)->click();
      QMenu* menu = OpenPopupMenu();
      QVERIFY(menu);
      menu->actions().first()->trigger();
      menu->close();
      QCOMPARE(asked.size(), 1);
      QCOMPARE(asked[0].fragment(), QString(page));
    }
  }

  void F1InADialogOpensTheDialogsPage() {
    InstallManual();
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    QList<QUrl> asked;
    w.SetUrlOpener([&asked](const QUrl& url) {
      asked << url;
      return true;
    });
    QString shown;
    connect(&w, &CPlomeDlg::DialogOpened, &w, [&shown](QDialog* dialog) {
      QTimer::singleShot(0, dialog, [dialog, &shown] {
        shown = dialog->metaObject()->className();
        QTest::keyClick(dialog, Qt::Key_F1);
        dialog->reject();
      });
    });
    w.Button(plome::kIdSchedule)->click();
    QCOMPARE(shown, QString("CDlgTimeSet"));
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].fragment(), QString("schedule"));
  }

  void TheManualIsWellFormedAndEveryLinkAndPictureIsThere() {
    const QString manual = InstallManual();
    QProcess lint;
    lint.start("xmllint", {"--html", "--noout", manual});
    QVERIFY(lint.waitForFinished(-1));
    const QString said = QString::fromUtf8(lint.readAllStandardOutput() + lint.readAllStandardError());
    QVERIFY2(lint.exitCode() == 0 && said.isEmpty(), qPrintable(said));
    const QString html = ReadText(manual);
    int pictures = 0;
    const QRegularExpression src("src=\"([^\"]+)\"");
    for (auto it = src.globalMatch(html); it.hasNext(); ++pictures) {
      const QString file = QFileInfo(manual).path() + "/" + it.next().captured(1);
      QVERIFY2(QFileInfo(file).isFile() && QFileInfo(file).size() > 0, qPrintable(file));
    }
    QVERIFY2(pictures >= 10, "the manual shows the windows it describes");
    const QRegularExpression link("href=\"#([^\"]+)\"");
    for (auto it = link.globalMatch(html); it.hasNext();) {
      const QString target = it.next().captured(1);
      QVERIFY2(html.contains("id=\"" + target + "\""), qPrintable(target));
    }
    // The command line is pointed to, not repeated.
    QVERIFY(html.contains("man varnex"));
  }
};

int RunHelpWindowTests(int argc, char** argv) {
  HelpWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "HelpWindowTest.moc"
