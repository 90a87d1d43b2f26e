// The main window's side of the hand-over socket: only this user's
// well-formed messages reach the project.

#include <QCoreApplication>
#include <QDir>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "app/HandOver.h"
#include "app/CommandLayerRecorders.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CPlomeDlg.h"
#include "app/ui/HandOverServer.h"

namespace {

// Serves the window's events until `pid` ends; its exit status.
int WaitServing(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 1 and the reply byte when one came, 0 when the connection was closed.
QByteArray Exchange(const QString& path, const std::string& bytes) {
  QLocalSocket socket;
  socket.connectToServer(path);
  if (!socket.waitForConnected(-1)) return "no connection";
  socket.write(bytes.data(), qint64(bytes.size()));
  socket.flush();
  QByteArray reply;
  while (reply.isEmpty() && socket.state() == QLocalSocket::ConnectedState) {
    socket.waitForReadyRead(20);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    reply += socket.readAll();
  }
  return reply;
}

}  // namespace

class ShellHandOverTest : public QObject {
  Q_OBJECT
 private slots:
  // Paths that are gone by the time they arrive are refused at once, so the
  // sender is never held by a box; one summary then names them all. The
  // project stays as it was.
  void MissingPathsAreRefusedWithOneSummary() {
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    wt::Sink().Clear();
    const QString folder = wt::NewTempFolder("gone");
    const QStringList missing = {folder + "/holiday.mpg", folder + "/notes.txt", folder + "/photos"};
    for (const QString& path : missing) QVERIFY(!w.AddFromShell(102, path));
    QCOMPARE(wt::Sink().Count(), 0);
    w.ShowHandOverReport();
    QCOMPARE(wt::Sink().Count(), 1);
    for (const QString& path : missing)
      QVERIFY2(wt::Sink().Saw(path), wt::Sink().Texts().empty() ? "no message" : wt::Sink().Texts().back().c_str());
    QVERIFY(w.DataWindow(CPlomeDlg::kDataDisc)->IsEmpty());
    w.ShowHandOverReport();  // told once
    QCOMPARE(wt::Sink().Count(), 1);
  }

  // The close request of the updater is answered with what the user chose:
  // a user who keeps the window (Cancel on the save question) is answered
  // "not closing", after answering.
  void TheCloseRequestAnswersWithTheUsersChoice() {
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    w.show();
    w.Initialise();  // the recorders are read after the first paint
    const QString file = wt::NewTempFolder("close") + "/kept.txt";
    wt::WriteFile(file, "kept\n");
    QVERIFY(w.AddFromShell(102, file));
    wt::Sink().Clear();
    wt::Sink().Answer({msgbox::kCancel});
    QVERIFY(!w.AddFromShell(int(handover::kCloseCommand), QString()));
    QCOMPARE(wt::Sink().Count(), 1);  // the question came before the answer
    QVERIFY(w.isVisible());
    wt::Sink().Answer({msgbox::kNo});
    QVERIFY(w.AddFromShell(int(handover::kCloseCommand), QString()));
    QVERIFY(!w.isVisible());
  }

  // The video disc commands reach the video disc windows, with their own
  // mode button lit, never a data window that is not there.
  void VideoDiscCommandsGoToTheVideoWindows() {
    CPlomeDlg w(std::make_shared<CommandLayerRecorders>());
    const QString missing = wt::NewTempFolder("video") + "/holiday.mpg";
    const int commands[] = {104, 105, 106};
    const int modes[] = {CPlomeDlg::kVcd, CPlomeDlg::kSvcd, CPlomeDlg::kDvd};
    for (int i = 0; i < 3; ++i) {
      wt::Sink().Clear();
      QVERIFY(!w.AddFromShell(commands[i], missing));
      QCOMPARE(w.Mode(), modes[i]);
      QCOMPARE(w.HighlightedModeButton(), 3 + i);
      QVERIFY(w.VideoWindow()->IsEmpty());
    }
  }

  void OnlyThisUsersWellFormedMessagesArrive() {
    QStringList got;
    HandOverServer server([&](int command, const QString& path) {
      got << QString::number(command) + " " + path;
      return true;
    });
    // Outside the tests' private folder, so that another user can reach it.
    QTemporaryDir folder("/tmp/varnex-handover-XXXXXX");
    QVERIFY(folder.isValid());
    chmod(folder.path().toUtf8().constData(), 0755);
    const QString path = folder.path() + "/socket";
    QVERIFY(server.Listen(path));

    QCOMPARE(Exchange(path, handover::Encode(102, "/home/me/photos")), QByteArray("\x01", 1));
    QCOMPARE(got, QStringList{"102 /home/me/photos"});
    // A command outside 101-106 is answered "not taken".
    QCOMPARE(Exchange(path, handover::Encode(107, "/x")), QByteArray("\x00", 1));
    // A message that cannot be one ends the connection.
    QCOMPARE(Exchange(path, handover::Encode(102, "")), QByteArray());
    QCOMPARE(got.size(), 1);

    if (getuid() != 0) QSKIP("needs root to connect as another user");
    chmod(path.toUtf8().constData(), 0777);
    const std::string message = handover::Encode(102, "/tmp");
    const QByteArray socketPath = path.toUtf8();
    pid_t child = fork();
    if (child == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
      int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.constData());
      if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(4);
      if (send(fd, message.data(), message.size(), MSG_NOSIGNAL) < 0) _exit(20);  // already shut out
      char reply;
      _exit(read(fd, &reply, 1) == 1 ? 10 : 20);
    }
    QCOMPARE(WaitServing(child), 20);
    QCOMPARE(got.size(), 1);
  }
};

int RunShellHandOverTests(int argc, char** argv) {
  ShellHandOverTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ShellHandOverTest.moc"
