// Saving audio tracks from the disc analysis window: two tracks of a pressed
// audio CD with CD-Text saved beside each other under their titles, a folder
// that cannot take the file refused with its message, and Cancel during the
// save leaving no file and the window usable.

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "ByteFields.h"
#include "CAuEncode.h"
#include "CDevCmdRW.h"
#include "VirtualRecorder.h"
#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "app/ui/SaveAudioTracks.h"

using wt::Sink;

namespace {

// A WAV of `seconds` with a pattern of its own per track.
QString MakeWav(const QString& path, double seconds, int seed) {
  const uint32_t frames = uint32_t(seconds * 44100);
  QByteArray wav(44 + int(frames) * 4, 0);
  uint8_t* h = reinterpret_cast<uint8_t*>(wav.data());
  std::memcpy(h, "RIFF", 4);
  bytes::PutLE32(h + 4, uint32_t(36 + frames * 4));
  std::memcpy(h + 8, "WAVEfmt ", 8);
  bytes::PutLE32(h + 16, 16);
  bytes::PutLE16(h + 20, 1);
  bytes::PutLE16(h + 22, 2);
  bytes::PutLE32(h + 24, 44100);
  bytes::PutLE32(h + 28, 44100 * 4);
  bytes::PutLE16(h + 32, 4);
  bytes::PutLE16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  bytes::PutLE32(h + 40, frames * 4);
  for (uint32_t i = 0; i < frames * 2; ++i) bytes::PutLE16(h + 44 + i * 2, uint16_t(i * (seed + 3) + seed));
  wt::WriteFile(path, wav);
  return path;
}

// The drive in front of the disc holds the reading of one sector until the
// encoder has been asked to stop.
class HeldDrive : public ScsiTransport {
 public:
  HeldDrive(std::unique_ptr<ScsiTransport> inner, uint32_t sector) : inner_(std::move(inner)), sector_(sector) {}
  bool Execute(ScsiCommand& c) override {
    if (c.opcode() == 0xBE && bytes::BE32(c.cdb + 2) <= sector_ && bytes::BE32(c.cdb + 2) + c.cdb[8] > sector_ && !passed_) {
      held_ = true;
      while (!(encoder_ && encoder_->StopRequested())) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      passed_ = true;
    }
    return inner_->Execute(c);
  }
  std::string Path() const override { return inner_->Path(); }
  std::atomic<bool> held_{false};
  CAuEncode* encoder_ = nullptr;

 private:
  std::unique_ptr<ScsiTransport> inner_;
  uint32_t sector_;
  bool passed_ = false;
};

class SaveAudioWindowTest : public QObject {
  Q_OBJECT
 private:
  QString dir_;
  QString state_;
  QByteArray pcm_[2];

  std::unique_ptr<ScsiTransport> Recorder() {
    auto r = std::make_unique<VirtualRecorder>();
    std::string error;
    if (!r->Open(state_.toStdString(), &error)) qFatal("%s", error.c_str());
    return r;
  }

 private slots:
  void initTestCase() {
    dir_ = wt::NewTempFolder("SaveAudio");
    const QString a = MakeWav(dir_ + "/a.wav", 1.5, 1), b = MakeWav(dir_ + "/b.wav", 2.0, 2);
    pcm_[0] = wt::ReadFile(a).mid(44);
    pcm_[1] = wt::ReadFile(b).mid(44);
    state_ = dir_ + "/disc.vdisc";
    std::string error;
    QVERIFY2(VirtualRecorder::CreatePressedAudio(state_.toStdString(),
                                                 {{a.toStdString(), "Dawn", "Ann"}, {b.toStdString(), "Dusk", "Bo"}},
                                                 "Day", "Various", &error),
             error.c_str());
  }
  void init() { Sink().Clear(); }

  void TwoTracksAreSavedBesideEachOtherUnderTheirTitles() {
    CDevCmdRW drive(Recorder(), 3);
    const QString out = wt::NewTempFolder("SaveAudioOut");
    wt::Chooser().next = {out + "/first.wav"};
    QWidget window;
    QVERIFY(SaveAudioTracks(&window, drive, {1, 2}));
    QCOMPARE(wt::Chooser().lastDefaultName, QString("01 Dawn.mp3"));
    const QByteArray first = wt::ReadFile(out + "/first.wav"), second = wt::ReadFile(out + "/02 Dusk.wav");
    QVERIFY2(first.mid(44).startsWith(pcm_[0]), "track 1 differs from its WAV");
    QVERIFY2(second.mid(44).startsWith(pcm_[1]), "track 2 differs from its WAV");
    QVERIFY(Sink().Saw(wt::LangText("Message", 1441)));
  }

  void AFolderThatCannotTakeTheFileIsRefusedAndNothingIsWritten() {
    CDevCmdRW drive(Recorder(), 3);
    wt::Chooser().next = {dir_ + "/no/such/folder/x.mp3"};
    QWidget window;
    QVERIFY(!SaveAudioTracks(&window, drive, {1}));
    QVERIFY(Sink().Saw(wt::LangText("Message", 34)));
    QCOMPARE(Sink().Count(), 1);
    // A data track, or no track, is refused with its reason.
    Sink().Clear();
    QVERIFY(!SaveAudioTracks(&window, drive, {7}));
    QVERIFY(Sink().Saw(ErrorText(-458)));
  }

  void CancelLeavesNoFileAndTheUsersFileUntouched() {
    auto* held = new HeldDrive(Recorder(), 60);
    CDevCmdRW drive(std::unique_ptr<ScsiTransport>(held), 3);
    CAuEncode encoder;
    held->encoder_ = &encoder;
    const QString out = wt::NewTempFolder("SaveAudioCancel");
    wt::WriteFile(out + "/mine.mp3", "the user's file");
    wt::Chooser().next = {out + "/mine.mp3"};  // the save dialog asked to replace it
    QWidget window;
    bool asked = false;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, [&] {
      auto* progress = qobject_cast<CDlgProgress1*>(QApplication::activeModalWidget());
      if (!progress || !held->held_ || asked) return;
      asked = true;
      Sink().Answer({msgbox::kYes});
      QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
    });
    poll.start();
    QVERIFY(!SaveAudioTracks(&window, drive, {1}, encoder));
    poll.stop();
    QVERIFY(asked);
    QVERIFY(Sink().Saw(wt::LangText("Message", 1443)));
    QVERIFY(Sink().Saw(ErrorText(-455)));
    QCOMPARE(wt::ReadFile(out + "/mine.mp3"), QByteArray("the user's file"));
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"mine.mp3"});
  }
};

}  // namespace

int RunSaveAudioWindowTests(int argc, char** argv) {
  SaveAudioWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "SaveAudioWindowTest.moc"
