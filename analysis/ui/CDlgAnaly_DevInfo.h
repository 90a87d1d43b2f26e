#pragma once
// The device information page: what the selected drive reads and writes,
// one row per capability with yes or no.

#include <QWidget>

#include "analysis/DevInfo.h"

class QLabel;
class QTreeWidget;

class CDlgAnaly_DevInfo : public QWidget {
  Q_OBJECT
 public:
  explicit CDlgAnaly_DevInfo(QWidget* parent = nullptr);
  // Rebuilds the list for `drive` (not owned; null empties it).
  void ShowDeviceInfo(CDevCmdROM* drive);
  void Refresh() { ShowDeviceInfo(drive_); }
  QTreeWidget* List() const { return list_; }
  // The heading that says which drive (or image file) the rows are about.
  void SetDriveName(const QString& name);
  QLabel* DriveName() const { return driveName_; }

 private:
  CDevCmdROM* drive_ = nullptr;
  QTreeWidget* list_;
  QLabel* driveName_;
};
