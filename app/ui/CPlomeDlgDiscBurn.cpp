// Burning an audio CD or a video disc, and copying a disc: what each needs
// in the recorder before its burn settings.

#include "app/ui/CPlomeDlg.h"

#include <QComboBox>

#include "BurnCtrl/Results.h"
#include "app/ui/CDlgAudioCD.h"
#include "app/ui/CDlgDiscCopy.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CPlomeDlgIds.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"

using namespace plome;

// The disc copy runs with its own progress window; the recorder list names
// the target.
void CPlomeDlg::BurnCopy() {
  const int target = SelectedDrive();
  if (target < 1) {
    ShowMessage(LoadLangText("Message", 16), msgbox::kInfoOk);
    return;
  }
  finished_ = false;
  CopyWindow()->StartCopy(target);
  finished_ = true;
  ShowDiscStatus();
}

// An audio CD goes onto a blank CD; its tracks are converted when the burn
// starts.
void CPlomeDlg::BurnAudio() {
  const int drive = SelectedDrive();
  if (recorderList_->count() == 0 || drive < 0) {
    ShowMessage(LoadLangText("Message", 16), msgbox::kInfoOk);
    return;
  }
  DiscInfo disc;
  if (CheckAudioBurn(drive, &disc)) BurnOnOneRecorder(drive, disc);
}

// A disc that passed its checks goes to the one recorder after the burn
// settings.
void CPlomeDlg::BurnOnOneRecorder(int drive, const DiscInfo& disc) {
  burnMedium_ = disc.mediumType;
  copies_ = 1;
  recorderCount_ = 1;
  recorderListText_.clear();
  if (!RunBurnSettings(drive, false)) return;
  StartBurn();
}

void CPlomeDlg::BurnVideo() {
  if (VideoWindow()->IsEmpty()) {
    ShowMessage(LoadErrorText(result::kEmptyProject), msgbox::kInfoOk);
    return;
  }
  // A video disc is written onto a recorder, never into an image file.
  const int drive = SelectedDrive();
  if (ImageEntrySelected() || recorderList_->count() == 0 || drive < 0) {
    ShowMessage(LoadLangText("Message", 16), msgbox::kInfoOk);
    return;
  }
  DiscInfo disc;
  if (CheckVideoBurn(drive, &disc)) BurnOnOneRecorder(drive, disc);
}

// The disc in the drive is of the kind the project needs: a blank CD-R or
// CD-RW, or for a DVD-Video a writable DVD that is blank or rewritable in
// place. Anything else is ejected, and `wrongKind` (a "Message" key) says why.
bool CPlomeDlg::CheckBlankDisc(int drive, DiscInfo* disc, bool dvd, int wrongKind) {
  enum Verdict { kGood, kNotReady, kWrongKind, kNotBlank };
  const Verdict v = RunOffWindowThread([&] {
    if (service_->TestUnitReady(uint8_t(drive)) != 0) return kNotReady;
    if (service_->GetDiscInfoEx(uint8_t(drive), disc) != result::kSuccess) return kNotReady;
    const int type = disc->mediumType;
    const bool kindOk = dvd ? medium::IsDvd(type) && disc->writable : medium::IsCd(type) && medium::IsWritable(type);
    const bool room = disc->blank || (dvd && medium::IsOverwritable(type));
    const Verdict verdict = !kindOk ? kWrongKind : !room ? kNotBlank : kGood;
    if (verdict != kGood) service_->Eject(uint8_t(drive), true);
    return verdict;
  });
  if (v != kGood) {
    // A disc of the right family that a stopped burn left unfinished, or
    // that is closed, says so rather than "wrong kind".
    const std::string why = v == kNotReady ? std::string() : DiscRefusal(*disc);
    const bool family = dvd ? medium::IsDvd(disc->mediumType) : medium::IsCd(disc->mediumType);
    ShowMessage(!why.empty() && family ? why : LoadLangText("Message", v == kNotReady ? 1 : v == kWrongKind ? wrongKind : 62),
                msgbox::kInfoOk);
    ShowDiscStatus();
    return false;
  }
  return true;
}

bool CPlomeDlg::CheckVideoBurn(int drive, DiscInfo* disc) {
  return CheckBlankDisc(drive, disc, mode_ == kDvd, mode_ == kDvd ? 1350 : 1300);
}

bool CPlomeDlg::CheckAudioBurn(int drive, DiscInfo* disc) {
  CDlgAudioCD* a = AudioWindow();
  if (a->IsEmpty()) {
    ShowMessage(LoadErrorText(result::kEmptyProject), msgbox::kInfoOk);
    return false;
  }
  if (!CheckBlankDisc(drive, disc, false, 18)) return false;
  if (disc->freeBytes < a->ProjectBytes()) {
    ShowMessage(LoadLangText("Message", 30), msgbox::kInfoOk);
    return false;
  }
  // Told before anything is converted: too much CD-Text, files for the
  // disc that are gone or do not fit beside the sound.
  if (const std::string why = a->Project().BurnRefusal(disc->freeBytes / 2352); !why.empty()) {
    ShowMessage(why, msgbox::kInfoOk);
    return false;
  }
  return true;
}
