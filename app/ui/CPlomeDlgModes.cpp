// The main window's modes: the page each mode shows, the toolbar of its
// group, and the title that names the project.

#include "app/ui/CPlomeDlg.h"

#include <QApplication>

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPropertyAnimation>
#include <QTimer>
#include <QVBoxLayout>

#include "CAuEncode.h"
#include "analysis/ui/CDlgAnaly_CD.h"
#include "analysis/ui/CDlgAnaly_Check.h"
#include "analysis/ui/CDlgAnaly_DevInfo.h"
#include "analysis/ui/CDlgAnaly_Sector.h"
#include "app/ui/CDlgAudioCD.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgDiscCopy.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CPlomeDlgIds.h"
#include "app/ui/CSkinBtn.h"
#include "app/ui/SaveAudioTracks.h"
#include "foundation/ProfileIni.h"
#include "foundation/ui/WindowSupport.h"

using namespace plome;

bool CPlomeDlg::ModeAvailable(int index) const {
  return index == kAudioCD || index == kMp3Disc || index == kDataDisc || index == kVcd || index == kSvcd ||
         index == kDvd ||
         index == kDiscCopy || IsAnalysisMode(index);
}

bool CPlomeDlg::HasProjectWindow(int mode) const {
  return DataWindow(mode) != nullptr || (mode == kAudioCD && AudioWindow() != nullptr) ||
         ((mode == kVcd || mode == kSvcd || mode == kDvd) && pages_[size_t(mode)] != nullptr);
}

CDlgVideoDisc* CPlomeDlg::VideoWindow() const { return VideoWindowOf(mode_); }

CDlgVideoDisc* CPlomeDlg::VideoWindowOf(int mode) const {
  if (mode != kVcd && mode != kSvcd && mode != kDvd) return nullptr;
  return qobject_cast<CDlgVideoDisc*>(pages_[size_t(mode)]);
}

CDlgAudioCD* CPlomeDlg::AudioWindow() const { return qobject_cast<CDlgAudioCD*>(pages_[size_t(kAudioCD)]); }

CDlgDiscCopy* CPlomeDlg::CopyWindow() const { return qobject_cast<CDlgDiscCopy*>(pages_[size_t(kDiscCopy)]); }

CDlgDataCD* CPlomeDlg::DataWindow(int mode) const {
  if (mode != kMp3Disc && mode != kDataDisc) return nullptr;
  return qobject_cast<CDlgDataCD*>(pages_[size_t(mode)]);
}

void CPlomeDlg::RestoreLastMode() {
  const std::string index = ini::GetString(SettingsFile(), "Windows", "Index", "0");
  static const std::map<std::string, int> modes = {{"0", kAudioCD}, {"1", kMp3Disc}, {"2", kDataDisc},
                                                   {"3", kVcd},     {"4", kSvcd},     {"5", kDvd},
                                                   {"6", kAnalyseDisc}, {"7", kAnalyseDisc}, {"8", kAnalyseDisc},
                                                   {"10", kAnalyseDisc}};
  if (index == "9") {
    SwitchMode(kAudioCD);
    SwitchMode(kDiscCopy);
    HighlightModeButton(ModeButtonIndex(kDiscCopy));
    return;
  }
  auto it = modes.find(index);
  int mode = it == modes.end() ? kAudioCD : it->second;
  SwitchMode(mode);
  HighlightModeButton(ModeButtonIndex(mode));
}

void CPlomeDlg::SaveLastMode() {
  if (mode_ < 0) return;
  ini::WriteString(SettingsFile(), "Windows", "Index", ini::KeyOf(mode_));
}

void CPlomeDlg::HighlightModeButton(int index) {
  highlighted_ = index;
  for (int i = 0; i < 8; ++i) buttons_[kModeButtons[i]]->setChecked(i == index);
}

QWidget* CPlomeDlg::CreatePage(int mode) {
  if (mode == kAudioCD) {
    auto* w = new CDlgAudioCD(workArea_);
    connect(w, &CDlgAudioCD::ProjectChanged, this, [this] { QTimer::singleShot(0, this, &CPlomeDlg::UpdateTitle); });
    return w;
  }
  if (mode == kMp3Disc || mode == kDataDisc) {
    auto* w = new CDlgDataCD(workArea_);
    w->SetMode(mode == kMp3Disc ? CDlgDataCD::kModeMp3 : CDlgDataCD::kModeData);
    connect(w, &CDlgDataCD::ProjectChanged, this, [this] { QTimer::singleShot(0, this, &CPlomeDlg::UpdateTitle); });
    return w;
  }
  if (mode == kAnalyseDisc) {
    auto* w = new CDlgAnaly_CD(workArea_);
    // An audio track chosen in the tree is saved through the save dialog of
    // audio tracks, with the window's one encoder.
    connect(w, &CDlgAnaly_CD::SaveAudioTrackRequested, this, [this, w](CDevCmdROM* drive, int track) {
      if (drive == nullptr) return;
      if (!trackEncoder_) trackEncoder_ = std::make_unique<CAuEncode>();
      SaveAudioTracks(w, *drive, {track}, *trackEncoder_);
    });
    return w;
  }
  if (mode == kAnalyseSector) return new CDlgAnaly_Sector(workArea_);
  if (mode == kDeviceInfo) return new CDlgAnaly_DevInfo(workArea_);
  if (mode == kCheckDisc) return new CDlgAnaly_Check(service_, workArea_);
  if (mode == kVcd || mode == kSvcd || mode == kDvd) {
    const int kind = mode == kVcd    ? CVideoDiscProject::kVideoCd
                     : mode == kSvcd ? CVideoDiscProject::kSuperVideoCd
                                     : CVideoDiscProject::kDvdVideo;
    auto* w = new CDlgVideoDisc(kind, workArea_);
    connect(w, &CDlgVideoDisc::ProjectChanged, this, [this] { QTimer::singleShot(0, this, &CPlomeDlg::UpdateTitle); });
    return w;
  }
  if (mode == kDiscCopy) {
    auto* w = new CDlgDiscCopy(service_, workArea_);
    connect(w, &CDlgDiscCopy::DialogOpened, this, &CPlomeDlg::DialogOpened);
    w->FillSourceDrives(SelectedDrive());
    return w;
  }
  // A mode whose window is not part of this version says so in its place.
  auto* page = new QWidget(workArea_);
  ApplySkinPalette(page);
  auto* layout = new QVBoxLayout(page);
  auto* heading = new QLabel(Tr("Tip", kModes[mode].tip), page);
  QFont f = heading->font();
  f.setPixelSize(20);
  f.setBold(true);
  heading->setFont(f);
  auto* text = new QLabel(Tr("UIText", 1106), page);
  text->setWordWrap(true);
  text->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  layout->addStretch();
  layout->addWidget(heading, 0, Qt::AlignHCenter);
  layout->addWidget(text);
  layout->addStretch();
  return page;
}

void CPlomeDlg::ShowRecordersOfMode(int index) {
  const ModeInfo& info = kModes[index];
  recorderList_->setVisible(index != kAnalyseSector && index != kDeviceInfo);
  filling_ = true;
  recorderList_->clear();
  if (loading_) {
    // Not even the image entry yet: nothing in the list may be burnt to
    // before the user has seen what there is.
    recorderList_->addItem(Tr("UIText", 1480));
    recorderList_->setEnabled(false);
    recorderList_->setToolTip(QString());
    filling_ = false;
    ShowDiscStatus();
    return;
  }
  recorderList_->setEnabled(true);
  recorderList_->addItems(info.allDrives ? allDrives_ : recorders_);
  if (info.imageEntry) recorderList_->addItem(Tr("UIText", 91));
  ShowRecorderTips();
  recorderList_->setCurrentIndex(0);
  filling_ = false;

  int rememberedFor = IsAnalysisMode(index) ? kAnalyseDisc : index;
  int entry = remembered_[size_t(rememberedFor)];
  if (entry < 0 || entry >= recorderList_->count()) entry = 0;
  recorderList_->setCurrentIndex(entry);
  SelectRecorder();
}

void CPlomeDlg::SwitchMode(int index) {
  if (index < 0 || index >= kModeCount || index == mode_) return;
  mode_ = index;
  const ModeInfo& info = kModes[index];

  ShowRecordersOfMode(index);

  if (!pages_[size_t(index)]) pages_[size_t(index)] = CreatePage(index);
  else if (index == kDiscCopy) CopyWindow()->FillSourceDrives(SelectedDrive());  // drives may have changed
  QWidget* page = pages_[size_t(index)];
  if (mainType_ != 1) title_->setText(Tr("Tip", info.tip));
  // Hiding the page with the keyboard focus hands it on to the next control
  // as if by Tab, a mode button far from the work; it goes to the new page.
  QWidget* focused = QApplication::focusWidget();
  const bool focusInPage = focused && workArea_->isAncestorOf(focused);
  for (QWidget* other : pages_)
    if (other && other != page) other->hide();
  page->setGeometry(0, 0, workArea_->width(), workArea_->height());
  page->show();
  page->raise();
  if (isVisible()) {
    auto* slide = new QPropertyAnimation(page, "pos", page);
    slide->setDuration(180);
    slide->setStartValue(QPoint(workArea_->width(), 0));
    slide->setEndValue(QPoint(0, 0));
    slide->start(QAbstractAnimation::DeleteWhenStopped);
  }
  LayOutToolbar(info.group);
  speedList_->setVisible(!IsAnalysisMode(index));
  if (focusInPage) FocusPage();
  // The image entry of another mode may have emptied the speeds.
  FillSpeedList();
  ShowCapacity(discKnown_, disc_);  // the new page's capacity bar
  UpdateTitle();
  ShowAnalysis();
  emit ModeSwitched(index);
}

void CPlomeDlg::LayOutToolbar(int group) {
  toolbarGroup_ = group;
  std::vector<int> shown;
  if (group == kGroupProject) shown = {kIdOpen, kIdNew, kIdSaveProject, kIdAdd, kIdBurn};
  else if (group == kGroupAnalysis) shown = {kIdRefresh, kIdSave, kIdAnalyCD, kIdAnalySector, kIdAnalyDev, kIdAnalyCheck};
  else shown = {kIdRefresh, kIdBurn};
  for (int id : {kIdRefresh, kIdSave, kIdOpen, kIdSaveProject, kIdNew, kIdAdd, kIdBurn, kIdAnalyCD, kIdAnalySector,
                 kIdAnalyDev, kIdAnalyCheck})
    buttons_[id]->hide();
  int x = kToolbarX;
  for (int id : shown) {
    CSkinBtn* b = buttons_[id];
    if (id == kIdOpen) x += 20;
    b->move(x, kToolbarY);
    b->show();
    x += b->width() + 3;
  }
  // Burning needs a project window; modes without one cannot burn yet.
  buttons_[kIdBurn]->setEnabled(ModeAvailable(mode_));
  for (int id : {kIdOpen, kIdNew, kIdSaveProject, kIdAdd}) buttons_[id]->setEnabled(ModeAvailable(mode_) || id == kIdOpen);
}

// The project's name as the title and the questions about it give it: its
// file's name, else the disc's label; "" for a mode without a project.
QString CPlomeDlg::ProjectName(int mode) const {
  // A project not saved yet is "Untitled", as users know it; the disc
  // label is not its name.
  const QString untitled = Tr("UIText", 92);
  auto nameOf = [&](const QString& path) { return path.isEmpty() ? untitled : QFileInfo(path).completeBaseName(); };
  if (CDlgDataCD* w = DataWindow(mode)) {
    if (w->IsImageMode()) return QFileInfo(w->GetImagePath()).fileName();
    return nameOf(w->GetProjectPath());
  }
  if (CDlgVideoDisc* v = VideoWindowOf(mode)) return nameOf(v->ProjectPath());
  if (CDlgAudioCD* a = AudioWindow(); a && mode == kAudioCD) return nameOf(a->GetProjectPath());
  return {};
}

void CPlomeDlg::UpdateTitle() {
  QString title = "Varnex";
  QString heading = mode_ >= 0 ? Tr("Tip", kModes[mode_].tip) : QString();
  if (HasProjectWindow(mode_)) {
    CDlgDataCD* w = DataWindow(mode_);
    CDlgVideoDisc* v = VideoWindow();
    const bool modified = w ? w->IsModified() && !w->IsImageMode() : v ? v->IsModified() : AudioWindow()->IsModified();
    title = "Varnex \u2013 " + QString(modified ? "*" : "") + ProjectName(mode_) + " (" + heading + ")";
  } else if (!heading.isEmpty()) {
    title = "Varnex \u2013 " + heading;
  }
  // The title keeps beginning with the program's name: scripts and the
  // screen checks find the window by it.
  setWindowTitle(title);
}
