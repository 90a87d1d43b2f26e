#pragma once
// Asks, before a burn, for the copies, whether to close the disc, what to do
// afterwards and on which recorders to burn; checks the disc in every chosen
// recorder before it lets the burn go on.

#include <QDialog>
#include <QStringList>
#include <cstdint>

#include "authoring/ElTorito.h"

class CBtnColor;
class CHListBox;
class CTransBtn;
class QComboBox;
class QLineEdit;
class QToolButton;
class RecorderService;

class CDlgBurnSet : public QDialog {
  Q_OBJECT
 public:
  CDlgBurnSet(RecorderService* service, QWidget* parent = nullptr);

  // Set before the dialog runs.
  void SetRecorders(const QStringList& entries);
  void SetCloseDisc(bool close, bool enabled);
  void SetMainDrive(uint8_t drive);

  // Read after OK.
  int AfterBurnAction() const { return afterAction_; }
  bool CloseDisc() const { return closeDisc_; }
  int Copies() const { return copies_; }
  int RecorderCount() const { return recorderCount_; }
  // Whether the disc comes out after the burn; remembered for the next
  // burn, the erase and the copy, which ask nothing.
  bool EjectWhenDone() const { return ejectWhenDone_; }
  static bool RememberedEjectWhenDone();
  // Whether every disc is read back and compared after the burn; remembered.
  bool VerifyAfterBurn() const { return verify_; }
  // Rock Ridge (Linux names, permissions and links) for a data project: the
  // box is shown only once set, with the project's choice.
  void SetRockRidge(bool on);
  bool RockRidge() const { return rockRidge_; }
  // The boot images of a data project: the fields are shown only once set.
  // OK checks them (readable, not too large) before the burn goes on.
  void SetBoot(const eltorito::BootOptions& boot);
  const eltorito::BootOptions& Boot() const { return boot_; }
  QString RecorderListText() const { return recorderList_; }

  // The controls, for the window tests.
  CHListBox* RecorderList() const { return list_; }
  QLineEdit* CopiesEdit() const { return copiesEdit_; }
  CTransBtn* CloseDiscBox() const { return closeBox_; }
  CTransBtn* EjectBox() const { return ejectBox_; }
  CTransBtn* VerifyBox() const { return verifyBox_; }
  CTransBtn* RockRidgeBox() const { return rockBox_; }
  QLineEdit* BootEdit() const { return bootEdit_; }
  QLineEdit* EfiEdit() const { return efiEdit_; }
  QComboBox* AfterBurnCombo() const { return afterCombo_; }
  void SpinUp();
  void SpinDown();
  // The OK button's work; false when the dialog stays open.
  bool TryAccept();

 private:
  void MakeBootRows();

  RecorderService* service_;
  uint8_t mainDrive_ = 255;
  int afterAction_ = 0;
  bool closeDisc_ = false;
  bool ejectWhenDone_ = true;
  bool verify_ = false;
  bool rockRidge_ = true;
  eltorito::BootOptions boot_;
  int copies_ = 1;
  int recorderCount_ = 0;
  QString recorderList_;

  CTransBtn* closeBox_;
  CTransBtn* ejectBox_;
  CTransBtn* verifyBox_;
  CTransBtn* rockBox_;
  QWidget* bootRows_;
  QLineEdit* bootEdit_;
  QLineEdit* efiEdit_;
  QLineEdit* copiesEdit_;
  QToolButton* up_;
  QToolButton* down_;
  QComboBox* afterCombo_;
  CHListBox* list_;
  CBtnColor* ok_;
  CBtnColor* cancel_;
};
