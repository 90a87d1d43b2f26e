// Erasing a rewritable disc behind the erase window.

#include "app/ui/CPlomeDlg.h"

#include <QTimer>

#include <thread>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/ui/CDlgEProgress.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CPlomeDlgIds.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"

using namespace plome;

void CPlomeDlg::Erase() {
  if (!finished_ || eraseBusy_) return;
  if (RefusedWhileLoading()) return;
  const int drive = SelectedDrive();
  if (drive < 0) return;
  DiscInfo info;
  int ready = RunOffWindowThread([&] {
    if (service_->TestUnitReady(uint8_t(drive)) != 0) return -1;
    return service_->GetDiscInfoEx(uint8_t(drive), &info);
  });
  if (ready != result::kSuccess) {
    ShowMessage(LoadLangText("Message", 1), msgbox::kInfoOk);
    return;
  }
  if (ShowMessage(LoadLangText("Message", 22), msgbox::kInfoOkCancel) != msgbox::kOk) return;
  if (!medium::IsErasable(info.mediumType)) {
    ShowMessage(LoadLangText("Message", 15), msgbox::kInfoOk);
    return;
  }
  const int rc = EraseDisc(drive);
  if (rc == result::kSuccess) ShowMessage(LoadLangText("Message", 1022), msgbox::kInfoOk);
  else ShowMessage(ErrorWithDetail(rc, drive), msgbox::kErrorOk);
  if (CDlgBurnSet::RememberedEjectWhenDone())
    RunOffWindowThread([&] {
      service_->Lock(uint8_t(drive), false);
      return service_->Eject(uint8_t(drive), true);
    });
  ShowDiscStatus();
}

std::string CPlomeDlg::ErrorWithDetail(int rc, int drive) {
  const std::string detail = service_->LastError(uint8_t(drive));
  return LoadErrorText(rc) + (detail.empty() ? "" : "\n" + detail);
}

int CPlomeDlg::EraseDisc(int drive) {
  eraseBusy_ = true;
  eraseResult_ = result::kNothingDone;
  std::thread worker([this, drive] {
    service_->Start(uint8_t(drive));
    eraseResult_ = service_->BlankDisc(uint8_t(drive));
    eraseBusy_ = false;
  });
  CDlgEProgress progress(this);
  QTimer timer2;
  timer2.setInterval(1000);
  connect(&timer2, &QTimer::timeout, &progress, [&] {
    if (!eraseBusy_) {
      timer2.stop();
      progress.accept();
      return;
    }
    progress.Advance();
  });
  timer2.start();
  emit DialogOpened(&progress);
  progress.exec();
  timer2.stop();
  RunOffWindowThread([&] { worker.join(); });
  return eraseResult_;
}
