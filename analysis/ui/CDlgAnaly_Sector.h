#pragma once
// The sector viewer page: one sector of the disc as a hexadecimal dump,
// cooked or (on CDs) raw, stepped with the arrows or typed, and saved as
// "Sector.dat".

#include <QWidget>

#include "analysis/SectorView.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QScrollBar;

class CDlgAnaly_Sector : public QWidget {
  Q_OBJECT
 public:
  explicit CDlgAnaly_Sector(QWidget* parent = nullptr);

  // The drive to read from (not owned; null for none); reads at once.
  void SetDrive(CDevCmdROM* drive);
  void Refresh();
  // Asks for a file ("Sector.dat") and writes the bytes shown into it.
  void SaveSector();
  bool SaveSectorTo(const QString& path, std::string* why);
  // One sector up (+1) or down (-1, never below 0), read at once.
  void Step(int delta);

  // The heading that says which drive (or image file) is shown.
  void SetDriveName(const QString& name);
  QLabel* DriveName() const { return driveName_; }

  QLineEdit* SectorField() const { return field_; }
  QCheckBox* RawBox() const { return raw_; }
  QListWidget* Dump() const { return dump_; }
  const SectorView& View() const { return view_; }

 private:
  void ReadSector();

  CDevCmdROM* drive_ = nullptr;
  SectorView view_;
  QLabel* driveName_;
  QLineEdit* field_;
  QScrollBar* arrows_;
  QCheckBox* raw_;
  QListWidget* dump_;
};
