// The main window's frame: its controls and buttons, start-up, keys, mouse
// and closing. The modes and the burns it hosts live in CPlomeDlg*.cpp beside it.

#include "app/ui/CPlomeDlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <iterator>

#include "BurnCtrl/ui/CDlgProgress1.h"
#include "BurnCtrl/ui/CDlgEProgress.h"
#include "BurnCtrl/ui/CDlgProgressMulti.h"
#include "CAuEncode.h"
#include "analysis/ui/CDlgAnaly_CD.h"
#include "analysis/ui/CDlgAnaly_Check.h"
#include "analysis/ui/CDlgAnaly_Sector.h"
#include "app/CUpdate.h"
#include "app/ProjectFileType.h"
#include "app/UpdateNetwork.h"
#include "app/ui/CAdBtn.h"
#include "app/ui/CDlgAudioCD.h"
#include "app/ui/CDlgTimeSet.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/CDlgDiscCopy.h"
#include "app/ui/CDlgVideoDisc.h"
#include "app/ui/CPlomeDlgIds.h"
#include "controls/CSizeGrip.h"
#include "app/ui/CSkinBtn.h"
#include "app/ui/HandOverServer.h"
#include "app/ui/QtUpdateHost.h"
#include "foundation/HelpAndVersion.h"
#include "foundation/LangText.h"
#include "foundation/ProfileIni.h"
#include "foundation/ProgramDir.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"
#include "media/ToolProcess.h"

using namespace plome;

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

// Opens the manual when F1 reaches a dialog: a key its widgets do not take
// travels up to the dialog, whichever of them has the focus.
class HelpKey : public QObject {
 public:
  HelpKey(QDialog* dialog, std::function<void()> open) : QObject(dialog), open_(std::move(open)) {
    dialog->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
      open_();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> open_;
};

}  // namespace

CPlomeDlg::CPlomeDlg(std::shared_ptr<RecorderService> service, QWidget* parent)
    : QWidget(parent), service_(std::move(service)) {
  remembered_.fill(-1);
  openUrl_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  setProperty("id", 102);
  setWindowTitle("Varnex");
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinMaxButtonsHint);
  setMinimumSize(kWidth, kHeight);
  resize(kWidth, kHeight);
  CreateControls();
  CreateShortcuts();
  // A file manager hands paths over one message at a time: the summary of
  // what was not added waits for a pause in them.
  handOverReportTimer_.setSingleShot(true);
  handOverReportTimer_.setInterval(400);
  connect(&handOverReportTimer_, &QTimer::timeout, this, &CPlomeDlg::ShowHandOverReport);
  // F1 in a dialog of the window opens the manual at the dialog's own page.
  connect(this, &CPlomeDlg::DialogOpened, this, [this](QDialog* dialog) {
    QString page = "burn-settings";  // the burn's progress is described with its settings
    if (qobject_cast<CDlgTimeSet*>(dialog)) page = "schedule";
    else if (qobject_cast<CDlgEProgress*>(dialog)) page = "erase";
    new HelpKey(dialog, [this, page] { ShowHelpAt(page); });
  });
  deviceTimer_ = new QTimer(this);
  deviceTimer_->setInterval(3000);
  connect(deviceTimer_, &QTimer::timeout, this, &CPlomeDlg::OnDeviceChange);
  scheduleTimer_ = new QTimer(this);
  scheduleTimer_->setInterval(schedulePeriod_);
  scheduleTimer_->setSingleShot(true);
  connect(scheduleTimer_, &QTimer::timeout, this, &CPlomeDlg::OnScheduleTimer);
}

CPlomeDlg::~CPlomeDlg() {
  // The recorders may still be being read; the worker never waits for this
  // thread, so it ends by itself.
  if (loader_.joinable()) loader_.join();
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
  sizeGrip_ = new CSizeGrip(this);
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
                 kIdAnalyDev, kIdAnalyCheck})
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
  for (int mode : {kAudioCD, kDataDisc, kMp3Disc, kVcd, kSvcd, kDvd, kDiscCopy})
    connect(buttons_[kModes[mode].button], &QAbstractButton::clicked, this, [this, mode] {
      SwitchMode(mode);
      HighlightModeButton(ModeButtonIndex(mode));
    });
  connect(buttons_[kIdAnalysis], &QAbstractButton::clicked, this, [this] {
    if (!IsAnalysisMode(mode_)) SwitchMode(kAnalyseDisc);
    HighlightModeButton(ModeButtonIndex(kAnalyseDisc));
  });
  connect(buttons_[kIdAnalyCD], &QAbstractButton::clicked, this, [this] { SwitchMode(kAnalyseDisc); });
  connect(buttons_[kIdAnalySector], &QAbstractButton::clicked, this, [this] { SwitchMode(kAnalyseSector); });
  connect(buttons_[kIdAnalyDev], &QAbstractButton::clicked, this, [this] { SwitchMode(kDeviceInfo); });
  connect(buttons_[kIdAnalyCheck], &QAbstractButton::clicked, this, [this] { SwitchMode(kCheckDisc); });
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
  connect(buttons_[kIdEject], &QAbstractButton::clicked, this, [this] { ToggleTray(); });
  connect(buttons_[kIdLoad], &QAbstractButton::clicked, this, [this] { Eject(false); });
  connect(buttons_[kIdRefresh], &QAbstractButton::clicked, this, [this] {
    ShowDiscStatus();
    if (CDlgDiscCopy* copy = CopyWindow()) copy->FillSourceDrives();
    ShowAnalysis();
  });
  connect(buttons_[kIdSave], &QAbstractButton::clicked, this, [this] {
    if (mode_ == kAnalyseDisc) AnalysisWindow()->SaveSelected();
    else if (mode_ == kAnalyseSector) SectorWindow()->SaveSector();
    else if (mode_ == kCheckDisc) CheckWindow()->SaveReport();
  });
  connect(buttons_[kIdMinimise], &QAbstractButton::clicked, this, &QWidget::showMinimized);
  connect(buttons_[kIdClose], &QAbstractButton::clicked, this, &QWidget::close);
  connect(buttons_[kIdHelp], &QAbstractButton::clicked, this, &CPlomeDlg::ShowHelpMenu);
  connect(recorderList_, &QComboBox::activated, this, [this] { OnRecorderChanged(); });
  connect(recorderList_, &QComboBox::currentIndexChanged, this,
          [this] { recorderList_->setToolTip(recorderList_->currentData(Qt::ToolTipRole).toString()); });
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

CSkinBtn* CPlomeDlg::Button(int id) const {
  auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

int CPlomeDlg::DeviceRefreshPeriod() const { return deviceTimer_->interval(); }

void CPlomeDlg::SetDeviceRefreshPeriod(int ms) { deviceTimer_->setInterval(ms); }

void CPlomeDlg::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  InitialiseFrame();
  // A window that is never drawn (started minimised) still gets its recorders.
  QTimer::singleShot(1000, this, &CPlomeDlg::StartLoading);
}

void CPlomeDlg::Initialise() {
  InitialiseFrame();
  StartLoading();
  // Tests and the screenshot tour go on with the window as it is once loaded.
  while (loading_) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void CPlomeDlg::InitialiseFrame() {
  if (initialised_) return;
  initialised_ = true;
  loading_ = true;
  RestoreWindowSize();
  ShapeWindow();
  LoadSkin();
  const std::string showInfo = GetProgramDir() + "ShowInfo.ini";
  mainType_ = std::atoi(ini::GetString(showInfo, "Info Set", "Maintype", "0").c_str());
  if (mainType_ == 1)
    title_->setText(QString::fromStdString(ini::GetString(showInfo, "Info Set", "Mainname", "")));
  setWindowTitle("Varnex");
  RestoreLastMode();
  InstallIcon();
  version_->setText(QString::fromStdString(VersionLabel()));
  // Listening from the start: a second start hands its files over rather
  // than opening a second window.
  handOver_ = new HandOverServer([this](int command, const QString& path) { return AddFromShell(command, path); },
                                 this);
  handOver_->SetBatchHandler([this](int command, const QStringList& paths) { return AddFromShell(command, paths); });
  handOver_->Listen();
  // The keyboard starts in the project, not on the first of the buttons.
  FocusPage();
}

void CPlomeDlg::StartLoading() {
  if (loadStarted_ || !initialised_) return;
  loadStarted_ = true;
  loader_ = std::thread([this, prepare = prepare_, service = service_] {
    std::vector<std::string> notices;
    if (prepare) notices = prepare();
    std::vector<DriveEntry> drives = service->Drives();
    QMetaObject::invokeMethod(
        this, [this, drives = std::move(drives), notices = std::move(notices)] { FinishLoading(drives, notices); },
        Qt::QueuedConnection);
    // Not needed to use the window; it may start processes of its own.
    RegisterProjectFileType();
  });
}

void CPlomeDlg::FinishLoading(std::vector<DriveEntry> drives, std::vector<std::string> notices) {
  for (const std::string& notice : notices) ShowMessage(notice, msgbox::kInfoOk);
  TakeDrives(drives);
  loading_ = false;
  if (mode_ >= 0) {
    ShowRecordersOfMode(mode_);
    if (CDlgDiscCopy* copy = CopyWindow(); copy && mode_ == kDiscCopy) copy->FillSourceDrives(SelectedDrive());
    FillSpeedList();
    ShowAnalysis();
  }
  if (!commandLineFile_.isEmpty()) OpenProjectFile(commandLineFile_);
  StartUpdateCheck();
  deviceTimer_->start();
  ArmSchedule();
  emit RecordersLoaded();
}

void CPlomeDlg::FocusPage() {
  if (CDlgDataCD* w = DataWindow(mode_)) return w->Tree()->setFocus();
  if (CDlgAudioCD* a = AudioWindow(); a && mode_ == kAudioCD) return a->setFocus();
  if (QWidget* page = mode_ >= 0 ? pages_[size_t(mode_)] : nullptr) {
    for (QWidget* child : page->findChildren<QWidget*>())
      if ((child->focusPolicy() & Qt::TabFocus) && child->isVisibleTo(page) && child->isEnabled())
        return child->setFocus();
  }
  recorderList_->setFocus();
}

void CPlomeDlg::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click on the header maximises the window or makes it normal again.
  if (event->button() == Qt::LeftButton && event->position().y() < kHeaderHeight) {
    if (isMaximized()) showNormal();
    else showMaximized();
    return;
  }
  QWidget::mouseDoubleClickEvent(event);
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

void CPlomeDlg::ShowActivity() {
  activityQueued_ = false;
  activity_->setPixmap(ActivityLight(true));
  activity_->setProperty("flashes", activity_->property("flashes").toInt() + 1);
  QTimer::singleShot(3, this, [this] {
    activity_->setPixmap(ActivityLight(false));
  });
}

// The manual's page of each mode, in the order of Mode: a new mode without
// a page does not compile.
constexpr const char* kHelpPages[] = {"audio-cd",      "mp3-disc",      "data-disc",   "video-cd",  "super-video-cd",
                                      "dvd-video",     "disc-analysis", "sector-viewer", "device-info", "disc-copy",
                                      "disc-check"};
static_assert(std::size(kHelpPages) == CPlomeDlg::kModeCount);

void CPlomeDlg::ShowHelp() {
  ShowHelpAt(mode_ >= 0 && mode_ < int(std::size(kHelpPages)) ? kHelpPages[mode_] : "main-window");
}

void CPlomeDlg::ShowHelpAt(const QString& anchor) {
  const QString file = QString::fromStdString(ChooseHelpFile());
  QUrl page = QUrl::fromLocalFile(file);
  page.setFragment(anchor);
  if (openUrl_(page)) return;
  // Without a browser the user can still open the file by hand.
  ShowMessage(LoadLangText("Message", 1021) + "\n" + ToStd(file), msgbox::kInfoOk);
}

void CPlomeDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      // Escape takes back the last small step (a selection in the page's
      // lists); it never closes the window behind the user's back.
      if (auto* view = qobject_cast<QAbstractItemView*>(focusWidget()); view && view->selectionModel() &&
          view->selectionModel()->hasSelection())
        view->clearSelection();
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      event->accept();
      return;
    case Qt::Key_F1:
      ShowHelp();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void CPlomeDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) pressedAt_ = event->position().toPoint();
  QWidget::mousePressEvent(event);
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
  QWidget::mouseMoveEvent(event);
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
}
