#pragma once
// The window of the disc copy mode: where the copy comes from (the disc in a
// drive, on the fly or through a copy file, or an existing copy file), the
// source's tracks, and the copy itself with its progress window. The target
// is the recorder chosen in the main window.

#include <QWidget>
#include <memory>
#include <string>

#include "app/RecorderService.h"

class QCheckBox;
class QComboBox;
class QDialog;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

class CDlgDiscCopy : public QWidget {
  Q_OBJECT
 public:
  CDlgDiscCopy(std::shared_ptr<RecorderService> service, QWidget* parent = nullptr);
  // Deletes the copy file this window made when the delete box is set.
  ~CDlgDiscCopy() override;

  // Lists the drives that can be a source (indexes 1 to 25), keeping the
  // chosen one; a first choice avoids the drive `target`.
  void FillSourceDrives(int target = -1);
  // While a copy runs, the drives are its own.
  bool Copying() const { return copying_; }
  // Shows the tracks of the chosen source.
  void ShowTracks();
  // Copies onto the recorder `targetDrive`; the result of the copy, or 0
  // when it was not started.
  int StartCopy(int targetDrive);

  QRadioButton* DriveMode() const { return driveMode_; }
  QRadioButton* FileMode() const { return fileMode_; }
  QComboBox* SourceList() const { return sources_; }
  QLineEdit* TempPath() const { return tempPath_; }
  QCheckBox* OnTheFly() const { return onTheFly_; }
  QCheckBox* DeleteAfter() const { return deleteAfter_; }
  QLineEdit* FilePath() const { return filePath_; }
  QPushButton* BrowseTemp() const { return browseTemp_; }
  QPushButton* BrowseFile() const { return browseFile_; }
  QTreeWidget* Tracks() const { return tracks_; }
  int SelectedSource() const;

 signals:
  void DialogOpened(QDialog* dialog);

 private:
  void UpdateEnabled();
  bool CheckTarget(int target);
  bool CheckSource(bool fileMode, int source, const std::string& path);
  int RunCopy(int source, int target, const std::string& path);
  void TidyCopyFile(bool fileMode, const std::string& path, int result);
  void OneRow(const QString& text);

  std::shared_ptr<RecorderService> service_;
  QRadioButton* driveMode_;
  QRadioButton* fileMode_;
  QComboBox* sources_;
  QLineEdit* tempPath_;
  QPushButton* browseTemp_;
  QCheckBox* onTheFly_;
  QCheckBox* deleteAfter_;
  QLineEdit* filePath_;
  QPushButton* browseFile_;
  QTreeWidget* tracks_;
  std::string madeFile_;  // a copy file this window had made
  bool copying_ = false;
};
