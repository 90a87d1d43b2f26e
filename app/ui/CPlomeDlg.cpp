#include "app/ui/CPlomeDlg.h"

#include <QApplication>
#include <QBitmap>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QShortcut>
#include <QSizeGrip>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <cstdio>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/ui/CDlgEProgress.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "BurnCtrl/ui/CDlgProgressMulti.h"
#include "foundation/HelpAndVersion.h"
#include "foundation/LangText.h"
#include "foundation/ProfileIni.h"
#include "foundation/ProgramDir.h"
#include "app/ProjectFileType.h"
#include "foundation/ShowMessage.h"
#include "foundation/SizeText.h"
#include "app/SpeedList.h"
#include "analysis/ui/CDlgAnaly_CD.h"
#include "analysis/ui/CDlgAnaly_DevInfo.h"
#include "analysis/ui/CDlgAnaly_Sector.h"
#include "app/ui/CDlgAudioCD.h"
#include "app/ui/CDlgBurnSet.h"
#include "app/ui/CCapacityBar.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgDiscCopy.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CSkinBtn.h"
#include "app/ui/CDlgTimeSet.h"
#include "app/ui/SaveAudioTracks.h"
#include "CAuEncode.h"
#include "app/ui/HandOverServer.h"
#include "app/ui/CAdBtn.h"
#include "app/ui/QtUpdateHost.h"
#include "app/CUpdate.h"
#include "app/UpdateNetwork.h"
#include "app/HandOver.h"
#include "app/ui/PowerControl.h"
#include "foundation/ui/WindowSupport.h"
#include "authoring/CDataFile.h"
#include "authoring/SourceCheck.h"
#include "authoring/CECMA167.h"
#include "authoring/DiscNames.h"
#include "authoring/ProjectFile.h"
#include "media/ToolProcess.h"

namespace {

// Control ids.
constexpr int kIdAudio = 1023, kIdMp3 = 1017, kIdData = 1024, kIdVcd = 1020, kIdSvcd = 1021, kIdDvd = 1022,
              kIdCopy = 1018, kIdAnalysis = 1031;
constexpr int kIdRefresh = 1048, kIdSave = 1049, kIdOpen = 1051, kIdSaveProject = 1052, kIdNew = 1058,
              kIdAdd = 1053, kIdBurn = 1054, kIdAnalyCD = 1055, kIdAnalySector = 1056, kIdAnalyDev = 1057,
              kIdErase = 1028, kIdEject = 1040, kIdLoad = 1041, kIdHelp = 1042, kIdSchedule = 1144,
              kIdMinimise = 1019, kIdClose = 1062;

constexpr int kWidth = 900, kHeight = 620;  // the skin's size, and the smallest the window gets
constexpr int kHeaderHeight = 48;   // the band that moves the window and maximises it on a double click
constexpr int kWorkTop = 176;       // where the mode's own window starts
constexpr int kStatusHeight = 32;   // the status bar at the bottom
constexpr int kToolbarX = 14, kToolbarY = 134;  // the hidden placeholder 1050

// Toolbar groups.
enum Group { kGroupProject = 0, kGroupAnalysis = 1, kGroupCopy = 2 };

struct ModeInfo {
  int button;   // mode button id
  int tip;      // "Tip" key of the title
  int group;
  bool imageEntry;  // the recorder list ends in the image entry
  bool allDrives;
};
constexpr ModeInfo kModes[CPlomeDlg::kModeCount] = {
    {kIdAudio, 1, kGroupProject, false, false},     {kIdMp3, 3, kGroupProject, false, false},
    {kIdData, 2, kGroupProject, true, false},       {kIdVcd, 22, kGroupProject, false, false},
    {kIdSvcd, 23, kGroupProject, false, false},     {kIdDvd, 24, kGroupProject, false, false},
    {kIdAnalysis, 4, kGroupAnalysis, true, true},   {kIdAnalysis, 10, kGroupAnalysis, true, true},
    {kIdAnalysis, 11, kGroupAnalysis, true, true},  {kIdCopy, 20, kGroupCopy, false, false}};

// Mode buttons in their radio-group order (HighlightModeButton index).
constexpr int kModeButtons[8] = {kIdAudio, kIdData, kIdMp3, kIdVcd, kIdSvcd, kIdDvd, kIdCopy, kIdAnalysis};

const std::map<int, int> kTips = {{1023, 1}, {1024, 2}, {1017, 3},  {1031, 4},  {1048, 5},  {1049, 6},
                                  {1053, 7}, {1054, 8}, {1055, 9},  {1056, 10}, {1057, 11}, {1028, 12},
                                  {1040, 13}, {1041, 14}, {1042, 15}, {1051, 17}, {1052, 18}, {1058, 19},
                                  {1018, 20}, {1020, 22}, {1021, 23}, {1022, 24}, {1144, 25}};

std::string ToStd(const QString& s) { return s.toStdString(); }

std::string SettingsFile() { return SettingsFilePath(); }

}  // namespace

namespace {

// The activity light: a small lamp, bright while a drive works.
QPixmap ActivityLight(bool lit) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(QPointF(6, 6), 8);
  g.setColorAt(0, lit ? QColor(190, 255, 170) : QColor(120, 130, 120));
  g.setColorAt(1, lit ? QColor(40, 170, 60) : QColor(60, 66, 60));
  p.setBrush(g);
  p.setPen(QColor(30, 40, 30));
  p.drawEllipse(QRectF(2, 2, 12, 12));
  return pm;
}

}  // namespace

CPlomeDlg::CPlomeDlg(std::shared_ptr<RecorderService> service, QWidget* parent)
    : QDialog(parent), service_(std::move(service)) {
  remembered_.fill(-1);
  openUrl_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  setProperty("id", 102);
  setWindowTitle("Varnex");
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinMaxButtonsHint);
  setMinimumSize(kWidth, kHeight);
  resize(kWidth, kHeight);
  CreateControls();
  CreateShortcuts();
  deviceTimer_ = new QTimer(this);
  deviceTimer_->setInterval(3000);
  connect(deviceTimer_, &QTimer::timeout, this, &CPlomeDlg::OnDeviceChange);
  scheduleTimer_ = new QTimer(this);
  scheduleTimer_->setInterval(30000);
  scheduleTimer_->setSingleShot(true);
  connect(scheduleTimer_, &QTimer::timeout, this, &CPlomeDlg::OnScheduleTimer);
}

CPlomeDlg::~CPlomeDlg() {
  service_->SetActivityCallback(nullptr);
  if (updateHost_) updateHost_->Closing();
  update_.reset();  // waits for the check's threads
  stop_ = true;
  if (burnThread_.joinable()) {
    service_->AbortWrite(burnDrive_);
    burnThread_.join();
  }
}

void CPlomeDlg::CreateControls() {
  CreateLabels();
  CreateButtons();
  ConnectButtons();
  // The window has no frame of its own: the grip at the bottom right corner
  // resizes it.
  sizeGrip_ = new QSizeGrip(this);
  sizeGrip_->setToolTip(Tr("UIText", 1118));
  LayOutForSize();
}

// The logo, title, status line, activity light, information and version
// texts, and the work area the mode windows fill.
void CPlomeDlg::CreateLabels() {
  auto label = [this](int id, QRect geometry) {
    auto* l = new QLabel(this);
    l->setProperty("id", id);
    l->setGeometry(geometry);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, QColor::fromRgb(kLabelColour));
    l->setPalette(pal);
    return l;
  };
  logo_ = label(1148, QRect(14, 4, 170, 40));
  title_ = label(1119, QRect(200, 8, 380, 32));
  QFont titleFont("DejaVu Serif");
  titleFont.setPixelSize(19);
  titleFont.setWeight(QFont::Bold);
  title_->setFont(titleFont);
  status_ = label(1100, QRect(14, kHeight - 25, 540, 22));
  activity_ = label(1146, QRect(560, kHeight - 22, 16, 16));
  activity_->setPixmap(ActivityLight(false));
  // Drive commands run on worker threads; one queued repaint at a time.
  service_->SetActivityCallback([this](int) {
    if (!activityQueued_.exchange(true))
      QMetaObject::invokeMethod(this, [this] { ShowActivity(); }, Qt::QueuedConnection);
  });
  info_ = new CAdBtn(this);
  info_->setGeometry(QRect(584, kHeight - 25, 196, 22));
  {
    QPalette pal = info_->palette();
    pal.setColor(QPalette::WindowText, QColor::fromRgb(kLabelColour));
    info_->setPalette(pal);
  }
  version_ = label(1120, QRect(784, kHeight - 25, 104, 22));
  version_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  workArea_ = new QWidget(this);
  workArea_->setProperty("id", 1000);
  workArea_->setGeometry(10, kWorkTop, kWidth - 20, kHeight - kWorkTop - kStatusHeight);
}

// The mode buttons, the tool buttons and the recorder and speed lists.
void CPlomeDlg::CreateButtons() {
  auto button = [this](int id) {
    auto* b = new CSkinBtn(id, this);
    b->resize(36, 36);
    buttons_[id] = b;
    if (auto tip = kTips.find(id); tip != kTips.end()) b->setToolTip(Tr("Tip", tip->second));
    return b;
  };
  for (int i = 0; i < 8; ++i) {
    CSkinBtn* b = button(kModeButtons[i]);
    b->setCheckable(true);
    b->setGeometry(14 + i * 102, 55, 96, 66);
  }
  for (int id : {kIdRefresh, kIdSave, kIdOpen, kIdSaveProject, kIdNew, kIdAdd, kIdBurn, kIdAnalyCD, kIdAnalySector,
                 kIdAnalyDev})
    button(id)->hide();
  button(kIdErase)->move(250, kToolbarY);
  button(kIdEject)->move(289, kToolbarY);
  button(kIdLoad)->move(328, kToolbarY);
  button(kIdSchedule)->move(367, kToolbarY);
  button(kIdHelp)->move(760, 6);
  button(kIdMinimise)->setGeometry(826, 12, 28, 24);
  button(kIdClose)->setGeometry(858, 12, 28, 24);

  recorderList_ = new QComboBox(this);
  recorderList_->setProperty("id", 1121);
  recorderList_->setGeometry(414, kToolbarY + 5, 330, 26);
  speedList_ = new QComboBox(this);
  speedList_->setProperty("id", 1122);
  speedList_->setGeometry(752, kToolbarY + 5, 134, 26);

  // Modes whose windows are not part of this version say so.
  for (int mode = 0; mode < kModeCount; ++mode) {
    if (ModeAvailable(mode)) continue;
    CSkinBtn* b = buttons_[kModes[mode].button];
    b->setEnabled(false);
    b->setToolTip(Tr("Tip", kModes[mode].tip) + "\n" + Tr("UIText", 1106));
  }
}

void CPlomeDlg::ConnectButtons() {
  connect(buttons_[kIdAudio], &QAbstractButton::clicked, this, [this] { SwitchMode(kAudioCD); HighlightModeButton(0); });
  connect(buttons_[kIdData], &QAbstractButton::clicked, this, [this] { SwitchMode(kDataDisc); HighlightModeButton(1); });
  connect(buttons_[kIdMp3], &QAbstractButton::clicked, this, [this] { SwitchMode(kMp3Disc); HighlightModeButton(2); });
  connect(buttons_[kIdVcd], &QAbstractButton::clicked, this, [this] { SwitchMode(kVcd); HighlightModeButton(3); });
  connect(buttons_[kIdSvcd], &QAbstractButton::clicked, this, [this] { SwitchMode(kSvcd); HighlightModeButton(4); });
  connect(buttons_[kIdDvd], &QAbstractButton::clicked, this, [this] { SwitchMode(kDvd); HighlightModeButton(5); });
  connect(buttons_[kIdCopy], &QAbstractButton::clicked, this, [this] { SwitchMode(kDiscCopy); HighlightModeButton(6); });
  connect(buttons_[kIdAnalysis], &QAbstractButton::clicked, this, [this] {
    if (mode_ < kAnalyseDisc || mode_ > kDeviceInfo) SwitchMode(kAnalyseDisc);
    HighlightModeButton(7);
  });
  connect(buttons_[kIdAnalyCD], &QAbstractButton::clicked, this, [this] { SwitchMode(kAnalyseDisc); });
  connect(buttons_[kIdAnalySector], &QAbstractButton::clicked, this, [this] { SwitchMode(kAnalyseSector); });
  connect(buttons_[kIdAnalyDev], &QAbstractButton::clicked, this, [this] { SwitchMode(kDeviceInfo); });
  connect(buttons_[kIdOpen], &QAbstractButton::clicked, this, &CPlomeDlg::OpenProject);
  connect(buttons_[kIdSaveProject], &QAbstractButton::clicked, this, [this] { SaveProject(); });
  connect(buttons_[kIdNew], &QAbstractButton::clicked, this, &CPlomeDlg::NewProject);
  connect(buttons_[kIdAdd], &QAbstractButton::clicked, this, [this] {
    if (CDlgDataCD* w = DataWindow(mode_)) w->AddFiles();
    else if (CDlgAudioCD* a = AudioWindow(); a && mode_ == kAudioCD) a->AddFiles();
    else if (CDlgVideoDisc* v = VideoWindow()) v->AddFiles();
  });
  connect(buttons_[kIdBurn], &QAbstractButton::clicked, this, &CPlomeDlg::Burn);
  connect(buttons_[kIdErase], &QAbstractButton::clicked, this, &CPlomeDlg::Erase);
  connect(buttons_[kIdSchedule], &QAbstractButton::clicked, this, &CPlomeDlg::ShowSchedule);
  connect(buttons_[kIdEject], &QAbstractButton::clicked, this, [this] { Eject(true); });
  connect(buttons_[kIdLoad], &QAbstractButton::clicked, this, [this] { Eject(false); });
  connect(buttons_[kIdRefresh], &QAbstractButton::clicked, this, [this] {
    ShowDiscStatus();
    if (CDlgDiscCopy* copy = CopyWindow()) copy->FillSourceDrives();
    ShowAnalysis();
  });
  connect(buttons_[kIdSave], &QAbstractButton::clicked, this, [this] {
    if (mode_ == kAnalyseDisc) AnalysisWindow()->SaveSelected();
    else if (mode_ == kAnalyseSector) SectorWindow()->SaveSector();
  });
  connect(buttons_[kIdMinimise], &QAbstractButton::clicked, this, &QWidget::showMinimized);
  connect(buttons_[kIdClose], &QAbstractButton::clicked, this, &QWidget::close);
  connect(buttons_[kIdHelp], &QAbstractButton::clicked, this, &CPlomeDlg::ShowHelpMenu);
  connect(recorderList_, &QComboBox::activated, this, [this] { OnRecorderChanged(); });
}

// Help, the maker's home page and support address (when branding names
// them) and About.
void CPlomeDlg::ShowHelpMenu() {
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  auto item = [&](int id, const char* fallback) {
    QString text = Tr("Menu", id);
    return menu->addAction(text.isEmpty() ? QString(fallback) : text);
  };
  connect(item(32789, "Help"), &QAction::triggered, this, &CPlomeDlg::ShowHelp);
  const std::string showInfo = GetProgramDir() + "ShowInfo.ini";
  QString home = QString::fromStdString(ini::GetString(showInfo, "Info Set", "HomePage", ""));
  QString mail = QString::fromStdString(ini::GetString(showInfo, "Info Set", "SupportMail", ""));
  QAction* homeItem = item(32790, "Home Page");
  homeItem->setEnabled(!home.isEmpty());
  connect(homeItem, &QAction::triggered, this, [home] { QDesktopServices::openUrl(QUrl(home)); });
  QAction* mailItem = item(32791, "Technical Support");
  mailItem->setEnabled(!mail.isEmpty());
  connect(mailItem, &QAction::triggered, this, [mail] { QDesktopServices::openUrl(QUrl("mailto:" + mail)); });
  connect(item(32792, "About"), &QAction::triggered, this, [this] {
    QMessageBox::about(this, "Varnex", "Varnex\n" + QString::fromStdString(VersionLabel()));
  });
  menu->popup(QCursor::pos());
}

bool CPlomeDlg::ModeAvailable(int index) const {
  return index == kAudioCD || index == kMp3Disc || index == kDataDisc || index == kVcd || index == kSvcd ||
         index == kDvd ||
         index == kDiscCopy || index == kAnalyseDisc || index == kAnalyseSector || index == kDeviceInfo;
}

bool CPlomeDlg::HasProjectWindow(int mode) const {
  return DataWindow(mode) != nullptr || (mode == kAudioCD && AudioWindow() != nullptr) ||
         ((mode == kVcd || mode == kSvcd || mode == kDvd) && pages_[size_t(mode)] != nullptr);
}

CDlgVideoDisc* CPlomeDlg::VideoWindow() const {
  if (mode_ != kVcd && mode_ != kSvcd && mode_ != kDvd) return nullptr;
  return qobject_cast<CDlgVideoDisc*>(pages_[size_t(mode_)]);
}

CDlgAudioCD* CPlomeDlg::AudioWindow() const { return qobject_cast<CDlgAudioCD*>(pages_[size_t(kAudioCD)]); }

CSkinBtn* CPlomeDlg::Button(int id) const {
  auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

CDlgAnaly_CD* CPlomeDlg::AnalysisWindow() const { return qobject_cast<CDlgAnaly_CD*>(pages_[size_t(kAnalyseDisc)]); }
CDlgAnaly_Sector* CPlomeDlg::SectorWindow() const {
  return qobject_cast<CDlgAnaly_Sector*>(pages_[size_t(kAnalyseSector)]);
}
CDlgAnaly_DevInfo* CPlomeDlg::DeviceInfoWindow() const {
  return qobject_cast<CDlgAnaly_DevInfo*>(pages_[size_t(kDeviceInfo)]);
}

bool CPlomeDlg::OpenAnalysisImage(const QString& path) {
  auto device = std::make_unique<CDevCmdROM>();
  if (!device->SetImageFile(ToStd(path).c_str())) {
    ShowMessage(LoadLangText("Message", 1405) + "\n" + ToStd(path) + ": " + device->GetLastOpenError(), msgbox::kErrorOk);
    return false;
  }
  analysisImage_ = std::move(device);
  return true;
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
  if (mode_ < kAnalyseDisc || mode_ > kDeviceInfo) return;
  CDevCmdROM* drive = AnalysisDrive(askForImage);
  if (mode_ == kAnalyseDisc) AnalysisWindow()->SetDrive(drive);
  else if (mode_ == kAnalyseSector) SectorWindow()->SetDrive(drive);
  else DeviceInfoWindow()->ShowDeviceInfo(drive);
}

CDlgDiscCopy* CPlomeDlg::CopyWindow() const { return qobject_cast<CDlgDiscCopy*>(pages_[size_t(kDiscCopy)]); }

CDlgDataCD* CPlomeDlg::DataWindow(int mode) const {
  if (mode != kMp3Disc && mode != kDataDisc) return nullptr;
  return qobject_cast<CDlgDataCD*>(pages_[size_t(mode)]);
}

int CPlomeDlg::DeviceRefreshPeriod() const { return deviceTimer_->interval(); }
void CPlomeDlg::SetDeviceRefreshPeriod(int ms) { deviceTimer_->setInterval(ms); }

// ---------------------------------------------------------------------------
// Start-up

void CPlomeDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Initialise();
}

void CPlomeDlg::Initialise() {
  if (initialised_) return;
  initialised_ = true;
  RestoreWindowSize();
  ShapeWindow();
  LoadSkin();
  const std::string showInfo = GetProgramDir() + "ShowInfo.ini";
  mainType_ = std::atoi(ini::GetString(showInfo, "Info Set", "Maintype", "0").c_str());
  if (mainType_ == 1)
    title_->setText(QString::fromStdString(ini::GetString(showInfo, "Info Set", "Mainname", "")));
  setWindowTitle("Varnex");
  FillRecorderLists();
  RestoreLastMode();
  FillSpeedList();
  RegisterProjectFileType();
  InstallIcon();
  if (!commandLineFile_.isEmpty()) OpenProjectFile(commandLineFile_);
  version_->setText(QString::fromStdString(VersionLabel()));
  StartUpdateCheck();
  handOver_ = new HandOverServer([this](int command, const QString& path) { return AddFromShell(command, path); },
                                 this);
  handOver_->SetBatchHandler([this](int command, const QStringList& paths) { return AddFromShell(command, paths); });
  handOver_->Listen();
  deviceTimer_->start();
  ArmSchedule();
  // The keyboard starts in the project, not on the first of the buttons.
  if (CDlgDataCD* w = DataWindow(mode_)) w->Tree()->setFocus();
  else if (CDlgAudioCD* a = AudioWindow(); a && mode_ == kAudioCD) a->setFocus();
  else recorderList_->setFocus();
}

void CPlomeDlg::InstallIcon() {
  const QString icon = QString::fromStdString(GetProgramDir()) + "Skin/varnex.png";
  setWindowIcon(QIcon(icon));
  // The desktop entry names the icon "varnex"; it goes beside the user's
  // other icons once, and is never overwritten.
  const XdgDataFolders folders = XdgDataFolders::FromEnvironment();
  const QString target = QString::fromStdString(folders.dataHome) + "/icons/hicolor/256x256/apps/varnex.png";
  if (QFile::exists(target) || !QFile::exists(icon)) return;
  QDir().mkpath(QFileInfo(target).path());
  QFile::copy(icon, target);
}

void CPlomeDlg::ShapeWindow() {
  if (shape_.isNull()) shape_ = QImage(QString::fromStdString(GetProgramDir()) + "Skin/Shape.bmp");
  // A maximised window fills the screen up to its corners.
  if (shape_.isNull() || isMaximized() || isFullScreen()) clearMask();
  else setMask(ShapeRegion(shape_, size()));
}

void CPlomeDlg::LoadSkin() {
  background_ = SkinBitmap("Main.bmp");
  logo_->setPixmap(SkinBitmap("logo.bmp", true));
  auto pair = [this](int id, const QString& name, bool language) {
    if (CSkinBtn* b = Button(id)) b->SetBitmaps(SkinBitmap(name + "_1.bmp", language), SkinBitmap(name + "_2.bmp", language));
  };
  pair(kIdAudio, "BtnAudioCD", true);
  pair(kIdData, "BtnDataCD", true);
  pair(kIdAnalysis, "BtnAnalyseCD", true);
  pair(kIdCopy, "BtnDiscCopy", true);
  pair(kIdMp3, "BtnPlome", false);
  pair(kIdVcd, "BtnVCD", false);
  pair(kIdSvcd, "BtnSVCD", false);
  pair(kIdDvd, "BtnDVD", false);
  pair(kIdRefresh, "Refresh", false);
  pair(kIdSave, "SAVE", false);
  pair(kIdSaveProject, "SAVE", false);
  pair(kIdAdd, "AddFiles", false);
  pair(kIdOpen, "OpenBCD", false);
  pair(kIdNew, "NewBCDFile", false);
  pair(kIdBurn, "Burn", false);
  pair(kIdAnalyCD, "AnalyCD", false);
  pair(kIdAnalySector, "AnalySector", false);
  pair(kIdAnalyDev, "AnalyDev", false);
  pair(kIdErase, "Erase", false);
  pair(kIdEject, "EjectDisc", false);
  pair(kIdLoad, "CloseDisc", false);
  pair(kIdHelp, "Help", false);
  pair(kIdSchedule, "Timingset", false);
  pair(kIdMinimise, "Min", false);
  pair(kIdClose, "Close", false);
  // Text for buttons whose picture is missing.
  for (auto& [id, b] : buttons_)
    if (auto tip = kTips.find(id); tip != kTips.end()) b->setText(Tr("Tip", tip->second).left(6));
  update();
}

void CPlomeDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (background_.isNull()) {
    p.fillRect(rect(), SkinColour());
    return;
  }
  // The background is cut in nine: the corners stay as drawn, the header
  // and the status bar stretch sideways, the sides stretch downwards and
  // the middle both ways.
  const int bw = background_.width(), bh = background_.height();
  const int left = std::min(20, bw / 3), right = std::min(20, bw / 3);
  const int top = std::min(kWorkTop, bh / 2), bottom = std::min(kStatusHeight, bh / 4);
  const int xs[4] = {0, left, width() - right, width()};
  const int ys[4] = {0, top, height() - bottom, height()};
  const int sx[4] = {0, left, bw - right, bw};
  const int sy[4] = {0, top, bh - bottom, bh};
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col)
      p.drawPixmap(QRect(QPoint(xs[col], ys[row]), QPoint(xs[col + 1] - 1, ys[row + 1] - 1)), background_,
                   QRect(QPoint(sx[col], sy[row]), QPoint(sx[col + 1] - 1, sy[row + 1] - 1)));
}

void CPlomeDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayOutForSize();
  if (initialised_) ShapeWindow();
}

void CPlomeDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && initialised_) ShapeWindow();
}

void CPlomeDlg::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click on the header maximises the window or makes it normal again.
  if (event->button() == Qt::LeftButton && event->position().y() < kHeaderHeight) {
    if (isMaximized()) showNormal();
    else showMaximized();
    return;
  }
  QDialog::mouseDoubleClickEvent(event);
}

void CPlomeDlg::LayOutForSize() {
  const int w = width(), h = height();
  title_->setGeometry(200, 8, std::max(120, w - 200 - 160), 32);
  status_->setGeometry(14, h - 25, std::max(200, w - 360), 22);
  activity_->setGeometry(w - 340, h - 22, 16, 16);
  info_->setGeometry(w - 316, h - 25, 196, 22);
  version_->setGeometry(w - 116, h - 25, 104, 22);
  if (sizeGrip_) sizeGrip_->setGeometry(w - 14, h - 14, 14, 14);
  buttons_[kIdHelp]->move(w - 140, 6);
  buttons_[kIdMinimise]->setGeometry(w - 74, 12, 28, 24);
  buttons_[kIdClose]->setGeometry(w - 42, 12, 28, 24);
  // The recorder list takes the room the window gains; the speed list stays
  // at the right edge.
  recorderList_->setGeometry(414, kToolbarY + 5, w - 414 - 156, 26);
  speedList_->setGeometry(w - 148, kToolbarY + 5, 134, 26);
  workArea_->setGeometry(10, kWorkTop, w - 20, h - kWorkTop - kStatusHeight);
  for (QWidget* page : pages_)
    if (page) page->setGeometry(0, 0, workArea_->width(), workArea_->height());
}

void CPlomeDlg::CreateShortcuts() {
  auto shortcut = [this](const QKeySequence& keys, auto slot) {
    auto* s = new QShortcut(keys, this);
    s->setContext(Qt::WindowShortcut);
    connect(s, &QShortcut::activated, this, slot);
    return s;
  };
  auto projectMode = [this] { return HasProjectWindow(mode_) && finished_ && !eraseBusy_; };
  shortcut(QKeySequence::New, [this, projectMode] { if (projectMode()) NewProject(); });
  shortcut(QKeySequence::Open, [this, projectMode] { if (projectMode()) OpenProject(); });
  shortcut(QKeySequence::Save, [this, projectMode] { if (projectMode()) SaveProject(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), [this, projectMode] { if (projectMode()) SaveProjectAs(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_B), [this] { Burn(); });
  shortcut(QKeySequence::Quit, [this] { close(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_E), [this] { Erase(); });
}

// The update check runs only with an update server and in a program folder
// this program writes (never for a distribution package); the information
// button fetches its items from the same server.
void CPlomeDlg::StartUpdateCheck() {
  const std::string server = UpdateServerAddress();
  if (CUpdate::Enabled(server, GetProgramDir(), GetWritableDir())) {
    updateHost_ = std::make_shared<QtUpdateHost>(this);
    update_ = std::make_unique<CUpdate>(*updateHost_, MakeCurlNetwork(UpdateServerCaFile()), server, GetProgramDir());
    update_->Start("varnex");
  }
  info_->StartDownload(server, server.empty() ? nullptr : MakeCurlNetwork(UpdateServerCaFile()));
}

// ---------------------------------------------------------------------------
// Modes

void CPlomeDlg::RestoreLastMode() {
  const std::string index = ini::GetString(SettingsFile(), "Windows", "Index", "0");
  static const std::map<std::string, int> modes = {{"0", kAudioCD}, {"1", kMp3Disc}, {"2", kDataDisc},
                                                   {"3", kVcd},     {"4", kSvcd},     {"5", kDvd},
                                                   {"6", kAnalyseDisc}, {"7", kAnalyseDisc}, {"8", kAnalyseDisc}};
  static const std::map<int, int> highlight = {{kAudioCD, 0}, {kDataDisc, 1}, {kMp3Disc, 2}, {kVcd, 3},
                                               {kSvcd, 4},    {kDvd, 5},      {kAnalyseDisc, 7}};
  if (index == "9") {
    SwitchMode(kAudioCD);
    SwitchMode(kDiscCopy);
    HighlightModeButton(6);
    return;
  }
  auto it = modes.find(index);
  int mode = it == modes.end() ? kAudioCD : it->second;
  SwitchMode(mode);
  HighlightModeButton(highlight.at(mode));
}

void CPlomeDlg::SaveWindowSize() {
  const QSize normal = isMaximized() ? normalGeometry().size() : size();
  ini::WriteString(SettingsFile(), "Windows", "Width", std::to_string(normal.width()));
  ini::WriteString(SettingsFile(), "Windows", "Height", std::to_string(normal.height()));
  ini::WriteString(SettingsFile(), "Windows", "Maximized", isMaximized() ? "1" : "0");
}

void CPlomeDlg::RestoreWindowSize() {
  QSize wanted(ini::GetInt(SettingsFile(), "Windows", "Width", kWidth),
               ini::GetInt(SettingsFile(), "Windows", "Height", kHeight));
  // Never larger than the screen it opens on, and never smaller than the
  // skin unless the screen is (a small screen, or large text scaling).
  QSize smallest(kWidth, kHeight);
  if (QScreen* s = screen()) {
    const QSize room = s->availableGeometry().size();
    smallest = smallest.boundedTo(room);
    wanted = wanted.boundedTo(room);
  }
  setMinimumSize(smallest);
  resize(wanted.expandedTo(smallest));
  if (ini::GetInt(SettingsFile(), "Windows", "Maximized", 0) == 1) setWindowState(windowState() | Qt::WindowMaximized);
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
    w->FillSourceDrives();
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

void CPlomeDlg::SwitchMode(int index) {
  if (index < 0 || index >= kModeCount || index == mode_) return;
  mode_ = index;
  const ModeInfo& info = kModes[index];

  filling_ = true;
  recorderList_->clear();
  recorderList_->addItems(info.allDrives ? allDrives_ : recorders_);
  if (info.imageEntry) recorderList_->addItem(Tr("UIText", 91));
  recorderList_->setCurrentIndex(0);
  filling_ = false;

  int rememberedFor = (index == kAnalyseSector || index == kDeviceInfo) ? kAnalyseDisc : index;
  int entry = remembered_[size_t(rememberedFor)];
  if (entry < 0 || entry >= recorderList_->count()) entry = 0;
  recorderList_->setCurrentIndex(entry);
  recorderList_->setVisible(index != kAnalyseSector && index != kDeviceInfo);
  SelectRecorder();

  if (!pages_[size_t(index)]) pages_[size_t(index)] = CreatePage(index);
  QWidget* page = pages_[size_t(index)];
  if (mainType_ != 1) title_->setText(Tr("Tip", info.tip));
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
  speedList_->setVisible(index < kAnalyseDisc || index > kDeviceInfo);
  ShowCapacity(discKnown_, disc_);  // the new page's capacity bar
  UpdateTitle();
  ShowAnalysis();
  emit ModeSwitched(index);
}

void CPlomeDlg::LayOutToolbar(int group) {
  toolbarGroup_ = group;
  std::vector<int> shown;
  if (group == kGroupProject) shown = {kIdOpen, kIdNew, kIdSaveProject, kIdAdd, kIdBurn};
  else if (group == kGroupAnalysis) shown = {kIdRefresh, kIdSave, kIdAnalyCD, kIdAnalySector, kIdAnalyDev};
  else shown = {kIdRefresh, kIdBurn};
  for (int id : {kIdRefresh, kIdSave, kIdOpen, kIdSaveProject, kIdNew, kIdAdd, kIdBurn, kIdAnalyCD, kIdAnalySector,
                 kIdAnalyDev})
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

// ---------------------------------------------------------------------------
// Recorders

void CPlomeDlg::FillRecorderLists() {
  std::vector<DriveEntry> drives = RunOffWindowThread([this] { return service_->Drives(); });
  allDrives_.clear();
  recorders_.clear();
  for (const DriveEntry& d : drives) {
    if (d.index == 0) continue;
    if (d.index >= 26) break;
    allDrives_ << QString::fromStdString(d.text);
    if (d.recorder) recorders_ << QString::fromStdString(d.text);
  }
}

bool CPlomeDlg::ImageEntrySelected() const { return recorderList_->currentText().startsWith('['); }

int CPlomeDlg::SelectedDrive() const {
  if (recorderList_->count() == 0 || ImageEntrySelected()) return -1;
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
  if (ImageEntrySelected() && mode_ >= kAnalyseDisc && mode_ <= kDeviceInfo) {
    // Choosing the image entry again opens another image.
    QString path = Files()->OpenFile(this, Tr("UIText", 1234), "Image files(*.iso;*.cue;*.toc;*.nrg;*.bin)|*.iso;*.cue;*.toc;*.nrg;*.bin||");
    if (!path.isEmpty()) OpenAnalysisImage(path);
  }
  ShowAnalysis(false);
  remembered_[size_t(mode_ == kAnalyseSector || mode_ == kDeviceInfo ? kAnalyseDisc : mode_)] =
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
    status_->setText(Tr("UIText", 2));
    ShowCapacity(false, info);
    return;
  }
  QString name = QString::fromStdString(MediumName(info.mediumType));
  if (name.isEmpty()) name = Tr("UIText", 3);
  QString text = name + " " + Tr("UIText", info.blank ? 4 : 5) + " " + Tr("UIText", info.writable ? 6 : 7) + " " +
                 Tr("UIText", 8) + " " + QString::fromStdString(FormatSize(info.freeBytes));
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
    if (known) w->CapacityBar()->SetDisc(info.usedBytes, info.freeBytes);
    else w->CapacityBar()->SetNoDisc();
    // An image file is laid out as a CD; a disc names itself by its kind.
    if (!known && !ImageEntrySelected()) continue;
    const int type = known ? info.mediumType : medium::kCdR;
    w->SetDefaultLabel(medium::IsBd(type) ? "DataBD" : medium::IsDvd(type) ? "DataDVD" : "DataCD");
  }
}

void CPlomeDlg::UpdateTitle() {
  QString title = "Varnex";
  QString heading = mode_ >= 0 ? Tr("Tip", kModes[mode_].tip) : QString();
  if (CDlgDataCD* w = DataWindow(mode_)) {
    QString name = w->IsImageMode() ? QFileInfo(w->GetImagePath()).fileName()
                   : !w->GetProjectPath().isEmpty() ? QFileInfo(w->GetProjectPath()).completeBaseName()
                                                    : w->GetVolumeLabel();
    if (w->IsModified() && !w->IsImageMode()) name = "*" + name;
    title = "Varnex \u2013 " + name + " (" + heading + ")";
  } else if (CDlgVideoDisc* v = VideoWindow()) {
    QString name = v->ProjectPath().isEmpty() ? v->LabelEdit()->text() : QFileInfo(v->ProjectPath()).completeBaseName();
    if (v->IsModified()) name = "*" + name;
    title = "Varnex \u2013 " + name + " (" + heading + ")";
  } else if (CDlgAudioCD* a = AudioWindow(); a && mode_ == kAudioCD) {
    QString name = a->GetProjectPath().isEmpty() ? "AudioCD" : QFileInfo(a->GetProjectPath()).completeBaseName();
    if (a->IsModified()) name = "*" + name;
    title = "Varnex \u2013 " + name + " (" + heading + ")";
  } else if (!heading.isEmpty()) {
    title = "Varnex \u2013 " + heading;
  }
  // The title keeps beginning with the program's name: scripts and the
  // screen checks find the window by it.
  setWindowTitle(title);
}

void CPlomeDlg::FillSpeedList() {
  if (mode_ >= kAnalyseDisc && mode_ <= kDeviceInfo) return;
  speedList_->clear();
  int drive = SelectedDrive();
  if (drive < 0) {
    speedList_->setEnabled(false);
    return;
  }
  speedList_->setEnabled(true);
  std::vector<int> factors = RunOffWindowThread([&] { return WriteSpeedFactors(*service_, uint8_t(drive), nullptr); });
  speedList_->addItem(Tr("UIText", 1));
  for (int f : factors) speedList_->addItem(QString::asprintf("%dX", f));
  speedList_->setCurrentIndex(0);
}

void CPlomeDlg::ShowActivity() {
  activityQueued_ = false;
  activity_->setPixmap(ActivityLight(true));
  activity_->setProperty("flashes", activity_->property("flashes").toInt() + 1);
  QTimer::singleShot(3, this, [this] {
    activity_->setPixmap(ActivityLight(false));
  });
}

void CPlomeDlg::OnDeviceChange() {
  if (!initialised_ || mode_ == kDiscCopy || !finished_ || eraseBusy_) return;
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
  int drive = SelectedDrive();
  if (drive < 0) return;
  RunOffWindowThread([&] {
    if (open) service_->Lock(uint8_t(drive), false);
    return service_->Eject(uint8_t(drive), open);
  });
  ShowDiscStatus();
}

// ---------------------------------------------------------------------------
// Projects

bool CPlomeDlg::OpenProjectFile(const QString& path) {
  int kind = ReadProjectKind(ToStd(path));
  int mode = -1;
  switch (kind) {
    case project::kAudioCD: mode = kAudioCD; break;
    case project::kDataDisc: mode = kDataDisc; break;
    case project::kMp3Disc: mode = kMp3Disc; break;
    case project::kVideoCD: mode = kVcd; break;
    case project::kSuperVideoCD: mode = kSvcd; break;
    case project::kDvdVideo: mode = kDvd; break;
    default:
      ShowMessage(LoadErrorText(result::kProjectUnreadable) + "\n" + ToStd(path), msgbox::kErrorOk);
      return false;
  }
  if (!ModeAvailable(mode)) {
    ShowMessage(LoadLangText("Message", 1008), msgbox::kInfoOk);
    return false;
  }
  SwitchMode(mode);
  HighlightModeButton(mode == kAudioCD ? 0 : mode == kDataDisc ? 1 : mode == kMp3Disc ? 2 : mode);
  const bool loaded = mode == kAudioCD               ? AudioWindow()->LoadProject(path)
                      : VideoWindow()                 ? VideoWindow()->LoadProject(path)
                                                      : DataWindow(mode)->LoadProject(path);
  UpdateTitle();
  return loaded;
}

void CPlomeDlg::OpenProject() {
  const QString projects = Tr("UIText", 100);
  QString filter = projects + "(*.bcd)|*.bcd||";
  if (mode_ == kDataDisc)
    filter = Tr("UIText", 101) + "(*.iso; *.img; *.nrg; *.vcd)|*.bcd; *.iso; *.img; *.nrg; *.vcd|" + projects +
             "(*.bcd)|*.bcd||";
  QString path = Files()->OpenFile(this, projects, filter);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().toUpper() != "BCD") {
    CDlgDataCD* w = DataWindow(kDataDisc);
    if (mode_ != kDataDisc || !w || !w->ImportImage(path)) ShowMessage(LoadLangText("Message", 5), msgbox::kErrorOk);
    UpdateTitle();
    return;
  }
  OpenProjectFile(path);
}

bool CPlomeDlg::SaveProject() {
  if (CDlgVideoDisc* v = VideoWindow()) {
    QString path = v->ProjectPath();
    if (path.isEmpty())
      path = Files()->SaveFile(this, Tr("UIText", 100), Tr("UIText", 100) + "(*.bcd)|*.bcd||",
                               mode_ == kVcd    ? "VideoCD.bcd"
                               : mode_ == kSvcd ? "SuperVideoCD.bcd"
                                                : "DVD-Video.bcd",
                               "bcd");
    if (path.isEmpty()) return false;
    const bool saved = v->SaveProject(path);
    UpdateTitle();
    return saved;
  }
  if (CDlgAudioCD* a = AudioWindow(); a && mode_ == kAudioCD) {
    QString path = a->GetProjectPath();
    if (path.isEmpty()) path = Files()->SaveFile(this, Tr("UIText", 100), Tr("UIText", 100) + "(*.bcd)|*.bcd||", "AudioCD.bcd", "bcd");
    if (path.isEmpty()) return false;
    const bool saved = a->SaveProject(path);
    UpdateTitle();
    return saved;
  }
  CDlgDataCD* w = DataWindow(mode_);
  if (!w) return false;
  if (w->IsImageMode()) return false;
  QString path = w->GetProjectPath();
  if (path.isEmpty()) {
    path = Files()->SaveFile(this, Tr("UIText", 100), Tr("UIText", 100) + "(*.bcd)|*.bcd||",
                             mode_ == kMp3Disc ? "Plome.bcd" : "DataCD.bcd", "bcd");
    if (path.isEmpty()) return false;
  }
  // The project is written beside the old file and renamed over it, so a
  // failed save leaves the old file as it was.
  const bool saved = w->SaveProject(path);
  UpdateTitle();
  return saved;
}

bool CPlomeDlg::SaveProjectAs() {
  if (CDlgAudioCD* a = AudioWindow(); a && mode_ == kAudioCD) {
    const QString current = a->GetProjectPath();
    const QString path = Files()->SaveFile(this, Tr("UIText", 100), Tr("UIText", 100) + "(*.bcd)|*.bcd||",
                                           current.isEmpty() ? "AudioCD.bcd" : QFileInfo(current).fileName(), "bcd");
    if (path.isEmpty()) return false;
    const bool saved = a->SaveProject(path);
    UpdateTitle();
    return saved;
  }
  CDlgDataCD* w = DataWindow(mode_);
  if (!w || w->IsImageMode()) return false;
  const QString current = w->GetProjectPath();
  const QString name = current.isEmpty() ? (mode_ == kMp3Disc ? "Plome.bcd" : "DataCD.bcd") : QFileInfo(current).fileName();
  const QString path = Files()->SaveFile(this, Tr("UIText", 100), Tr("UIText", 100) + "(*.bcd)|*.bcd||", name, "bcd");
  if (path.isEmpty()) return false;
  return w->SaveProject(path);
}

void CPlomeDlg::NewProject() {
  if (CDlgVideoDisc* v = VideoWindow()) {
    if (!v->IsEmpty() && v->IsModified()) {
      const int answer = ShowMessage(LoadLangText("Message", 24), msgbox::kQuestionYesNoCancel);
      if (answer == msgbox::kCancel) return;
      if (answer == msgbox::kYes && !SaveProject()) return;
    }
    v->Clear();
    UpdateTitle();
    return;
  }
  if (CDlgAudioCD* a = AudioWindow(); a && mode_ == kAudioCD) {
    const int answer = ShowMessage(LoadLangText("Message", 24), msgbox::kQuestionYesNoCancel);
    if (answer == msgbox::kCancel) return;
    if (answer == msgbox::kYes && !SaveProject()) return;
    a->Clear();
    UpdateTitle();
    return;
  }
  CDlgDataCD* w = DataWindow(mode_);
  if (!w) return;
  if (!(mode_ == kDataDisc && w->IsImageMode())) {
    int answer = ShowMessage(LoadLangText("Message", 24), msgbox::kQuestionYesNoCancel);
    if (answer == msgbox::kCancel) return;
    // A project that could not be saved is kept.
    if (answer == msgbox::kYes && !SaveProject()) return;
  }
  w->Clear();
  UpdateTitle();
}

bool CPlomeDlg::AddFromShell(int command, const QString& path) {
  return AddFromShell(command, QStringList{path});
}

bool CPlomeDlg::AddFromShell(int command, const QStringList& paths) {
  if (command == int(handover::kCloseCommand)) {
    // The updater asks: the window closes as its own Close would, asking
    // about a running burn or unsaved projects first.
    QTimer::singleShot(0, this, &QWidget::close);
    return true;
  }
  static const std::map<int, int> modes = {{101, kAudioCD}, {102, kDataDisc}, {103, kMp3Disc},
                                           {104, kVcd},     {105, kSvcd},     {106, kDvd}};
  auto it = modes.find(command);
  if (it == modes.end()) return false;
  if (!ModeAvailable(it->second)) {
    ShowMessage(LoadLangText("Message", 1008), msgbox::kInfoOk);
    return false;
  }
  if (!finished_ || eraseBusy_) return false;
  SwitchMode(it->second);
  HighlightModeButton(it->second == kAudioCD ? 0 : it->second == kDataDisc ? 1 : 2);
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  if (it->second == kAudioCD) return AudioWindow()->AddPathsFromShell(paths);
  return DataWindow(it->second)->AddPathsFromShell(paths);
}

// ---------------------------------------------------------------------------
// Burning

void CPlomeDlg::Burn() {
  if (!finished_ || eraseBusy_) return;
  if (mode_ == kDiscCopy) return BurnCopy();
  if (mode_ == kAudioCD && AudioWindow()) return BurnAudio();
  if (VideoWindow()) return BurnVideo();
  if (mode_ >= kAnalyseDisc && mode_ <= kDeviceInfo) return;
  CDlgDataCD* w = DataWindow(mode_);
  if (!w) {
    ShowMessage(LoadLangText("Message", 1008), msgbox::kInfoOk);
    return;
  }
  const bool imageEntry = ImageEntrySelected();
  if (mode_ == kDataDisc && imageEntry && w->IsImageMode()) {
    ShowMessage(LoadLangText("Message", 60), msgbox::kInfoOk);
    return;
  }
  if (recorderList_->count() == 0 && mode_ == kMp3Disc) {
    ShowMessage(LoadLangText("Message", 2), msgbox::kInfoOk);
    return;
  }
  if (recorderList_->count() == 0 || (!imageEntry && SelectedDrive() < 0)) {
    ShowMessage(LoadLangText("Message", 16), msgbox::kInfoOk);
    return;
  }
  const int drive = imageEntry ? 0 : SelectedDrive();
  DiscInfo disc;
  if (!imageEntry ? !CheckDiscForBurn(w, drive, &disc) : !AskImageFile(w)) return;
  if (w->IsEmpty()) {
    ShowMessage(LoadErrorText(result::kEmptyProject), msgbox::kInfoOk);
    return;
  }
  burnMedium_ = imageEntry ? medium::kCdR : disc.mediumType;
  if (!w->IsImageMode()) {
    if (!imageEntry && !CheckRoom(w, drive, &disc)) return;
    // CD media and image files take ISO 9660 with Joliet names, DVD and BD
    // media take UDF.
    if (!CheckNames(w, !imageEntry && !medium::IsCd(disc.mediumType))) return;
  }
  copies_ = 1;
  recorderCount_ = 1;
  recorderListText_.clear();
  if (imageEntry) {
    afterAction_ = 0;
    closeDisc_ = true;
  } else if (!RunBurnSettings(drive, mode_ == kDataDisc)) {
    return;
  }
  StartBurn();
}

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
  if (!CheckAudioBurn(drive, &disc)) return;
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
  if (!CheckVideoBurn(drive, &disc)) return;
  burnMedium_ = disc.mediumType;
  copies_ = 1;
  recorderCount_ = 1;
  recorderListText_.clear();
  if (!RunBurnSettings(drive, false)) return;
  StartBurn();
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
    ShowMessage(LoadLangText("Message", v == kNotReady ? 1 : v == kWrongKind ? wrongKind : 62), msgbox::kInfoOk);
    ShowDiscStatus();
    return false;
  }
  return true;
}

bool CPlomeDlg::CheckVideoBurn(int drive, DiscInfo* disc) {
  return CheckBlankDisc(drive, disc, mode_ == kDvd, mode_ == kDvd ? 1350 : 1300);
}

// The disc in the drive takes this project: ready, and writable (data) or
// blank (MP3). A full or closed rewritable disc is offered for erasing by
// CheckRoom; any other unsuitable disc is ejected with a message.
bool CPlomeDlg::CheckDiscForBurn(CDlgDataCD* w, int drive, DiscInfo* disc) {
  enum Verdict { kGood, kNotReady, kNotWritable, kNotBlank, kErasable };
  const bool dataMode = mode_ == kDataDisc;
  Verdict v = RunOffWindowThread([&] {
    if (service_->TestUnitReady(uint8_t(drive)) != 0) return kNotReady;
    if (service_->GetDiscInfoEx(uint8_t(drive), disc) != result::kSuccess) return kNotReady;
    Verdict verdict = kGood;
    if (dataMode && (!disc->writable || disc->freeBytes == 0)) verdict = kNotWritable;
    if (!dataMode && !disc->blank) verdict = kNotBlank;
    // A full or closed rewritable disc is offered for erasing (CheckRoom).
    if (verdict == kNotWritable && medium::IsErasable(disc->mediumType) && !w->IsImageMode()) return kErasable;
    if (verdict != kGood) service_->Eject(uint8_t(drive), true);
    return verdict;
  });
  if (v == kNotReady) {
    ShowMessage(LoadLangText("Message", 1), msgbox::kInfoOk);
    return false;
  }
  if (v == kNotWritable || v == kNotBlank) {
    ShowMessage(LoadLangText("Message", v == kNotWritable ? 17 : 62), msgbox::kInfoOk);
    ShowDiscStatus();
    return false;
  }
  return true;
}

// The image file entry: the user names the file the image goes to.
bool CPlomeDlg::AskImageFile(CDlgDataCD* w) {
  // An empty project is refused before a file is named: nothing is done to it.
  if (w->IsEmpty()) {
    ShowMessage(LoadErrorText(result::kEmptyProject), msgbox::kInfoOk);
    return false;
  }
  QString path = Files()->SaveFile(this, Tr("UIText", 91), "ISO files(*.iso)|*.iso||", "DataCD.iso", "iso");
  if (path.isEmpty()) return false;
  // An existing file is replaced only once the new image is complete (the
  // image target writes beside it and renames), so a failed or stopped
  // burn leaves it as it was.
  if (RunOffWindowThread([&] { return service_->SetImageFile(0, ToStd(path)); }) != result::kSuccess) {
    ShowMessage(LoadLangText("Message", 5) + "\n" + ToStd(path), msgbox::kErrorOk);
    return false;
  }
  burnImagePath_ = path;
  return true;
}

// The burn settings dialog; its speed goes to every recorder it names.
// `closeDiscChoice`: the user may leave the disc open for another session.
// False when the user cancelled it.
bool CPlomeDlg::RunBurnSettings(int drive, bool closeDiscChoice) {
  CDlgBurnSet settings(service_.get(), this);
  settings.SetMainDrive(uint8_t(drive));
  settings.SetRecorders(recorders_);
  if (closeDiscChoice) settings.SetCloseDisc(false, true);
  else settings.SetCloseDisc(true, false);
  emit DialogOpened(&settings);
  if (settings.exec() != QDialog::Accepted) return false;
  afterAction_ = settings.AfterBurnAction();
  closeDisc_ = settings.CloseDisc();
  copies_ = settings.Copies();
  recorderCount_ = settings.RecorderCount();
  recorderListText_ = settings.RecorderListText();
  if (!recorderListText_.isEmpty() && speedList_->count() >= 2) {
    int pick = speedList_->currentIndex() <= 0 ? 1 : speedList_->currentIndex();
    int factor = std::atoi(speedList_->itemText(pick).toUtf8());
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
  return true;
}

bool CPlomeDlg::CheckRoom(CDlgDataCD* w, int drive, DiscInfo* disc) {
  // The file data alone: the layout adds a little, so a project refused here
  // certainly does not fit; the engine checks the exact size once more.
  const uint64_t need = w->ProjectBytes();
  const bool full = !disc->writable || need > disc->freeBytes;
  if (!full) return true;
  const QString needText = QString::fromStdString(FormatSize(need));
  const bool room = disc->freeBytes + disc->usedBytes >= need || !disc->writable;
  if (medium::IsErasable(disc->mediumType) && mode_ == kDataDisc && room && !disc->blank) {
    const QString text = Tr("Message", 1017).arg(QString::fromStdString(FormatSize(disc->usedBytes)), needText,
                                                  QString::fromStdString(FormatSize(disc->freeBytes)));
    if (ShowMessage(ToStd(text), msgbox::kQuestionYesNo) != msgbox::kYes) {
      if (!disc->writable) {
        // Nothing goes onto this disc as it is: the user may change it.
        RunOffWindowThread([&] { return service_->Eject(uint8_t(drive), true); });
        ShowDiscStatus();
      }
      return false;
    }
    const int erased = EraseDisc(drive);
    if (erased != result::kSuccess) {
      ShowMessage(ErrorWithDetail(erased, drive), msgbox::kErrorOk);
      return false;
    }
    int rc = RunOffWindowThread([&] { return service_->GetDiscInfoEx(uint8_t(drive), disc); });
    ShowDiscStatus();
    if (rc == result::kSuccess && disc->writable && need <= disc->freeBytes) return true;
  }
  const QString text = Tr("Message", 1016).arg(needText, QString::fromStdString(FormatSize(disc->freeBytes)));
  ShowMessage(ToStd(text), msgbox::kErrorOk);
  return false;
}

bool CPlomeDlg::CheckNames(CDlgDataCD* w, bool udf) {
  std::vector<LayoutNotice> notices;
  const std::string root = w->GetStagingRoot();
  // Every source first, as the command line checks them: a burn that meets
  // a file gone, turned into a folder or a pipe, or unreadable would spend
  // a write-once disc without it.
  const std::vector<SourceProblem> problems = RunOffWindowThread([&] { return CheckStagedSources(root); });
  if (!problems.empty()) {
    QStringList lines;
    for (const SourceProblem& p : problems) lines << QString::fromStdString(p.path + ": " + p.reason);
    QString text = lines.mid(0, 12).join("\n");
    if (lines.size() > 12) text += "\n" + Tr("Message", 1023).arg(lines.size() - 12);
    ShowMessage(ToStd(QString::fromStdString(LoadErrorText(result::kSourceNotUsable)) + "\n\n" + text),
                msgbox::kErrorOk);
    return false;
  }
  const bool fits = RunOffWindowThread([&] { return CDataFile::ReviewProject(root, &notices, udf); });
  constexpr size_t kShown = 12;
  QStringList shortened, refused;
  for (const LayoutNotice& n : notices) {
    const QString path = QString::fromStdString(n.discPath);
    switch (n.kind) {
      case LayoutNotice::kJolietShortened:
      case LayoutNotice::kUdfNameChanged:
        shortened << path + "  \u2192  " + QString::fromStdString(n.detail);
        break;
      case LayoutNotice::kNameRefused:
        refused << path + ": " + Tr("Message", 908);
        break;
      case LayoutNotice::kTooLarge:
        refused << QString::fromStdString(n.detail) + ": " + Tr("Message", 906);
        break;
    }
  }
  auto listed = [&](const QStringList& lines) {
    QString text = lines.mid(0, int(kShown)).join("\n");
    if (size_t(lines.size()) > kShown) text += "\n" + Tr("Message", 1023).arg(lines.size() - int(kShown));
    return text;
  };
  if (!fits || !refused.isEmpty()) {
    ShowMessage(ToStd(QString::fromStdString(LoadErrorText(result::kNameNotConvertible)) + "\n\n" + listed(refused)),
                msgbox::kErrorOk);
    return false;
  }
  if (shortened.isEmpty()) return true;
  const QString text = Tr("Message", 1018).arg(udf ? int(CECMA167::kMaxNameBytes / 2) : int(discnames::kJolietMaxChars)) + "\n\n" + listed(shortened) +
                       "\n\n" + Tr("Message", 1019);
  return ShowMessage(ToStd(text), msgbox::kQuestionYesNo) == msgbox::kYes;
}

bool CPlomeDlg::AskOnWindow(int rc, const std::string& detail) {
  std::string text = LoadErrorText(rc);
  if (!detail.empty()) text += "\n" + detail;
  // Writing the same project onto the same disc again cannot make it fit;
  // the end of the burn says why it did not complete.
  if (rc == result::kDoesNotFit) return false;
  text += "\n\n" + LoadLangText("Message", 59);
  return ShowMessage(text, msgbox::kErrorOkCancel) == msgbox::kOk;
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
                         : service_->WriteCd(drive, source, label, !closeDisc, mode == kMp3Disc);
    const std::string detail = rc == result::kSuccess ? std::string() : service_->LastError(drive);
    service_->ResetBurn(drive);
    last = rc;
    if (rc != result::kSuccess) {
      {
        std::lock_guard<std::mutex> hold(lastErrorLock_);
        lastError_ = detail;
      }
      if (stop_) break;
      if (!AskOnWindow(rc, detail)) break;
      --copy;  // the same copy again
      continue;
    }
    if (imageDevice) continue;
    service_->Lock(drive, false);
    service_->Eject(drive, true);
    if (copy < copies) {
      ShowMessage(LoadLangText("Message", 55), msgbox::kInfoOk);
      while (!stop_ && service_->TestUnitReady(drive) != 0)
        for (int i = 0; i < 10 && !stop_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
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

void CPlomeDlg::StartBurnMulti() {
  CDlgDataCD* w = DataWindow(mode_);
  CDlgAudioCD* audio = mode_ == kAudioCD ? AudioWindow() : nullptr;
  CDlgVideoDisc* video = VideoWindow();
  CVideoDiscProject* videoProject = video ? &video->Project() : nullptr;
  const bool fromImage = w && mode_ == kDataDisc && w->IsImageMode();
  const std::string source = !w ? std::string() : fromImage ? ToStd(w->GetImagePath()) : w->GetStagingRoot();
  if (mode_ == kMp3Disc) w->RewritePlaylist();
  const std::string label = w ? ToStd(w->GetVolumeLabel()) : std::string();
  const bool mp3 = mode_ == kMp3Disc, multisession = !closeDisc_;
  RecorderService* service = service_.get();

  std::map<int, QString> names;
  for (const QString& entry : recorders_) names[DriveIndexOfEntry(ToStd(entry))] = entry;
  CDlgProgressMulti progress(this);
  progress.SetProject(video      ? (mode_ == kVcd    ? CDlgProgressMulti::kVideoCd
                                   : mode_ == kSvcd ? CDlgProgressMulti::kSuperVideoCd
                                                    : CDlgProgressMulti::kDvdVideo)
                      : audio    ? CDlgProgressMulti::kAudioCd
                      : fromImage ? CDlgProgressMulti::kDataOrImage
                                  : CDlgProgressMulti::kDataDisc,
                      copies_);
  progress.SetDriveSet(recorderListText_, names);
  // Audio tracks are converted once, then written to every recorder.
  if (audio) progress.SetPrepare([audio](const std::atomic<bool>& stop) { return audio->PrepareTracks(&stop); });
  // A video disc is converted and laid out once; every recorder then writes
  // it with a data source and a burn manager of its own.
  if (video) progress.SetPrepare([video](const std::atomic<bool>& stop) { return video->PrepareVideoDisc(&stop); });
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
  if (videoProject) {
    hooks.progress = [videoProject](int d) { return videoProject->GetBurnProgress(d); };
    hooks.item = [videoProject](int d) { return videoProject->GetWritingItemCaption(d); };
    hooks.error = [videoProject](int d) { return videoProject->LastError(d); };
    hooks.stop = [videoProject](int d) { videoProject->StopBurn(d); };
    // Every copy goes onto a blank CD-R or CD-RW; a DVD-Video onto a
    // writable DVD, as the project judges it.
    hooks.checkDisc = [service, videoProject](int d) {
      if (videoProject->Mode() == CVideoDiscProject::kDvdVideo) return videoProject->CheckTarget(d);
      DiscInfo info;
      if (service->TestUnitReady(uint8_t(d)) != 0 || service->GetDiscInfoEx(uint8_t(d), &info) != result::kSuccess)
        return result::kNotReady;
      if (!medium::IsCd(info.mediumType) || !info.writable) return result::kTargetNotWritable;
      return info.blank ? result::kSuccess : result::kTargetNotBlank;
    };
  }
  progress.SetBurn(
      [=](int d) {
        if (videoProject) return service->WriteVideoDisc(uint8_t(d), *videoProject, nullptr);
        if (audio) return audio->BurnTracks(service, uint8_t(d));
        if (fromImage) return service->WriteImageToCD(uint8_t(d), source, false);
        return service->WriteCd(uint8_t(d), source, label, multisession, mp3);
      },
      hooks);
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
  RunOffWindowThread([service] {
    service->DeleteTempFiles();
    return 0;
  });
  if (closeAfterBurn_) {
    QTimer::singleShot(0, this, &QWidget::close);
  } else if (!done) {
    ShowMessage(LoadLangText("Message", 1010), msgbox::kInfoOk);
  } else if (lastResult_ == result::kSuccess) {
    if (scheduledBurn_) AfterBurnAction();
    ShowMessage(LoadLangText("Message", 40), msgbox::kInfoOk);
    if (!scheduledBurn_) AfterBurnAction();
  } else {
    ShowMessage(LoadLangText("Message", 1500) + "\n" + ToStd(progress.Summary()), msgbox::kErrorOk);
  }
  ShowDiscStatus();
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

  CDlgProgress1 progress(this);
  burnProgress_ = &progress;
  progress.SetCaption(Tr("Message", 54));
  progress.SetDisplay(true, copies_ > 1);
  QTimer timer1;
  timer1.setInterval(100);
  connect(&timer1, &QTimer::timeout, &progress, [&] { OnBurnTimer(&progress); });
  timer1.start();
  emit DialogOpened(&progress);
  bool cancelled = progress.exec() != QDialog::Accepted;
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
  if (!imageEntry) RunOffWindowThread([this] {
    service_->Lock(burnDrive_, false);
    return service_->Eject(burnDrive_, true);
  });
  // Rows that could not be converted and were left out are gone.
  if (audio) audio->RefreshList();
  if (CDlgVideoDisc* v = VideoWindow()) v->RefreshList();
  if (closeAfterBurn_) {
    // The user chose to stop the burn and close the program.
    QTimer::singleShot(0, this, &QWidget::close);
  } else if (cancelled) {
    ShowMessage(LoadLangText("Message", 1010), msgbox::kInfoOk);
  } else if (lastResult_ == result::kSuccess) {
    std::string text = LoadLangText("Message", 40);
    if (imageEntry) text += "\n\n" + LoadLangText("Message", 1020) + "\n" + ToStd(burnImagePath_);
    // Nobody may be there to close the box after a scheduled burn: its
    // action does not wait for it.
    if (scheduledBurn_) AfterBurnAction();
    ShowMessage(text, msgbox::kInfoOk);
    if (!scheduledBurn_) AfterBurnAction();
  } else {
    std::string detail;
    {
      std::lock_guard<std::mutex> hold(lastErrorLock_);
      detail = lastError_;
    }
    ShowMessage(LoadLangText("Message", 1007) + "\n" + LoadErrorText(lastResult_) + (detail.empty() ? "" : "\n" + detail),
                msgbox::kErrorOk);
  }
  ShowDiscStatus();
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

// ---------------------------------------------------------------------------
// Scheduled burning

void CPlomeDlg::ShowSchedule() {
  if (!finished_ || eraseBusy_) return;
  scheduleTimer_->stop();
  CDlgTimeSet dialog(recorders_, [this](int type) {
    static const int modes[] = {kAudioCD, kDataDisc, kMp3Disc, kVcd, kSvcd, kDvd};
    return ModeAvailable(modes[type]);
  }, this);
  emit DialogOpened(&dialog);
  dialog.exec();
  ArmSchedule();
}

void CPlomeDlg::ArmSchedule() {
  if (schedule::LoadTimingSet(SettingsFilePath(), true).on) scheduleTimer_->start(30000);
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
    scheduleTimer_->start(30000);
    return;
  }
  lastScheduledMinute_ = schedule::MinuteStamp(now);
  RunScheduledBurn(set);
  ArmSchedule();
}

void CPlomeDlg::RunScheduledBurn(const schedule::TimingSet& set) {
  static const int modes[] = {kAudioCD, kDataDisc, kMp3Disc, kVcd, kSvcd, kDvd};
  static const int highlights[] = {0, 1, 2, 3, 4, 5};
  if (set.discType < 0 || set.discType > 5 || !ModeAvailable(modes[set.discType])) {
    ShowMessage(LoadLangText("Message", 1008), msgbox::kInfoOk);
    return;
  }
  afterAction_ = set.afterBurning >= 0 && set.afterBurning <= 3 ? set.afterBurning : 0;
  closeDisc_ = set.closeDisc;
  copies_ = 1;
  int count = 0;
  recorderListText_ = QString::fromStdString(schedule::DriveIndexList(set.recorders, &count));
  recorderCount_ = std::max(1, count);
  SwitchMode(modes[set.discType]);
  HighlightModeButton(highlights[set.discType]);
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

// ---------------------------------------------------------------------------
// Erasing

void CPlomeDlg::Erase() {
  if (!finished_ || eraseBusy_) return;
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

// ---------------------------------------------------------------------------
// Keys, mouse, closing

void CPlomeDlg::ShowHelp() {
  const QString file = QString::fromStdString(ChooseHelpFile());
  if (openUrl_(QUrl::fromLocalFile(file))) return;
  // Without a browser the user can still open the file by hand.
  ShowMessage(LoadLangText("Message", 1021) + "\n" + ToStd(file), msgbox::kInfoOk);
}

void CPlomeDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      event->accept();
      return;
    case Qt::Key_F1:
      ShowHelp();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CPlomeDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) pressedAt_ = event->position().toPoint();
  QDialog::mousePressEvent(event);
}

void CPlomeDlg::mouseMoveEvent(QMouseEvent* event) {
  // The window moves once the pointer is dragged, so that a double click on
  // the header still reaches the window.
  if ((event->buttons() & Qt::LeftButton) && pressedAt_.x() >= 0 && !isMaximized() && windowHandle() &&
      (event->position().toPoint() - pressedAt_).manhattanLength() >= QApplication::startDragDistance()) {
    pressedAt_ = QPoint(-1, -1);
    windowHandle()->startSystemMove();
    return;
  }
  QDialog::mouseMoveEvent(event);
}

void CPlomeDlg::closeEvent(QCloseEvent* event) {
  if (eraseBusy_) {
    event->ignore();  // an erase cannot be stopped half way; its window says so
    return;
  }
  if (!finished_) {
    // A burn runs: stop it only when the user says so, and close once the
    // burn thread has ended and the recorder is released.
    event->ignore();
    if (closeAfterBurn_ || ShowMessage(LoadLangText("Message", 1015), msgbox::kQuestionYesNo) != msgbox::kYes)
      return;
    closeAfterBurn_ = true;
    stop_ = true;
    KillAllTools();
    service_->AbortWrite(burnDrive_);
    if (burnProgress_) burnProgress_->done(QDialog::Rejected);
    if (multiProgress_) multiProgress_->Stop();
    return;
  }
  closeAfterBurn_ = false;
  if (!ConfirmUnsavedProjects()) {
    event->ignore();
    return;
  }
  SaveLastMode();
  SaveWindowSize();
  deviceTimer_->stop();
  if (handOver_) handOver_->Stop();
  event->accept();
  done(QDialog::Accepted);
}

// Whether the project of `mode` holds changes that were not saved. Every
// mode with a project window is answered here, so that closing asks for
// each of them.
bool CPlomeDlg::HasUnsavedProject(int mode) const {
  if (!HasProjectWindow(mode)) return false;
  if (mode == kAudioCD) {
    const CDlgAudioCD* a = AudioWindow();
    return a && a->IsModified() && !a->IsEmpty();
  }
  if (const CDlgDataCD* w = DataWindow(mode)) return w->IsModified() && !w->IsImageMode() && !w->IsEmpty();
  if (const auto* v = qobject_cast<const CDlgVideoDisc*>(pages_[size_t(mode)])) return v->IsModified() && !v->IsEmpty();
  return true;  // a project window of a kind not known here: better asked than lost
}

bool CPlomeDlg::ConfirmUnsavedProjects() {
  static const int kProjectModes[] = {kAudioCD, kDataDisc, kMp3Disc, kVcd, kSvcd, kDvd};
  for (int mode : kProjectModes) {
    if (!HasUnsavedProject(mode)) continue;
    if (mode_ != mode) {
      SwitchMode(mode);
      HighlightModeButton(mode == kAudioCD ? 0 : mode == kDataDisc ? 1 : mode == kMp3Disc ? 2 : mode);
    }
    const int answer = ShowMessage(LoadLangText("Message", 24), msgbox::kQuestionYesNoCancel);
    if (answer == msgbox::kCancel) return false;
    if (answer == msgbox::kYes && !SaveProject()) return false;  // a project that could not be saved stays open
  }
  return true;
}
