#pragma once
// The project window of the audio CD mode: the disc's CD-Text and catalogue
// number above the tracks, the tracks in a list (number, file, play time,
// path, then what the disc says of each: title, performer, songwriter,
// composer, the pause before it, its ISRC and, as check boxes, whether it
// was recorded with pre-emphasis and may be copied, edited in place), the
// files that go on the disc besides the sound (an Enhanced CD's data session
// or a mixed-mode CD's first track), the totals under it, adding files and folders
// (file dialog, drop, paste), removing and moving rows, the project file,
// and the two steps of a burn, converting and writing. The rows live in
// CAudioCDProject; this window shows them and forwards the commands.

#include <QDialog>
#include <QLabel>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "jobs/CAudioCDProject.h"

class CListCtrlEx;
class QDropEvent;
class QKeyEvent;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidgetItem;
class QMenu;
class RecorderService;

class CDlgAudioCD : public QWidget {
  Q_OBJECT
 public:
  // Column widths of the list.
  static constexpr int kColumnWidths[12] = {50, 200, 100, 280, 160, 130, 110, 110, 80, 150, 110, 110};
  enum Column {
    kNumber, kFile, kDuration, kPath, kTitle, kPerformer, kSongwriter, kComposer, kPause, kIsrc,
    kPreEmphasis, kCopyPermitted, kColumns
  };

  explicit CDlgAudioCD(QWidget* parent = nullptr);
  ~CDlgAudioCD() override;

  // ---- adding. Each runs a worker behind the wait window; at the end the
  // limit ("Message" 23) and the files that are not sound ("Message" 39)
  // are told once.
  bool AddPaths(const QStringList& paths, int periodMs = 50);
  void AddFiles();  // the file dialog that also takes folders
  void Paste();     // the clipboard's file list
  bool AddPathFromShell(const QString& path);
  bool AddPathsFromShell(const QStringList& paths);
  bool DropFiles(const QStringList& paths) { return AddPaths(paths); }

  // ---- rows
  void DeleteSelectedTracks();
  void DeleteAll();
  void MoveUp();
  void MoveDown();
  // Moves the selected rows in front of `before` (a drag inside the list).
  void MoveSelectionTo(int before);
  void Clear();  // a new project: no rows, no project file
  std::vector<int> SelectedRows() const;
  void SelectRows(const std::vector<int>& rows);

  // ---- project files
  bool LoadProject(const QString& path);
  bool SaveProject(const QString& path);
  QString GetProjectPath() const { return QString::fromStdString(project_.ProjectPath()); }
  bool IsEmpty() const { return project_.RowCount() == 0; }
  bool IsModified() const { return modified_; }
  bool Busy() const { return adding_; }

  // ---- burning (called on the burn thread)
  // Converts the rows; "Message" 43 asks what to do when some fail. The
  // rows removed after it are shown once the burn is over (RefreshList).
  int PrepareTracks(const std::atomic<bool>* stop);
  // The conversion step as the progress window shows it ("" when none runs).
  QString PreparingText() const;
  int PreparingPercent() const { return preparingPercent_; }
  int BurnTracks(RecorderService* service, uint8_t drive);
  int DeleteTempTracks() { return project_.DeleteTempTracks(); }
  // The source file of the track being written and the drive's progress;
  // "UIText" 13 and 0 when none is known.
  void GetWritingTrackCaption(RecorderService* service, uint8_t drive, QString* caption, int* value) const;

  uint64_t ProjectBytes() const { return project_.TotalBytes(); }
  int64_t GetTotalMB() const { return project_.GetTotalMB(); }
  CAudioCDProject& Project() { return project_; }
  CListCtrlEx* List() const { return list_; }
  QLabel* TotalFilesLabel() const { return totalFiles_; }
  QLabel* TotalSizeLabel() const { return totalSize_; }
  QMenu* ContextMenu() const { return menu_; }
  QLineEdit* DiscTitleEdit() const { return discTitle_; }
  QLineEdit* DiscPerformerEdit() const { return discPerformer_; }
  QLineEdit* DiscMcnEdit() const { return discMcn_; }
  // Takes a cell's new text into the project, as editing it in place does;
  // a value that cannot be written is told and the cell shows the row again.
  bool EditCell(int row, int column, const QString& text);
  // Takes a check box's new state into the project, as clicking it does.
  bool EditFlag(int row, int column, bool on);
  // Whether the cell can be edited (the first row's pause is the disc's 2 s).
  static bool Editable(int row, int column);
  static bool IsCheckColumn(int column) { return column == kPreEmphasis || column == kCopyPermitted; }
  // Shows the rows as the project holds them, selecting `select`.
  void RefreshList(const std::vector<int>& select = {});

  // ---- files besides the sound ("Add a data session")
  // The file dialog that takes files and folders; what is chosen is added.
  void ChooseDataFiles();
  void AddDataFiles(const QStringList& paths);
  // Asks first; the files themselves are not touched.
  void RemoveDataFiles();
  // Where the files go: AudioDiscFiles::kSessionAfter or kTrackFirst.
  void SetDataPlace(AudioDiscFiles::Place place);
  QLabel* DataFilesLabel() const { return dataSummary_; }
  QComboBox* DataPlaceBox() const { return dataPlace_; }
  QPushButton* AddDataButton() const { return addData_; }
  QPushButton* RemoveDataButton() const { return removeData_; }

 signals:
  void ProjectChanged();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The list's keys and what is dragged onto it; true when handled.
  bool OnListKey(QKeyEvent* key);
  bool OnListDragOver(QObject* watched, QDropEvent* drag);
  bool OnListDrop(QObject* watched, QDropEvent* drop);
  void BuildMenu();
  void LayOut();
  void UpdateTotals();
  void Changed();
  void TellAddOutcome();
  void ShowRow(QTreeWidgetItem* item, const AudioTrackRow& row, int index);
  void ShowDiscText();
  void TakeDiscText();
  void ShowDataFiles();
  // Takes `values` into row `row` unless `why` already says why not, and
  // shows the row as the project then holds it; a refusal is told.
  bool TakeRowValues(int row, const AudioTrackRow& values, std::string why);

  CAudioCDProject project_;
  bool modified_ = false;
  bool adding_ = false;
  std::atomic<int> preparingRow_{-1}, preparingRows_{0}, preparingPercent_{0};
  mutable std::mutex preparingLock_;
  std::string preparingName_;
  QPoint dragFrom_{-1, -1};

  CListCtrlEx* list_;
  QLabel* totalFiles_;
  QLabel* totalSize_;
  QMenu* menu_ = nullptr;
  QLabel* discTitleLabel_;
  QLabel* discPerformerLabel_;
  QLabel* discMcnLabel_;
  QLineEdit* discTitle_;
  QLineEdit* discPerformer_;
  QLineEdit* discMcn_;
  QLabel* dataLabel_;
  QLabel* dataSummary_;
  QComboBox* dataPlace_;
  QPushButton* addData_;
  QPushButton* removeData_;
  std::vector<std::string> countedPaths_;  // the files whose size is countedBytes_
  uint64_t countedBytes_ = 0;
  bool showing_ = false;  // the list is being filled: its changes are not edits
};
