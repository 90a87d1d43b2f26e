#pragma once
// The disc analysis page: the tree of sessions, tracks and the folders of
// their file systems on the left, the content of the selected node on the
// right (the files of a folder, or the CD-Text rows of an audio track), and
// saving the selected files and folders with a progress window. Saving an
// audio track belongs to the audio extraction, which connects to
// SaveAudioTrackRequested.

#include <QWidget>
#include <memory>

#include "analysis/CGetCDData.h"
#include "analysis/DiscAnalysis.h"

class QLabel;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QProgressDialog;
class UdfDriveSource;

class CDlgAnaly_CD : public QWidget {
  Q_OBJECT
 public:
  explicit CDlgAnaly_CD(QWidget* parent = nullptr);
  ~CDlgAnaly_CD() override;

  // The drive to look at (not owned; null for none); reads it at once.
  void SetDrive(CDevCmdROM* drive);
  void Refresh();
  // Asks for a folder and saves the selection (files and folders of the
  // list, else the folder selected in the tree; an audio track is handed
  // to SaveAudioTrackRequested).
  void SaveSelected();
  // Saves the selection into `destination` on a worker thread, with the
  // progress window; false when nothing was selected or it could not start.
  bool SaveSelectedTo(const QString& destination);
  bool Saving() const { return saver_ != nullptr; }

  QTreeWidget* Tree() const { return tree_; }
  QTreeWidget* List() const { return list_; }
  // Why the disc could not be analysed; hidden when it could.
  QLabel* ErrorLabel() const { return error_; }
  const DiscAnalysis& Disc() const { return disc_; }
  QProgressDialog* Progress() const { return progress_; }
  const GetCDDataReport& LastReport() const { return lastReport_; }

 signals:
  // The user asked to save audio track `track` of the disc in `drive`.
  void SaveAudioTrackRequested(CDevCmdROM* drive, int track);
  // Saving has ended; the report says how.
  void SavingFinished();

 private:
  void BuildTree();
  void AddFolders(QTreeWidgetItem* parent, int track, const std::string& folder);
  void ShowNode(QTreeWidgetItem* item);
  void PollSaving();
  std::vector<std::string> SelectedPaths(int* track) const;

  QTreeWidget* tree_;
  QTreeWidget* list_;
  QLabel* error_;
  CDevCmdROM* drive_ = nullptr;
  DiscAnalysis disc_;
  std::unique_ptr<UdfDriveSource> source_;
  std::map<int, DiscFiles> files_;  // by track number
  std::unique_ptr<CGetCDData> saver_;
  QProgressDialog* progress_ = nullptr;
  QTimer* poll_;
  GetCDDataReport lastReport_;
};
