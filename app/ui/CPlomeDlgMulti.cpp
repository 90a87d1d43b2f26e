// The project onto several recorders at once, each writing its copies.

#include "app/ui/CPlomeDlg.h"

#include <QTimer>

#include <chrono>
#include <thread>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/ui/CDlgProgressMulti.h"
#include "app/ui/CDlgAudioCD.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CPlomeDlgIds.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"

using namespace plome;

namespace {

// The command layer's own account of each recorder's burn.
BurnMultiRun::Hooks ServiceHooks(RecorderService* service) {
  BurnMultiRun::Hooks hooks;
  hooks.progress = [service](int d) { return service->GetDriveProgress(uint8_t(d)); };
  hooks.item = [service](int d) { return service->GetDriveItem(uint8_t(d)); };
  hooks.error = [service](int d) { return service->LastError(uint8_t(d)); };
  hooks.stop = [service](int d) { service->AbortWrite(uint8_t(d)); };
  hooks.reset = [service](int d) { service->ResetBurn(uint8_t(d)); };
  hooks.eject = [service](int d) {
    service->Lock(uint8_t(d), false);
    service->Eject(uint8_t(d), true);
  };
  hooks.nextDisc = [service](int d, int, const std::atomic<bool>& cancel) {
    // The row asks for the next blank disc; it is taken once it is in.
    while (!cancel) {
      DiscInfo info;
      if (service->TestUnitReady(uint8_t(d)) == 0 && service->GetDiscInfoEx(uint8_t(d), &info) == result::kSuccess &&
          info.blank && info.writable)
        return true;
      for (int i = 0; i < 10 && !cancel; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  };
  return hooks;
}

// A video disc project follows and stops its own burns, and judges the
// discs: every copy goes onto a blank CD-R or CD-RW; a DVD-Video onto a
// writable DVD, as the project judges it.
void AddVideoHooks(BurnMultiRun::Hooks* hooks, RecorderService* service, CVideoDiscProject* videoProject) {
  hooks->progress = [videoProject](int d) { return videoProject->GetBurnProgress(d); };
  hooks->item = [videoProject](int d) { return videoProject->GetWritingItemCaption(d); };
  hooks->error = [videoProject](int d) { return videoProject->LastError(d); };
  hooks->stop = [videoProject](int d) { videoProject->StopBurn(d); };
  hooks->checkDisc = [service, videoProject](int d) {
    if (videoProject->Mode() == CVideoDiscProject::kDvdVideo) return videoProject->CheckTarget(d);
    DiscInfo info;
    if (service->TestUnitReady(uint8_t(d)) != 0 || service->GetDiscInfoEx(uint8_t(d), &info) != result::kSuccess)
      return result::kNotReady;
    if (!medium::IsCd(info.mediumType) || !info.writable) return result::kTargetNotWritable;
    return info.blank ? result::kSuccess : result::kTargetNotBlank;
  };
}

}  // namespace

// What each recorder writes, and how the run is followed.
void CPlomeDlg::SetUpMultiBurn(CDlgProgressMulti* progress) {
  CDlgDataCD* w = DataWindow(mode_);
  CDlgAudioCD* audio = mode_ == kAudioCD ? AudioWindow() : nullptr;
  CDlgVideoDisc* video = VideoWindow();
  CVideoDiscProject* videoProject = video ? &video->Project() : nullptr;
  const bool fromImage = w && mode_ == kDataDisc && w->IsImageMode();
  const std::string source = !w ? std::string() : fromImage ? ToStd(w->GetImagePath()) : w->GetStagingRoot();
  if (mode_ == kMp3Disc) w->RewritePlaylist();
  const std::string label = w ? ToStd(w->GetVolumeLabel()) : std::string();
  const bool mp3 = mode_ == kMp3Disc, multisession = !closeDisc_;
  const uint8_t discOptions = w ? w->DiscOptions() : 0;
  service_->SetBootOptions(w && mode_ == kDataDisc && !fromImage ? w->Boot() : eltorito::BootOptions{});
  RecorderService* service = service_.get();

  std::map<int, QString> names;
  for (const QString& entry : recorders_) names[DriveIndexOfEntry(ToStd(entry))] = entry;
  progress->SetProject(video      ? (mode_ == kVcd    ? CDlgProgressMulti::kVideoCd
                                    : mode_ == kSvcd ? CDlgProgressMulti::kSuperVideoCd
                                                     : CDlgProgressMulti::kDvdVideo)
                       : audio    ? CDlgProgressMulti::kAudioCd
                       : fromImage ? CDlgProgressMulti::kDataOrImage
                                   : CDlgProgressMulti::kDataDisc,
                       copies_);
  progress->SetDriveSet(recorderListText_, names);
  // Audio tracks are converted once, then written to every recorder.
  if (audio) progress->SetPrepare([audio](const std::atomic<bool>& stop) { return audio->PrepareTracks(&stop); });
  // A video disc is converted and laid out once; every recorder then writes
  // it with a data source and a burn manager of its own.
  if (video) progress->SetPrepare([video](const std::atomic<bool>& stop) { return video->PrepareVideoDisc(&stop); });
  BurnMultiRun::Hooks hooks = ServiceHooks(service);
  if (!ejectWhenDone_) hooks.ejectLast = [](int) {};
  if (videoProject) AddVideoHooks(&hooks, service, videoProject);
  progress->SetBurn(
      [=](int d) {
        if (videoProject) return service->WriteVideoDisc(uint8_t(d), *videoProject, nullptr);
        if (audio) return audio->BurnTracks(service, uint8_t(d));
        if (fromImage) return service->WriteImageToCD(uint8_t(d), source, false);
        return service->WriteCd(uint8_t(d), source, label, multisession, mp3, discOptions);
      },
      hooks);
}

void CPlomeDlg::StartBurnMulti() {
  CDlgAudioCD* audio = mode_ == kAudioCD ? AudioWindow() : nullptr;
  CDlgVideoDisc* video = VideoWindow();
  CDlgProgressMulti progress(this);
  SetUpMultiBurn(&progress);
  finished_ = false;
  stop_ = false;
  multiProgress_ = &progress;
  emit DialogOpened(&progress);
  const bool done = progress.exec() == QDialog::Accepted;
  multiProgress_ = nullptr;
  finished_ = true;
  lastResult_ = progress.Result();
  if (audio) {
    audio->DeleteTempTracks();
    audio->RefreshList();
  }
  // The prepared video files go once every recorder has ended.
  if (video) {
    RunOffWindowThread([video] { return video->CleanUpVideoDisc(); });
    video->RefreshList();
  }
  RecorderService* service = service_.get();
  RunOffWindowThread([service] {
    service->DeleteTempFiles();
    return 0;
  });
  ReportBurnEnd(!done, LoadLangText("Message", 40), LoadLangText("Message", 1500) + "\n" + ToStd(progress.Summary()));
  ShowDiscStatus();
}
