#include "app/ui/SaveAudioTracks.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

#include "AudioTrackRange.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "CAuEncode.h"
#include "CDevCmdROM.h"
#include "SafeFile.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"
#include "BurnCtrl/TrackExtract.h"

namespace {

constexpr int kTitleSaveTrack = 1280;   // [UIText] the save dialog's title
constexpr int kSavingFiles = 1281;      // [UIText] "Saving files..."
constexpr int kTrackOf = 1282;          // [UIText] "Track %1 of %2: %3"
constexpr int kCannotCreate = 34;       // [Message] the target cannot be created
constexpr int kReplaceOthers = 1440;    // [Message] replace the files of the further tracks?
constexpr int kTracksSaved = 1441;      // [Message] the tracks were saved
constexpr int kNotSaved = 1442;         // [Message] a track was not saved
constexpr int kStopSaving = 1443;       // [Message] Cancel's question

struct Job {
  AudioTrackRange range;
  std::string title;
  std::string path;
};

// Sectors, numbers and CD-Text titles of the tracks; false (the user told)
// when one of them is not an audio track of the disc.
bool PlanTracks(CDevCmdROM& drive, const std::vector<int>& tracks, std::vector<Job>& jobs) {
  SessionInfo disc;
  std::string why;
  auto text = std::make_unique<FS_CDTEXT_INFO>();
  bool haveText = false;
  bool ok = RunOffWindowThread([&] {
    if (!ReadDiscSessions(drive, disc, &why)) return false;
    haveText = drive.GetCDText(*text) == DEV_OK;
    return true;
  });
  for (int t : tracks) {
    Job job;
    if (ok && !FindAudioTrack(disc, t, job.range, &why)) ok = false;
    if (!ok) break;
    if (haveText && t >= 1 && t <= 99) job.title = CdTextToUtf8(text->Tracks[t].szTitle, sizeof text->Tracks[t].szTitle);
    jobs.push_back(job);
  }
  if (!ok || jobs.empty()) {
    ShowMessage(LoadErrorText(result::kNoAudioTrack) + (why.empty() ? "" : "\n" + why), msgbox::kErrorOk);
    return false;
  }
  return true;
}

// The files: the first as the user chose it, the others beside it.
bool ChooseTargets(QWidget* parent, std::vector<Job>& jobs) {
  const QString chosen = Files()->SaveFile(parent, Tr("UIText", kTitleSaveTrack),
                                           "Mp3 files(*.mp3)|*.mp3|Wav files(*.wav)|*.wav||",
                                           QString::fromStdString(TrackFileName(jobs[0].range.track, jobs[0].title, "mp3")),
                                           "mp3");
  if (chosen.isEmpty()) return false;
  const QFileInfo first(chosen);
  const std::string extension = first.suffix().compare("wav", Qt::CaseInsensitive) == 0 ? "wav" : "mp3";
  jobs[0].path = chosen.toStdString();
  std::string inTheWay;
  for (size_t i = 1; i < jobs.size(); ++i) {
    jobs[i].path = (first.absolutePath() + "/").toStdString() + TrackFileName(jobs[i].range.track, jobs[i].title, extension);
    if (!OutputInTheWay(jobs[i].path, Existing::kKeep).empty()) inTheWay += "\n" + jobs[i].path;
  }
  // The dialog asked about the first file; the others are asked about here.
  if (!inTheWay.empty() &&
      ShowMessage(LoadLangText("Message", kReplaceOthers) + inTheWay, msgbox::kQuestionYesNo) != msgbox::kYes)
    return false;
  std::string why;
  if (!TargetCanBeCreated(jobs[0].path, &why)) {
    ShowMessage(LoadLangText("Message", kCannotCreate) + "\n" + why, msgbox::kInfoOk);
    return false;
  }
  return true;
}

// One track with its progress window: the result code.
int SaveOne(QWidget* parent, CDevCmdROM& drive, CAuEncode& encoder, const Job& job, size_t index, size_t count,
            std::string& why) {
  std::atomic<bool> finished{false};
  bool ok = false;
  std::thread worker([&] {
    ok = encoder.Encode(&drive, job.range.start, job.range.end, job.path.c_str());
    finished = true;
  });
  CDlgProgress1 progress(parent);
  progress.setObjectName("SaveAudioProgress");
  progress.SetCaption(Tr("UIText", kSavingFiles));
  progress.SetDisplay(true, false);
  progress.SetCancelQuestion(LoadLangText("Message", kStopSaving));
  const uint64_t total = uint64_t(job.range.Sectors()) * 2352;
  QElapsedTimer clock;
  clock.start();
  QTimer timer;
  timer.setInterval(100);
  QObject::connect(&timer, &QTimer::timeout, &progress, [&] {
    if (finished) return progress.CloseWithOk();
    const int perMille = encoder.GetEncodeProgress();
    progress.SetPos(perMille / 10, 0);
    progress.SetStatus(Tr("UIText", kTrackOf)
                           .arg(index + 1)
                           .arg(count)
                           .arg(QString::fromStdString(job.path)));
    const uint64_t done = total * uint64_t(perMille) / CAuEncode::kProgressScale;
    const double seconds = clock.elapsed() / 1000.0;
    const double speed = seconds > 0.5 ? done / seconds : 0;
    progress.SetFigures(done, total, speed, 176400.0, speed > 0 ? int64_t((total - done) / speed) : -1, -1);
  });
  timer.start();
  const bool cancelled = progress.exec() != QDialog::Accepted;
  timer.stop();
  if (cancelled) encoder.EncodeStop();
  RunOffWindowThread([&] { worker.join(); });
  why = encoder.LastErrorText();
  return ExtractResult(ok, encoder.LastError());
}

}  // namespace

bool SaveAudioTracks(QWidget* parent, CDevCmdROM& drive, const std::vector<int>& tracks) {
  CAuEncode encoder;
  return SaveAudioTracks(parent, drive, tracks, encoder);
}

bool SaveAudioTracks(QWidget* parent, CDevCmdROM& drive, const std::vector<int>& tracks, CAuEncode& encoder) {
  if (tracks.empty()) return false;
  std::vector<Job> jobs;
  if (!PlanTracks(drive, tracks, jobs) || !ChooseTargets(parent, jobs)) return false;
  encoder.SetExisting(Existing::kReplace);  // the user was asked about every file in the way
  std::string saved;
  for (size_t i = 0; i < jobs.size(); ++i) {
    std::string why;
    const int code = SaveOne(parent, drive, encoder, jobs[i], i, jobs.size(), why);
    if (code == result::kExtractStopped) {
      ShowMessage(LoadErrorText(code), msgbox::kInfoOk);
      return false;
    }
    if (code != result::kSuccess) {
      ShowMessage(LoadLangText("Message", kNotSaved) + "\n" + LoadErrorText(code) + (why.empty() ? "" : "\n" + why),
                  msgbox::kErrorOk);
      return false;
    }
    saved += "\n" + jobs[i].path;
  }
  ShowMessage(LoadLangText("Message", kTracksSaved) + saved, msgbox::kInfoOk);
  return true;
}
