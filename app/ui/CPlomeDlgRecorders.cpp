// The recorder and speed lists and the status line about the disc in the
// selected recorder.

#include "app/ui/CPlomeDlg.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <algorithm>

#include "BurnCtrl/Results.h"
#include "app/SpeedList.h"
#include "app/ui/CCapacityBar.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgDiscCopy.h"
#include "app/ui/CPlomeDlgIds.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/SizeText.h"
#include "foundation/ui/WindowSupport.h"

using namespace plome;

void CPlomeDlg::FillRecorderLists() {
  TakeDrives(RunOffWindowThread([this] { return service_->Drives(); }));
}

void CPlomeDlg::TakeDrives(const std::vector<DriveEntry>& drives) {
  allDrives_.clear();
  recorders_.clear();
  driveWhere_.clear();
  for (const DriveEntry& d : drives) {
    if (d.index == 0) continue;
    if (d.index >= 26) break;
    allDrives_ << QString::fromStdString(d.text);
    if (d.recorder) recorders_ << QString::fromStdString(d.text);
    driveWhere_[QString::fromStdString(d.text)] = QString::fromStdString(d.where);
  }
}

void CPlomeDlg::ShowRecorderTips() {
  int widest = 0;
  const QFontMetrics metrics(recorderList_->view()->font());
  for (int i = 0; i < recorderList_->count(); ++i) {
    const QString text = recorderList_->itemText(i);
    auto where = driveWhere_.find(text);
    const bool more = where != driveWhere_.end() && !where->second.isEmpty() && !text.contains(where->second);
    recorderList_->setItemData(i, more ? text + "\n" + where->second : text, Qt::ToolTipRole);
    widest = std::max(widest, metrics.horizontalAdvance(text));
  }
  // The popup may be wider than the box: no entry is cut there.
  recorderList_->view()->setMinimumWidth(widest + 2 * metrics.averageCharWidth() + 24);
  recorderList_->setToolTip(recorderList_->currentData(Qt::ToolTipRole).toString());
}

bool CPlomeDlg::RefusedWhileLoading() {
  if (!loading_) return false;
  ShowMessage(LoadLangText("Message", 1480), msgbox::kInfoOk);
  return true;
}

bool CPlomeDlg::ImageEntrySelected() const { return !loading_ && recorderList_->currentText().startsWith('['); }

int CPlomeDlg::SelectedDrive() const {
  if (loading_ || recorderList_->count() == 0 || ImageEntrySelected()) return -1;
  return DriveIndexOfEntry(ToStd(recorderList_->currentText()));
}

void CPlomeDlg::SelectRecorder() {
  int drive = SelectedDrive();
  if (ImageEntrySelected()) drive = 0;
  if (drive >= 0) RunOffWindowThread([&] { return service_->Start(uint8_t(drive)); });
  ShowDiscStatus();
}

void CPlomeDlg::OnRecorderChanged() {
  if (filling_) return;
  SelectRecorder();
  if (ImageEntrySelected() && IsAnalysisMode(mode_)) {
    // Choosing the image entry again opens another image.
    QString path = Files()->OpenFile(this, Tr("UIText", 1234), "Image files(*.iso;*.cue;*.toc;*.nrg;*.bin)|*.iso;*.cue;*.toc;*.nrg;*.bin||");
    if (!path.isEmpty()) OpenAnalysisImage(path);
  }
  ShowAnalysis(false);
  remembered_[size_t(IsAnalysisMode(mode_) ? kAnalyseDisc : mode_)] =
      recorderList_->currentIndex();
  FillSpeedList();
}


void CPlomeDlg::ShowDiscStatus() {
  int drive = SelectedDrive();
  DiscInfo info;
  if (drive < 0) {
    status_->clear();
    ShowCapacity(false, info);
    return;
  }
  int rc = RunOffWindowThread([&] { return service_->GetDiscInfoEx(uint8_t(drive), &info); });
  if (rc != result::kSuccess) {
    const bool open = RunOffWindowThread([&] { return service_->TrayOpen(uint8_t(drive)); });
    status_->setText(Tr("UIText", open ? 1407 : 2));
    ShowCapacity(false, info);
    return;
  }
  QString name = QString::fromStdString(MediumName(info.mediumType));
  if (name.isEmpty()) name = Tr("UIText", 3);
  // The state first: an unfinished or closed disc says so and what to do,
  // never a free size it cannot take.
  QString text = name + " " + QString::fromStdString(DiscStateText(info.state));
  if (medium::TakesData(info.state))
    text += " " + Tr("UIText", 8) + " " + QString::fromStdString(FormatSize(info.freeBytes));
  else if (medium::IsWritable(info.mediumType))
    text += " \u2013 " + Tr("UIText", medium::IsErasable(info.mediumType) ? 1404 : 1405);
  status_->setText(text);
  ShowCapacity(true, info);
}

void CPlomeDlg::FollowDisc() {
  // A disc put in or taken out shows in the status line. Only the drive's
  // readiness is asked each time; the disc is read again when it changed.
  const int drive = SelectedDrive();
  if (drive < 0) return;
  const bool ready = RunOffWindowThread([&] { return service_->TestUnitReady(uint8_t(drive)); }) == 0;
  if (ready != discKnown_) ShowDiscStatus();
}

void CPlomeDlg::ShowCapacity(bool known, const DiscInfo& info) {
  discKnown_ = known;
  disc_ = info;
  for (int mode : {int(kDataDisc), int(kMp3Disc)}) {
    CDlgDataCD* w = DataWindow(mode);
    if (!w) continue;
    if (known) w->CapacityBar()->SetDisc(info.usedBytes, info.freeBytes, medium::TakesData(info.state) ? QString() : QString::fromStdString(DiscStateText(info.state)));
    else w->CapacityBar()->SetNoDisc();
    // An image file is laid out as a CD; a disc names itself by its kind.
    if (!known && !ImageEntrySelected()) continue;
    const int type = known ? info.mediumType : medium::kCdR;
    w->SetDefaultLabel(medium::IsBd(type) ? "DataBD" : medium::IsDvd(type) ? "DataDVD" : "DataCD");
  }
}

void CPlomeDlg::FillSpeedList() {
  if (IsAnalysisMode(mode_)) return;
  // The user's choice stays when the same speeds come back (another mode,
  // the same drive).
  const QString chosen = speedList_->currentText();
  speedList_->clear();
  int drive = SelectedDrive();
  if (drive < 0) {
    speedList_->setEnabled(false);
    return;
  }
  speedList_->setEnabled(true);
  std::vector<int> factors = RunOffWindowThread([&] { return WriteSpeedFactors(*service_, uint8_t(drive), nullptr); });
  // Each entry carries its factor; "Maximum" is the highest the drive takes
  // for the disc in it, and the default, as users expect of a burner.
  if (!factors.empty()) speedList_->addItem(Tr("UIText", 17), factors.back());
  for (int f : factors) speedList_->addItem(QString::asprintf("%dX", f), f);
  const int keep = chosen.isEmpty() ? -1 : speedList_->findText(chosen);
  speedList_->setCurrentIndex(keep >= 0 ? keep : 0);
}

int CPlomeDlg::ChosenSpeedFactor() const { return speedList_->currentData().toInt(); }

void CPlomeDlg::OnDeviceChange() {
  if (!initialised_ || !finished_ || eraseBusy_) return;
  if (mode_ == kDiscCopy && CopyWindow() && CopyWindow()->Copying()) return;
  if (!isActiveWindow()) {
    FollowDisc();
    return;
  }
  std::vector<DriveEntry> drives = RunOffWindowThread([this] { return service_->Drives(); });
  QStringList all;
  for (const DriveEntry& d : drives)
    if (d.index > 0 && d.index < 26) all << QString::fromStdString(d.text);
  if (all == allDrives_) {
    FollowDisc();
    return;
  }
  // Drives came or went: rebuild the lists, keeping the selection when its
  // drive is still there.
  const QString selected = recorderList_->currentText();
  FillRecorderLists();
  int mode = mode_;
  mode_ = -1;
  SwitchMode(mode);
  int keep = recorderList_->findText(selected);
  if (keep >= 0) recorderList_->setCurrentIndex(keep);
  SelectRecorder();
  FillSpeedList();
}

void CPlomeDlg::Eject(bool open) {
  if (RefusedWhileLoading()) return;
  int drive = SelectedDrive();
  if (drive < 0) return;
  RunOffWindowThread([&] {
    if (open) service_->Lock(uint8_t(drive), false);
    return service_->Eject(uint8_t(drive), open);
  });
  ShowDiscStatus();
}

void CPlomeDlg::ToggleTray() {
  if (RefusedWhileLoading()) return;
  const int drive = SelectedDrive();
  if (drive < 0) return;
  // Eject on an open tray closes it, as the drive's own button does.
  Eject(!RunOffWindowThread([&] { return service_->TrayOpen(uint8_t(drive)); }));
}
