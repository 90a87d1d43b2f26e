#pragma once
// The disc check page of the analysis mode: every sector of the disc read
// on a thread of its own, the read speed drawn while it reads, Stop, the
// unreadable ranges with their files, and the report, the graph and the
// checksum list of the disc's files saved where the user chooses.

#include <QWidget>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "analysis/DiscCheck.h"
#include "analysis/DiscMd5.h"

class CheckGraph;
class QLabel;
class QPushButton;
class QTreeWidget;
class RecorderService;

class CDlgAnaly_Check : public QWidget {
  Q_OBJECT
 public:
  explicit CDlgAnaly_Check(std::shared_ptr<RecorderService> service, QWidget* parent = nullptr);
  // Stops a running check and waits for it.
  ~CDlgAnaly_Check() override;

  // The drive to check (not owned; null for none). A running check keeps
  // the drive it started on; the new one is taken when it ends.
  void SetDrive(CDevCmdROM* drive, const QString& name);
  CDevCmdROM* Drive() const { return drive_; }

  // False when there is no drive or a check is running.
  bool Start();
  void Stop();
  bool Running() const { return worker_.joinable(); }

  // Ask for a file, then save; the file dialog asks before a file is replaced.
  void SaveReport();
  void SaveGraph();
  void SaveChecksumList();
  // Saving to a chosen place; false with `why`. The graph is a PNG image,
  // or an SVG document when the name ends in ".svg". Nothing at `path` is
  // replaced unless `replace`.
  bool SaveReportTo(const QString& path, bool replace, std::string* why) const;
  bool SaveGraphTo(const QString& path, bool replace, std::string* why) const;
  // Reads every file of the disc on the page's thread, Stop working as
  // for the check; the list is written once it is whole. False when it
  // cannot start (`why`): no drive, a check running, a file in the way.
  bool StartChecksumList(const QString& path, bool replace, std::string* why);

  // The last check that ended (state kNoDisc before the first).
  const CheckReport& Report() const { return report_; }
  CheckGraph* Graph() const { return graph_; }
  QTreeWidget* Ranges() const { return ranges_; }
  QLabel* Status() const { return status_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* StopButton() const { return stop_; }

 signals:
  // A check has ended, however it ended; Report() holds it.
  void CheckFinished();
  // The checksum list has been saved, or not (the status line says why).
  void ChecksumListFinished();

 private:
  void ShowProgress();
  void Finish();
  void FinishChecksumList();
  // A drive chosen while the thread read is taken once it has ended.
  void TakeWaitingDrive();
  void ShowRanges(const CheckReport& report);
  void EnableButtons();

  std::shared_ptr<RecorderService> service_;
  CDevCmdROM* drive_ = nullptr;
  CDevCmdROM* nextDrive_ = nullptr;
  bool driveChanged_ = false;
  QString driveName_, nextName_;
  QLabel* name_;
  QLabel* status_;
  CheckGraph* graph_;
  QTreeWidget* ranges_;
  QPushButton *start_, *stop_, *saveReport_, *saveGraph_, *saveSums_;
  CheckReport report_;

  // What the worker hands the window: the report so far and the last one.
  std::thread worker_;
  std::atomic<bool> stopRequested_{false};
  std::mutex mutex_;
  CheckReport latest_, final_;
  std::unique_ptr<Md5List> sums_;  // the list the worker read
  QString sumsPath_;
  bool sumsReplace_ = false;
  bool progressPosted_ = false;
};
