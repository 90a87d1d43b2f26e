// The burn onto one recorder or an image file: the settings, the burn
// thread, its progress window and what follows it.

#include "app/ui/CPlomeDlg.h"

#include <QComboBox>
#include <QDateTime>
#include <QTimer>

#include <chrono>
#include <thread>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "app/SpeedList.h"
#include "app/ui/CDlgAudioCD.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CPlomeDlgIds.h"
#include "authoring/ProjectFile.h"
#include "app/ui/PowerControl.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"
#include "media/ToolProcess.h"

using namespace plome;

// The burn settings dialog; its speed goes to every recorder it names.
// `closeDiscChoice`: the user may leave the disc open for another session.
// False when the user cancelled it.
bool CPlomeDlg::RunBurnSettings(int drive, bool closeDiscChoice) {
  CDlgBurnSet settings(service_.get(), this);
  settings.SetMainDrive(uint8_t(drive));
  settings.SetRecorders(recorders_);
  if (closeDiscChoice) settings.SetCloseDisc(false, true);
  else settings.SetCloseDisc(true, false);
  CDlgDataCD* data = mode_ == kDataDisc ? DataWindow(mode_) : nullptr;
  if (data && !data->IsImageMode()) {
    settings.SetRockRidge(!(data->DiscOptions() & project::kNoRockRidge));
    settings.SetBoot(data->Boot());
  }
  emit DialogOpened(&settings);
  if (settings.exec() != QDialog::Accepted) return false;
  afterAction_ = settings.AfterBurnAction();
  ejectWhenDone_ = settings.EjectWhenDone();
  if (data && !data->IsImageMode()) data->SetBoot(settings.Boot());
  if (data)
    data->SetDiscOptions(settings.RockRidge() ? uint8_t(data->DiscOptions() & ~project::kNoRockRidge)
                                              : uint8_t(data->DiscOptions() | project::kNoRockRidge));
  service_->SetVerifyAfterBurn(settings.VerifyAfterBurn());
  closeDisc_ = settings.CloseDisc();
  copies_ = settings.Copies();
  recorderCount_ = settings.RecorderCount();
  recorderListText_ = settings.RecorderListText();
  if (const int factor = ChosenSpeedFactor(); !recorderListText_.isEmpty() && factor > 0) {
    const QStringList drives = recorderListText_.split(',', Qt::SkipEmptyParts);
    RunOffWindowThread([&] {
      for (const QString& d : drives) {
        uint8_t index = uint8_t(d.toInt());
        DiscInfo info;
        int unit = service_->GetDiscInfoEx(index, &info) == result::kSuccess && !medium::IsCd(info.mediumType)
                       ? kDvdUnitSpeed : kCdUnitSpeed;
        service_->SetWriteSpeed(index, factor * unit);
      }
      return 0;
    });
  }
  return true;
}

bool CPlomeDlg::AskOnWindow(int rc, const std::string& detail, int drive) {
  std::string text = LoadErrorText(rc);
  if (!detail.empty()) text += "\n" + detail;
  // Writing the same project onto the same disc again cannot make it fit;
  // the end of the burn says why it did not complete.
  if (rc == result::kDoesNotFit) return false;
  // A failed burn usually leaves a write-once disc unfinished: the same copy
  // again needs another disc, so the question asks for one and the disc
  // comes out.
  DiscInfo disc;
  if (drive >= 0 && service_->GetDiscInfoEx(uint8_t(drive), &disc) == result::kSuccess &&
      !medium::TakesData(disc.state)) {
    service_->Eject(uint8_t(drive), true);
    text += "\n\n" + ToStd(Tr("Message", 1028).arg(QString::fromStdString(DiscRefusal(disc))));
    if (ShowMessage(text, msgbox::kErrorOkCancel) != msgbox::kOk) return false;
    WaitForDisc(uint8_t(drive));
    return !stop_;
  }
  text += "\n\n" + LoadLangText("Message", 59);
  return ShowMessage(text, msgbox::kErrorOkCancel) == msgbox::kOk;
}

void CPlomeDlg::WaitForDisc(uint8_t drive) {
  while (!stop_ && service_->TestUnitReady(drive) != 0)
    for (int i = 0; i < 10 && !stop_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void CPlomeDlg::BurnThread(int mode, uint8_t drive, bool imageDevice, bool fromImage, std::string source,
                           std::string label, bool closeDisc, int copies) {
  preparing_ = true;
  CDlgAudioCD* audio = mode == kAudioCD ? AudioWindow() : nullptr;
  CDlgVideoDisc* video =
      mode == kVcd || mode == kSvcd || mode == kDvd ? qobject_cast<CDlgVideoDisc*>(pages_[size_t(mode)]) : nullptr;
  // A video disc converts its items and lays the disc out first.
  if (video) {
    int rc = video->PrepareVideoDisc(&stop_);
    preparing_ = false;
    if (rc == result::kSuccess) rc = service_->WriteVideoDisc(drive, video->Project(), &stop_);
    if (rc != result::kSuccess) {
      std::lock_guard<std::mutex> hold(lastErrorLock_);
      lastError_ = video->LastError().toStdString();
    }
    lastResult_ = rc;
    video->CleanUpVideoDisc();
    finished_ = true;
    return;
  }
  // An audio CD converts its rows first; a data project needs no
  // preparation, its layout is made by the write.
  if (audio) {
    const int rc = audio->PrepareTracks(&stop_);
    if (rc != result::kSuccess) {
      lastResult_ = rc;
      audio->DeleteTempTracks();
      service_->DeleteTempFiles();
      finished_ = true;
      return;
    }
  }
  preparing_ = false;
  int last = result::kNothingDone;
  for (int copy = 1; copy <= copies && !finished_ && !stop_; ++copy) {
    copyNo_ = copy;
    int rc = audio       ? audio->BurnTracks(service_.get(), drive)
             : fromImage ? service_->WriteImageToCD(drive, source, false)
                         : service_->WriteCd(drive, source, label, !closeDisc, mode == kMp3Disc, burnDiscOptions_);
    const std::string detail = rc == result::kSuccess ? std::string() : service_->LastError(drive);
    service_->ResetBurn(drive);
    last = rc;
    if (rc != result::kSuccess) {
      {
        std::lock_guard<std::mutex> hold(lastErrorLock_);
        lastError_ = detail;
      }
      if (stop_) break;
      if (!AskOnWindow(rc, detail, imageDevice ? -1 : drive)) break;
      --copy;  // the same copy again
      continue;
    }
    if (imageDevice) continue;
    if (copy < copies) {
      // The next copy needs the next disc.
      service_->Lock(drive, false);
      service_->Eject(drive, true);
      ShowMessage(LoadLangText("Message", 55), msgbox::kInfoOk);
      WaitForDisc(drive);
    }
  }
  lastResult_ = stop_ && last == result::kSuccess && copyNo_ < copies ? result::kNothingDone : last;
  // The converted tracks go on every way out.
  if (audio) audio->DeleteTempTracks();
  service_->DeleteTempFiles();
  finished_ = true;
}

void CPlomeDlg::OnBurnTimer(CDlgProgress1* progress) {
  if (finished_) {
    progress->StopTimer();
    progress->CloseWithOk();
    return;
  }
  CDlgAudioCD* audio = mode_ == kAudioCD ? AudioWindow() : nullptr;
  if (CDlgVideoDisc* video = VideoWindow()) {
    // Converting and laying out, then the write with the item being written;
    // a DVD-Video names each step of its authoring tools as it runs.
    const bool steps = !preparing_ || mode_ == kDvd;
    const int percent = steps ? video->BurnProgress() : 0;
    progress->SetStatus(steps ? video->WritingCaption() : Tr("UIText", 13));
    progress->SetPos(percent, percent);
    return;
  }
  if (preparing_ && audio) {
    // Converting: the bar follows the rows converted, up to its middle.
    progress->SetStatus(audio->PreparingText());
    const int pos = std::min(50, audio->PreparingPercent() / 2);
    progress->SetPos(pos, pos);
    return;
  }
  if (preparing_) {
    progress->SetStatus(Tr("UIText", 13));
    qint64 seconds = (QDateTime::currentMSecsSinceEpoch() - burnStart_) / 1000;
    int pos = int(std::min<qint64>(50, seconds * 100 / 600 / 2));
    progress->SetPos(pos, pos);
    return;
  }
  // The read-back after the write: a phase of its own, with its own bar.
  if (const int verified = service_->VerifyPercent(burnDrive_); verified >= 0) {
    progress->SetStatus(Tr("UIText", 1410) + QString::asprintf("  %d%%", verified));
    progress->SetPos(verified, ((copyNo_ - 1) * 100 + verified) / std::max(1, copies_));
    return;
  }
  int percent = service_->GetDriveProgress(burnDrive_);
  QString item = QString::fromStdString(service_->GetDriveItem(burnDrive_));
  BurnFigures figures;
  if (service_->GetBurnFigures(burnDrive_, &figures)) {
    burnRate_.Add(QDateTime::currentMSecsSinceEpoch() - burnStart_, figures.bytesWritten);
    // An image file has no speed of its own to compare with.
    const double unit = ImageEntrySelected() ? 0 : UnitSpeed(burnMedium_);
    progress->SetFigures(figures.bytesWritten, figures.bytesTotal, burnRate_.BytesPerSecond(), unit,
                         burnRate_.SecondsLeft(figures.bytesTotal), figures.bufferPercent);
  }
  if (audio) {
    // The track being written is named by its source file.
    int value = 0;
    audio->GetWritingTrackCaption(service_.get(), burnDrive_, &item, &value);
  }
  progress->SetStatus(item);
  progress->SetCaption(LoadLangText("Message", 54).empty() ? Tr("UIText", 69)
                                                            : Tr("Message", 54) + QString::asprintf("   %d / %d", copyNo_.load(), copies_));
  progress->SetPos(percent, ((copyNo_ - 1) * 100 + percent) / std::max(1, copies_));
}

void CPlomeDlg::StartBurn() {
  CDlgDataCD* w = DataWindow(mode_);
  CDlgAudioCD* audio = mode_ == kAudioCD ? AudioWindow() : nullptr;
  if ((!w && !audio && !VideoWindow()) || !finished_) return;
  if (recorderCount_ > 1 && !ImageEntrySelected()) {
    StartBurnMulti();
    return;
  }
  // A scheduled burn goes to the recorders of the schedule, never to a file.
  const bool imageEntry = !scheduledBurn_ && ImageEntrySelected();
  burnDrive_ = uint8_t(imageEntry ? 0 : SelectedDrive());
  if (!imageEntry && !recorderListText_.isEmpty()) burnDrive_ = uint8_t(recorderListText_.split(',').first().toInt());
  const bool fromImage = w && mode_ == kDataDisc && w->IsImageMode();
  std::string source = !w ? std::string() : fromImage ? ToStd(w->GetImagePath()) : w->GetStagingRoot();
  if (mode_ == kMp3Disc) w->RewritePlaylist();
  std::string label = w ? ToStd(w->GetVolumeLabel()) : std::string();
  burnDiscOptions_ = w ? w->DiscOptions() : 0;
  service_->SetBootOptions(w && mode_ == kDataDisc && !fromImage ? w->Boot() : eltorito::BootOptions{});

  finished_ = false;
  stop_ = false;
  preparing_ = true;
  copyNo_ = 1;
  lastResult_ = result::kNothingDone;
  burnStart_ = QDateTime::currentMSecsSinceEpoch();
  burnRate_ = BurnRate();
  if (burnThread_.joinable()) burnThread_.join();
  burnThread_ = std::thread(&CPlomeDlg::BurnThread, this, mode_, burnDrive_, imageEntry, fromImage, source, label,
                            closeDisc_, copies_);
  const bool cancelled = FollowBurn();
  if (!imageEntry && ejectWhenDone_) RunOffWindowThread([this] {
    service_->Lock(burnDrive_, false);
    return service_->Eject(burnDrive_, true);
  });
  // Rows that could not be converted and were left out are gone.
  if (audio) audio->RefreshList();
  if (CDlgVideoDisc* v = VideoWindow()) v->RefreshList();
  std::string done = LoadLangText("Message", 40);
  if (imageEntry) done += "\n\n" + LoadLangText("Message", 1020) + "\n" + ToStd(burnImagePath_);
  std::string detail;
  {
    std::lock_guard<std::mutex> hold(lastErrorLock_);
    detail = lastError_;
  }
  // What the read-back found: "verified", or the first bad sector and its file.
  const std::string verdict = imageEntry ? std::string() : service_->VerifyResult(burnDrive_);
  if (!verdict.empty()) {
    done += "\n\n" + verdict;
    if (detail.find(verdict) == std::string::npos) detail += (detail.empty() ? "" : "\n") + verdict;
  }
  ReportBurnEnd(cancelled, done,
                LoadLangText("Message", 1007) + "\n" + LoadErrorText(lastResult_) + (detail.empty() ? "" : "\n" + detail));
  ShowDiscStatus();
}

// The progress window of the burn thread, until the thread has ended; true
// when the user stopped the burn.
bool CPlomeDlg::FollowBurn() {
  CDlgProgress1 progress(this);
  burnProgress_ = &progress;
  progress.SetCaption(Tr("Message", 54));
  progress.SetDisplay(true, copies_ > 1);
  QTimer timer1;
  timer1.setInterval(100);
  connect(&timer1, &QTimer::timeout, &progress, [&] { OnBurnTimer(&progress); });
  timer1.start();
  emit DialogOpened(&progress);
  const bool cancelled = progress.exec() != QDialog::Accepted;
  burnProgress_ = nullptr;
  timer1.stop();
  if (cancelled) {
    stop_ = true;
    // A converter, multiplexer or authoring tool of this burn ends at once.
    KillAllTools();
    service_->AbortWrite(burnDrive_);
  }
  // The burn thread ends on its own after a stop; wait for it without
  // blocking the window.
  RunOffWindowThread([this] {
    if (burnThread_.joinable()) burnThread_.join();
  });
  return cancelled;
}

// What the user is told once a burn has ended, and the action chosen for
// after burning.
void CPlomeDlg::ReportBurnEnd(bool cancelled, const std::string& doneText, const std::string& failedText) {
  if (closeAfterBurn_) {
    // The user chose to stop the burn and close the program.
    QTimer::singleShot(0, this, &QWidget::close);
  } else if (cancelled) {
    ShowMessage(LoadLangText("Message", 1010), msgbox::kInfoOk);
  } else if (lastResult_ == result::kSuccess) {
    // Nobody may be there to close the box after a scheduled burn: its
    // action does not wait for it.
    if (scheduledBurn_) AfterBurnAction();
    ShowMessage(doneText, msgbox::kInfoOk);
    if (!scheduledBurn_) AfterBurnAction();
  } else {
    ShowMessage(failedText, msgbox::kErrorOk);
  }
}

void CPlomeDlg::AfterBurnAction() {
  QString error;
  bool ok = true;
  switch (afterAction_) {
    case 1: ok = Power()->LogOff(&error); break;
    case 2: ok = Power()->Hibernate(&error); break;
    case 3: ok = Power()->PowerOff(&error); break;
    default: return;
  }
  if (!ok) ShowMessage(LoadLangText("Message", 1011) + "\n" + ToStd(error), msgbox::kErrorOk);
}
