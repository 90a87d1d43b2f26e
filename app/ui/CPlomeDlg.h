#pragma once
// The main window: a borderless skinned window whose work area shows one of
// ten modes, with the mode buttons, the toolbar, the recorder and speed
// lists and the status line about the disc in the selected recorder. It owns
// the settings of the current burn, starts burns, erases and tray commands,
// follows them in modal progress windows and carries out the action chosen
// for after burning. It is the program's top-level window: shown, never run
// as a modal dialog, so that only the dialogs it opens are modal.

#include <QDialog>
#include <QImage>
#include <QStringList>
#include <QTimer>
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "CDevCmdROM.h"
#include "app/BurnRate.h"
#include "app/RecorderService.h"
#include "app/TimingSet.h"

class CAuEncode;
class CDlgAnaly_CD;
class CDlgAnaly_Check;
class CDlgAnaly_DevInfo;
class CDlgAnaly_Sector;
class CAdBtn;
class CDlgAudioCD;
class CUpdate;
class QtUpdateHost;
class CDlgVideoDisc;
class CDlgDataCD;
class CDlgDiscCopy;
class CDlgProgress1;
class CDlgProgressMulti;
class CSkinBtn;
class HandOverServer;
class QComboBox;
class QLabel;
class QTimer;
class QUrl;

class CPlomeDlg : public QWidget {
  Q_OBJECT
 public:
  // Mode index of each window.
  enum Mode {
    kAudioCD = 0, kMp3Disc = 1, kDataDisc = 2, kVcd = 3, kSvcd = 4, kDvd = 5,
    kAnalyseDisc = 6, kAnalyseSector = 7, kDeviceInfo = 8, kDiscCopy = 9, kCheckDisc = 10
  };
  static constexpr int kModeCount = 11;
  // The pages of the analysis mode, which share its button and drive.
  static constexpr bool IsAnalysisMode(int mode) {
    return (mode >= kAnalyseDisc && mode <= kDeviceInfo) || mode == kCheckDisc;
  }

  explicit CPlomeDlg(std::shared_ptr<RecorderService> service, QWidget* parent = nullptr);
  ~CPlomeDlg() override;

  void SetCommandLineFile(const QString& path) { commandLineFile_ = path; }
  // The start in two parts. Before the first paint: the skin, the size, the
  // last mode and the hand-over socket. After it (or at the latest a second
  // after showing): the recorders, read on a worker and handed back, then
  // what needs them (the lists, the command-line file, the schedule, the
  // device watch, the update check). Until then the recorder list says it is
  // being filled and whatever needs a recorder says so too.
  // Initialise runs both parts at once and returns when the recorders are
  // there; showing the window runs the first.
  void Initialise();
  // Run on the worker before the recorders are read (the program opens its
  // virtual recorders there); returns what the user is to be told.
  void SetRecorderPreparation(std::function<std::vector<std::string>()> prepare) { prepare_ = std::move(prepare); }
  // Starts reading the recorders, once; the window's first paint calls it.
  void StartLoading();
  // True until the recorders read after the start are in the lists.
  bool Loading() const { return loading_; }

  void SwitchMode(int index);
  void HighlightModeButton(int index);
  void RestoreLastMode();
  void SaveLastMode();
  int Mode() const { return mode_; }
  bool ModeAvailable(int index) const;

  void FillRecorderLists();
  // Each entry's full text and path as its tooltip, and a popup wide enough
  // for the longest entry.
  void ShowRecorderTips();
  void SelectRecorder();
  void FillSpeedList();
  // The write speed chosen in the speed box, as a multiple of the medium's
  // unit speed; 0 when there is none to choose.
  int ChosenSpeedFactor() const;
  void ShowDiscStatus();
  // The activity light (1146): lit by every drive command, dark again 3 ms later.
  void ShowActivity();
  void OnRecorderChanged();  // the user picked another entry
  void OnDeviceChange();     // drives may have come or gone

  bool OpenProjectFile(const QString& path);
  void OpenProject();
  bool SaveProject();
  bool SaveProjectAs();  // always asks for the file
  void NewProject();
  void Burn();
  void StartBurn();
  void AfterBurnAction();
  // Scheduled burning: the schedule button, the arming of timer 4 and its
  // check. The clock is the system's unless a test sets its own.
  void ShowSchedule();
  void ArmSchedule();
  void OnScheduleTimer();
  void SetClock(std::function<schedule::LocalTime()> clock) { clock_ = std::move(clock); }
  QTimer* ScheduleTimer() const { return scheduleTimer_; }
  // How often the schedule is checked while it is on.
  void SetSchedulePeriod(int ms) { schedulePeriod_ = ms; }
  void Erase();
  void Eject(bool open);
  // Eject, or close the tray when it is open.
  void ToggleTray();
  bool AddFromShell(int command, const QString& path);
  // Paths handed over together are added as one addition.
  bool AddFromShell(int command, const QStringList& paths);
  // The one box for the paths of a hand-over that were not added; shown
  // shortly after the last path came in (or at once, by tests).
  void ShowHandOverReport();
  void ShowHelp();
  void ShowHelpAt(const QString& anchor);  // the manual at one of its pages
  // How Help opens its file; tests put their own in.
  void SetUrlOpener(std::function<bool(const QUrl&)> opener) { openUrl_ = std::move(opener); }
  // The window title: the project's name, the mode and the program.
  void UpdateTitle();

  // What the window shows, for tests and the screenshot script.
  CDlgDataCD* DataWindow(int mode) const;
  CDlgDiscCopy* CopyWindow() const;  // nullptr until the disc copy mode was shown
  CDlgAudioCD* AudioWindow() const;
  // The analysis pages; nullptr until their mode was shown.
  CDlgAnaly_CD* AnalysisWindow() const;
  CDlgAnaly_Sector* SectorWindow() const;
  CDlgAnaly_DevInfo* DeviceInfoWindow() const;
  CDlgAnaly_Check* CheckWindow() const;
  // The drive the analysis pages read: the selected drive, or the image
  // file of the image entry (asked for when none is open yet and `ask`).
  CDevCmdROM* AnalysisDrive(bool ask = true);
  // Opens an image file (ISO, BIN/CUE, NRG) for the image entry.
  bool OpenAnalysisImage(const QString& path);
  // Gives the shown analysis page its drive and lets it read.
  void ShowAnalysis(bool askForImage = true);
  // The video disc window of the current mode (Video CD, Super Video CD), or nullptr.
  CDlgVideoDisc* VideoWindow() const;
  CDlgVideoDisc* VideoWindowOf(int mode) const;  // whether shown or not
  QWidget* Page(int mode) const { return pages_[size_t(mode)]; }
  QComboBox* RecorderList() const { return recorderList_; }
  QComboBox* SpeedList() const { return speedList_; }
  QLabel* StatusLine() const { return status_; }
  QLabel* TitleLabel() const { return title_; }
  CSkinBtn* Button(int id) const;
  int ToolbarGroup() const { return toolbarGroup_; }
  int HighlightedModeButton() const { return highlighted_; }
  int RememberedSelection(int mode) const { return remembered_[size_t(mode)]; }
  HandOverServer* HandOver() const { return handOver_; }
  CAdBtn* InfoButton() const { return info_; }
  // The update check of this start; nullptr when it is off.
  CUpdate* UpdateCheck() const { return update_.get(); }
  // The drive of the selected entry; -1 for the image entry or none.
  int SelectedDrive() const;
  bool ImageEntrySelected() const;
  int Copies() const { return copies_; }
  bool CloseDiscSetting() const { return closeDisc_; }
  int AfterBurnSetting() const { return afterAction_; }
  int LastBurnResult() const { return lastResult_; }
  int LastEraseResult() const { return eraseResult_; }
  int DeviceRefreshPeriod() const;
  void SetDeviceRefreshPeriod(int ms);

 signals:
  // Emitted just before a modal window runs, so that tests and scripts can
  // act on it.
  void DialogOpened(QDialog* dialog);
  void ModeSwitched(int mode);
  // The window was drawn for the first time.
  void FirstPainted();
  // The start's second part is done: the recorders are in the lists.
  void RecordersLoaded();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void InitialiseFrame();
  void PaintBackground();
  // Tells the user the recorders are still being read; true while they are.
  bool RefusedWhileLoading();
  void FinishLoading(std::vector<DriveEntry> drives, std::vector<std::string> notices);
  // The lists of every mode from a drive list.
  void TakeDrives(const std::vector<DriveEntry>& drives);
  // The recorder list of a mode with its selection, speeds and disc.
  void ShowRecordersOfMode(int index);
  void CreateControls();
  void CreateLabels();
  void CreateButtons();
  void ConnectButtons();
  void ShowHelpMenu();
  void LoadSkin();
  void ShapeWindow();
  void InstallIcon();
  void LayOutToolbar(int group);
  // Places the controls that follow the window's right and bottom edges.
  void LayOutForSize();
  void CreateShortcuts();
  void RestoreWindowSize();
  void SaveWindowSize();
  QWidget* CreatePage(int mode);
  void SetBusy(bool busy);
  // The keyboard in the shown page: its project, or its first control.
  void FocusPage();
  void BurnThread(int mode, uint8_t drive, bool imageDevice, bool fromImage, std::string source,
                  std::string label, bool closeDisc, int copies);
  void OnBurnTimer(CDlgProgress1* progress);
  // The project onto every recorder of the burn settings at once, each
  // writing the copies asked for.
  void StartBurnMulti();
  void SetUpMultiBurn(CDlgProgressMulti* progress);
  // The progress window of a burn on one recorder; true when it was stopped.
  bool FollowBurn();
  void ReportBurnEnd(bool cancelled, const std::string& doneText, const std::string& failedText);
  // The audio CD mode's checks before its burn settings: a recorder with a
  // blank CD-R or CD-RW that has room for the tracks.
  void BurnCopy();
  void BurnAudio();
  void BurnVideo();
  void BurnOnOneRecorder(int drive, const DiscInfo& disc);
  bool CheckBlankDisc(int drive, DiscInfo* disc, bool dvd, int wrongKind);
  bool CheckVideoBurn(int drive, DiscInfo* disc);
  bool CheckAudioBurn(int drive, DiscInfo* disc);
  // The burn settings dialog for a drive and the speed it sets; false when
  // the user cancels. `closeDiscChoice`: the user may leave the disc open.
  bool RunBurnSettings(int drive, bool closeDiscChoice);
  // The project window of the current mode has no project file path yet,
  // or its path; "" for modes without one.
  bool HasProjectWindow(int mode) const;
  // After a failed copy: whether to write it again (`drive` -1 for the image
  // file). Waits for another disc when this one can take nothing more.
  bool AskOnWindow(int result, const std::string& detail, int drive);
  void WaitForDisc(uint8_t drive);
  // The text of a failure, with the drive's own account of it where known.
  std::string ErrorWithDetail(int rc, int drive);
  // Before the burn settings: the project against the room on the disc
  // (offering to erase a rewritable disc that is too full) and the names the
  // disc format will shorten. False when the burn does not go on.
  bool CheckDiscForBurn(CDlgDataCD* w, int drive, DiscInfo* disc);
  bool AskImageFile(CDlgDataCD* w);
  bool CheckRoom(CDlgDataCD* w, int drive, DiscInfo* info);
  bool CheckSources(CDlgDataCD* w);
  bool CheckNames(CDlgDataCD* w, bool udf);
  // The name rules of the discs a burn writes: Joliet for CDs, UDF for DVDs
  // and BDs, over the recorders ticked in the burn settings.
  struct NameFormats {
    bool joliet = false;
    bool udf = false;
  };
  NameFormats FormatsOfBurnDrives(int mainDrive);
  // Erases the disc of a drive behind the erase window; the result code.
  int EraseDisc(int drive);
  void ShowCapacity(bool known, const DiscInfo& info);
  void FollowDisc();
  // Asks to save each changed project before the window closes; false when
  // the user chose to stay.
  bool ConfirmUnsavedProjects();
  bool HasUnsavedProject(int mode) const;
  bool AskToSaveProject(int mode);
  bool SaveProjectOf(int mode, bool askForFile);
  QString ProjectName(int mode) const;
  void StartUpdateCheck();
  // Burns the current project of the stored disc type as the schedule says.
  void RunScheduledBurn(const schedule::TimingSet& set);

  std::shared_ptr<RecorderService> service_;
  QString commandLineFile_;
  bool initialised_ = false;
  bool painted_ = false;
  bool loadStarted_ = false;
  bool loading_ = false;
  std::function<std::vector<std::string>()> prepare_;
  std::thread loader_;
  int mode_ = -1;
  std::array<QWidget*, kModeCount> pages_{};
  std::unique_ptr<CDevCmdROM> analysisImage_;  // the image file of the image entry
  std::unique_ptr<CAuEncode> trackEncoder_;     // saves audio tracks from the analysis tree
  std::array<int, kModeCount> remembered_;
  QStringList allDrives_;
  QStringList recorders_;
  std::map<QString, QString> driveWhere_;  // entry text -> the drive's full path
  int toolbarGroup_ = -1;
  int highlighted_ = -1;
  int mainType_ = 0;
  bool filling_ = false;

  // The current burn.
  int afterAction_ = 0;
  bool ejectWhenDone_ = true;
  uint8_t burnDiscOptions_ = 0;  // the data project's disc options, for the burn thread
  bool closeDisc_ = false;
  int copies_ = 1;
  int recorderCount_ = 1;
  QString recorderListText_;
  std::atomic<bool> finished_{true};
  std::atomic<bool> preparing_{false};
  std::atomic<bool> stop_{false};
  std::atomic<int> copyNo_{0};
  std::atomic<int> lastResult_{0};
  std::atomic<bool> eraseBusy_{false};
  std::atomic<int> eraseResult_{0};
  qint64 burnStart_ = 0;
  uint8_t burnDrive_ = 0;
  std::thread burnThread_;
  CDlgProgress1* burnProgress_ = nullptr;  // while a burn's progress window is open
  bool closeAfterBurn_ = false;
  CDlgProgressMulti* multiProgress_ = nullptr;  // while several recorders burn
  std::mutex lastErrorLock_;
  std::string lastError_;  // the drive's own account of the last failure
  QPoint pressedAt_{-1, -1};  // where a drag that moves the window began
  QImage shape_;  // the skin's shape bitmap, cut again for every size
  BurnRate burnRate_;
  bool discKnown_ = false;
  DiscInfo disc_;  // the disc in the selected recorder, as last read
  int burnMedium_ = 0;
  QString burnImagePath_;  // the image file a burn through the image entry writes
  std::function<bool(const QUrl&)> openUrl_;

  QLabel* title_;
  QLabel* version_;
  QLabel* status_;
  QLabel* logo_;
  QLabel* activity_;
  class CSizeGrip* sizeGrip_ = nullptr;
  std::atomic<bool> activityQueued_{false};
  CAdBtn* info_;
  QComboBox* recorderList_;
  QComboBox* speedList_;
  QWidget* workArea_;
  std::map<int, CSkinBtn*> buttons_;
  QPixmap background_;
  QTimer* deviceTimer_;
  std::shared_ptr<QtUpdateHost> updateHost_;
  std::unique_ptr<CUpdate> update_;
  HandOverServer* handOver_ = nullptr;
  QTimer* scheduleTimer_;  // timer 4
  QTimer handOverReportTimer_;
  std::vector<std::string> handOverReport_;
  int handOverDepth_ = 0;
  std::function<schedule::LocalTime()> clock_ = schedule::Now;
  int schedulePeriod_ = 30000;
  int64_t lastScheduledMinute_ = -1;  // the minute the schedule last fired
  bool scheduledBurn_ = false;
};
