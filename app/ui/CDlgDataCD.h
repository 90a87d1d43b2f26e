#pragma once
// The project window of the data disc and MP3 disc modes: the disc's folders
// in a tree, the selected folder's content in a list, and the totals. The
// project itself lives in the staging folder that CFileManager keeps; this
// window drives the manager and reads the folders' file lists.

#include <QDialog>
#include <QLabel>
#include <QMutex>
#include <QPointer>
#include <QTreeWidget>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/ui/CDlgWait.h"
#include "app/ui/QtProjectTree.h"
#include "authoring/CFileManager.h"

class CCapacityBar;
class CListCtrlEx;
class QMenu;
class QPushButton;
class QTimer;

// The bar between tree and list; reports where it is dragged to.
class CSplitterBar : public QWidget {
  Q_OBJECT
 public:
  explicit CSplitterBar(QWidget* parent);
 signals:
  void Moved(int x);  // in the parent's coordinates
 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};

class CDlgDataCD : public QWidget, private FileManagerListener {
  Q_OBJECT
 public:
  static constexpr int kModeData = 2;
  static constexpr int kModeMp3 = 3;
  static constexpr int kFocusTree = 1;
  static constexpr int kFocusList = 2;
  static constexpr int kMinPane = 101;

  explicit CDlgDataCD(QWidget* parent = nullptr);
  ~CDlgDataCD() override;

  void SetMode(int mode);
  int Mode() const { return mode_; }

  // Project files. Loading runs in the background behind the wait window.
  bool LoadProject(const QString& path);
  bool SaveProject(const QString& path);
  // Empties the project: a new staging folder, no image, zero totals.
  void Clear();
  // Shows an image file read-only as the project; false when it cannot be read.
  bool ImportImage(const QString& path);

  // Additions; each runs in the background behind the wait window. The
  // target is the given tree item, or the selected one.
  bool AddPaths(const QStringList& paths, QTreeWidgetItem* target = nullptr, int periodMs = 50);
  bool AddPathFromShell(const QString& path);
  bool AddPathsFromShell(const QStringList& paths);
  // Files dropped from the file manager at a point of the tree's viewport
  // (or of the list, with `onTree` false).
  bool DropFiles(const QStringList& paths, bool onTree, const QPoint& at);
  void AddFiles();
  void Paste();
  bool NewFolder();
  void StartRename();  // label editing in the control that had the focus last
  // Renames a tree item (folder or root) or a list row; false when refused.
  bool RenameTreeItem(QTreeWidgetItem* item, const QString& oldName, const QString& newName);
  bool RenameListRow(QTreeWidgetItem* row, const QString& oldName, const QString& newName);
  void DeleteSelection();  // in the control that had the focus last
  // Cut and copy of project entries (Ctrl+X, Ctrl+C); Paste puts them into
  // the folder shown. Names taken there become free ones, with a notice.
  void CutOrCopy(bool cut);
  // Moves entries of the selection's folder into the folder of `target`, as
  // a drag inside the project does.
  bool MoveItems(const QStringList& names, QTreeWidgetItem* target);
  void DeleteAll();

  // What the main window needs for burning and saving.
  std::string GetStagingRoot() const { return stagingRoot_; }
  QString GetVolumeLabel() const;
  // The label a data disc gets unless the user names it: it follows the
  // medium in the recorder ("DataCD", "DataDVD", ...). A label the user gave
  // stays.
  void SetDefaultLabel(const QString& label);
  bool IsImageMode() const { return imageMode_; }
  QString GetImagePath() const { return imagePath_; }
  QString GetProjectPath() const { return projectPath_; }
  void SetProjectPath(const QString& path) { projectPath_ = path; }
  bool IsEmpty() const;
  // Changed since it was started, opened or saved last.
  bool IsModified() const { return modified_; }
  // The project's disc options (project::DiscOption), kept in its file.
  uint8_t DiscOptions() const { return manager_.DiscOptions(); }
  void SetDiscOptions(uint8_t options);
  const eltorito::BootOptions& Boot() const { return manager_.Boot(); }
  void SetBoot(const eltorito::BootOptions& boot);
  bool Busy() const { return manager_.Busy(); }
  // The playlist written before every save of an MP3 project.
  bool RewritePlaylist();
  QString PlaylistPath() const { return QString::fromStdString(stagingRoot_) + "/Playlist.M3U"; }

  // Totals. A size message: bytes (signed) with a count change.
  void AddSize(int countDelta, int32_t bytes);
  int FileCount() const { return fileCount_; }
  double SizeMB() const { return sizeMB_; }
  uint64_t ProjectBytes() const { return uint64_t(sizeMB_ * 1048576.0 + 0.5); }
  // The room on the disc of the selected recorder against the project.
  CCapacityBar* CapacityBar() const { return capacity_; }
  void ResetTotals();

  int FocusOwner() const { return focusOwner_; }
  void SetFocusOwner(int owner) { focusOwner_ = owner; }
  // Lays the panes out around a splitter at x; false (and nothing moves)
  // when either pane would be narrower than kMinPane.
  bool OnSplitterMoved(int x);
  int SplitterX() const { return splitX_ < 0 ? width() / 3 : splitX_; }

  QTreeWidget* Tree() { return tree_; }
  CListCtrlEx* List() { return list_; }
  QLabel* TotalFilesLabel() { return totalFiles_; }
  QLabel* TotalSizeLabel() { return totalSize_; }
  QTreeWidgetItem* RootItem() const { return tree_->topLevelItem(0); }
  void SelectFolder(QTreeWidgetItem* item);
  void RefreshList();
  std::string FolderPath(QTreeWidgetItem* item);

 signals:
  void ProjectChanged();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // FileManagerListener, called on the manager's worker thread.
  void SizePiece(uint32_t wParam, uint32_t lParam) override;
  void Refused(const std::string& path, AddRefusal reason) override;

  void BuildMenu();
  void ShowMenu(QWidget* control, const QPoint& at);
  void LayOut();
  void EnsureStagingRoot();
  void SetImageColumns(bool image);
  void ShowRefusals();
  void FlushSizes();
  bool RunInBackground(const std::function<bool()>& start, int periodMs);
  // Called on the worker thread when its work has ended.
  void WorkEnded();
  void RemoveFolderTotals(const std::string& folder);
  void RemoveFileTotals(uint64_t bytes, int files);
  bool NameTaken(const std::string& folder, const std::string& name, const std::string& except);
  void OnListDoubleClicked(QTreeWidgetItem* row);
  void OnItemEdited(QTreeWidgetItem* item, bool inTree);
  bool HandleDrop(QObject* control, class QDropEvent* event);
  void ShowImageTree();
  QStringList SelectedProjectNames() const;
  std::string SelectionFolder();
  QByteArray EncodeProjectItems(const std::string& folder, const QStringList& names) const;
  bool DecodeProjectItems(const QByteArray& data, std::string* folder, QStringList* names) const;
  void StartProjectDrag();
  bool EditProjectItems(bool move, const std::string& from, const QStringList& names, QTreeWidgetItem* target);
  void AddEntryTotals(const std::string& folder, const std::string& name);
  void RebuildFolderTree();
  QTreeWidgetItem* ItemForFolder(const std::string& path);

  int mode_ = kModeData;
  std::string stagingRoot_;
  QString projectPath_;
  bool imageMode_ = false;
  QString imagePath_;
  int focusOwner_ = kFocusTree;
  bool cancelled_ = false;
  int fileCount_ = 0;
  double sizeMB_ = 0;
  int splitX_ = -1;
  bool filling_ = false;
  QTreeWidgetItem* editing_ = nullptr;
  QString editingOld_;
  bool editingInTree_ = false;
  bool modified_ = false;
  bool clipCut_ = false;           // the project entries on the clipboard were cut, not copied
  QPoint dragFrom_{-1, -1};        // where a press that may become a drag began

  QTreeWidget* tree_;
  CSplitterBar* splitter_;
  CListCtrlEx* list_;
  QLabel* totalFiles_;
  QLabel* totalSize_;
  CCapacityBar* capacity_;
  QMenu* menu_ = nullptr;
  QPointer<CDlgWait> wait_;  // while background work runs
  QtProjectTree projectTree_;
  CFileManager manager_;
  std::atomic<int> pendingCount_{0};
  std::atomic<uint64_t> pendingBytes_{0};
  QMutex refusedLock_;
  std::vector<std::pair<std::string, std::string>> refused_;
};
