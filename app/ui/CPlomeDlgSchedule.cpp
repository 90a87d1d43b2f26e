// Scheduled burning: the schedule dialog, the check that runs while the
// window is open, and the burn it starts.

#include "app/ui/CPlomeDlg.h"

#include <QApplication>
#include <QTimer>

#include "BurnCtrl/Results.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgTimeSet.h"
#include "app/ui/CPlomeDlgIds.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"

using namespace plome;

void CPlomeDlg::ShowSchedule() {
  if (!finished_ || eraseBusy_) return;
  // The schedule names its recorders: they must be known first.
  if (RefusedWhileLoading()) return;
  scheduleTimer_->stop();
  // The schedule's disc types are the project modes in their order.
  CDlgTimeSet dialog(recorders_, [this](int type) { return ModeAvailable(kProjectModes[type]); }, this);
  emit DialogOpened(&dialog);
  dialog.exec();
  ArmSchedule();
}

void CPlomeDlg::ArmSchedule() {
  if (schedule::LoadTimingSet(SettingsFilePath(), true).on) scheduleTimer_->start(schedulePeriod_);
  else scheduleTimer_->stop();
}

void CPlomeDlg::OnScheduleTimer() {
  scheduleTimer_->stop();
  const schedule::TimingSet set = schedule::LoadTimingSet(SettingsFilePath(), true);
  if (!set.on) return;
  const schedule::LocalTime now = clock_();
  // Busy with a burn, an erase or an open dialog: the check waits, as the
  // user's own work comes first.
  const bool busy = !finished_ || eraseBusy_ || QApplication::activeModalWidget() != nullptr;
  // One burn per due minute: a burn that ends within its minute is not
  // started again by the next check.
  if (busy || schedule::MinuteStamp(now) == lastScheduledMinute_ ||
      !schedule::ScheduleDue(set.kind, set.TimeOfKind(), now)) {
    scheduleTimer_->start(schedulePeriod_);
    return;
  }
  lastScheduledMinute_ = schedule::MinuteStamp(now);
  RunScheduledBurn(set);
  ArmSchedule();
}

void CPlomeDlg::RunScheduledBurn(const schedule::TimingSet& set) {
  if (set.discType < 0 || set.discType > 5 || !ModeAvailable(kProjectModes[set.discType])) {
    ShowMessage(LoadLangText("Message", 1008), msgbox::kInfoOk);
    return;
  }
  afterAction_ = set.afterBurning >= 0 && set.afterBurning <= 3 ? set.afterBurning : 0;
  closeDisc_ = set.closeDisc;
  ejectWhenDone_ = CDlgBurnSet::RememberedEjectWhenDone();
  copies_ = 1;
  int count = 0;
  recorderListText_ = QString::fromStdString(schedule::DriveIndexList(set.recorders, &count));
  recorderCount_ = std::max(1, count);
  SwitchMode(kProjectModes[set.discType]);
  HighlightModeButton(ModeButtonIndex(kProjectModes[set.discType]));
  CDlgDataCD* w = DataWindow(mode_);
  if (!w) return;
  // What Burn would refuse before its settings, refused here with its
  // message: nothing is written.
  if (w->IsEmpty()) {
    ShowMessage(LoadErrorText(result::kEmptyProject), msgbox::kInfoOk);
    return;
  }
  const int drive = recorderListText_.isEmpty() ? SelectedDrive() : recorderListText_.section(',', 0, 0).toInt();
  if (drive < 0) {
    ShowMessage(LoadLangText("Message", 16), msgbox::kInfoOk);
    return;
  }
  DiscInfo disc;
  if (recorderCount_ == 1) {
    if (!CheckDiscForBurn(w, drive, &disc)) return;
    // Nobody is there to agree to erasing a full rewritable disc.
    if (mode_ == kDataDisc && (!disc.writable || disc.freeBytes == 0)) {
      ShowMessage(LoadLangText("Message", 17), msgbox::kInfoOk);
      return;
    }
  }
  burnMedium_ = disc.mediumType;
  scheduledBurn_ = true;
  StartBurn();
  scheduledBurn_ = false;
}
