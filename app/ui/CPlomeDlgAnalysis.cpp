// The analysis modes: their pages and the drive or image file they read.

#include "app/ui/CPlomeDlg.h"

#include <QComboBox>

#include "analysis/ui/CDlgAnaly_CD.h"
#include "analysis/ui/CDlgAnaly_Check.h"
#include "analysis/ui/CDlgAnaly_DevInfo.h"
#include "analysis/ui/CDlgAnaly_Sector.h"
#include "app/ui/CPlomeDlgIds.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"

using namespace plome;

CDlgAnaly_CD* CPlomeDlg::AnalysisWindow() const { return qobject_cast<CDlgAnaly_CD*>(pages_[size_t(kAnalyseDisc)]); }

CDlgAnaly_Sector* CPlomeDlg::SectorWindow() const {
  return qobject_cast<CDlgAnaly_Sector*>(pages_[size_t(kAnalyseSector)]);
}

CDlgAnaly_DevInfo* CPlomeDlg::DeviceInfoWindow() const {
  return qobject_cast<CDlgAnaly_DevInfo*>(pages_[size_t(kDeviceInfo)]);
}

bool CPlomeDlg::OpenAnalysisImage(const QString& path) {
  // A running check reads the image device that another image would replace.
  if (CheckWindow() && CheckWindow()->Running() && analysisImage_ && CheckWindow()->Drive() == analysisImage_.get()) {
    ShowMessage(LoadLangText("Message", 1043), msgbox::kInfoOk);
    return false;
  }
  auto device = std::make_unique<CDevCmdROM>();
  if (!device->SetImageFile(ToStd(path).c_str())) {
    ShowMessage(LoadLangText("Message", 1405) + "\n" + ToStd(path) + ": " + device->GetLastOpenError(), msgbox::kErrorOk);
    return false;
  }
  analysisImage_ = std::move(device);
  return true;
}

CDlgAnaly_Check* CPlomeDlg::CheckWindow() const {
  return qobject_cast<CDlgAnaly_Check*>(pages_[size_t(kCheckDisc)]);
}

CDevCmdROM* CPlomeDlg::AnalysisDrive(bool ask) {
  if (ImageEntrySelected()) {
    if (!analysisImage_ && ask) {
      QString path = Files()->OpenFile(this, Tr("UIText", 1234), "Image files(*.iso;*.cue;*.toc;*.nrg;*.bin)|*.iso;*.cue;*.toc;*.nrg;*.bin||");
      if (path.isEmpty() || !OpenAnalysisImage(path)) return nullptr;
    }
    return analysisImage_.get();
  }
  const int drive = SelectedDrive();
  return drive < 0 ? nullptr : service_->ReadingDevice(uint8_t(drive));
}

void CPlomeDlg::ShowAnalysis(bool askForImage) {
  if (!IsAnalysisMode(mode_)) return;
  CDevCmdROM* drive = AnalysisDrive(askForImage);
  // The recorder box is hidden on these two pages; they name the drive themselves.
  QString name;
  if (drive) name = ImageEntrySelected() ? QString::fromStdString(drive->GetDevicePath()) : recorderList_->currentText();
  if (name.startsWith("image:")) name.remove(0, 6);  // the file itself, as the user chose it
  if (mode_ == kAnalyseDisc) {
    AnalysisWindow()->SetDrive(drive);
  } else if (mode_ == kCheckDisc) {
    CheckWindow()->SetDrive(drive, name);
  } else if (mode_ == kAnalyseSector) {
    SectorWindow()->SetDriveName(name);
    SectorWindow()->SetDrive(drive);
  } else {
    DeviceInfoWindow()->SetDriveName(name);
    DeviceInfoWindow()->ShowDeviceInfo(drive);
  }
}
