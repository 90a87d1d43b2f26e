#include "app/ui/CDlgBurnSet.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdlib>

#include "BurnCtrl/Results.h"
#include "app/RecorderService.h"
#include "foundation/LangText.h"
#include "foundation/ProfileIni.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"
#include "controls/CBtnColor.h"
#include "controls/CHListBox.h"
#include "controls/CTransBtn.h"

CDlgBurnSet::CDlgBurnSet(RecorderService* service, QWidget* parent) : QDialog(parent), service_(service) {
  setModal(true);
  setProperty("id", 221);
  ApplySkinPalette(this);
  setWindowTitle(Tr("UIText", 58));

  closeBox_ = new CTransBtn(Tr("UIText", 59), this);
  closeBox_->setProperty("id", 1101);
  closeBox_->SetMyTextColor(0xEEE1DC);
  closeBox_->setFixedHeight(18);
  ejectBox_ = new CTransBtn(Tr("UIText", 1408), this);
  ejectBox_->SetMyTextColor(0xEEE1DC);
  ejectBox_->setFixedHeight(18);
  ejectBox_->SetSelect(RememberedEjectWhenDone());
  verifyBox_ = new CTransBtn(Tr("UIText", 1409), this);
  verifyBox_->SetMyTextColor(0xEEE1DC);
  verifyBox_->setFixedHeight(18);
  verifyBox_->SetSelect(ini::GetInt(SettingsFilePath(), "Burn Set", "Verify", 0) != 0);
  rockBox_ = new CTransBtn(Tr("UIText", 1411), this);
  rockBox_->SetMyTextColor(0xEEE1DC);
  rockBox_->setFixedHeight(18);
  rockBox_->setVisible(false);
  MakeBootRows();
  copiesEdit_ = new QLineEdit("1", this);
  copiesEdit_->setProperty("id", 1102);
  copiesEdit_->setFixedWidth(60);
  up_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setArrowType(Qt::DownArrow);
  up_->setProperty("id", 1103);
  afterCombo_ = new QComboBox(this);
  afterCombo_->setProperty("id", 1067);
  for (int key = 65; key <= 68; ++key) afterCombo_->addItem(Tr("UIText", key));
  afterCombo_->setCurrentIndex(0);
  list_ = new CHListBox(this);
  list_->setProperty("id", 1107);
  list_->setMinimumSize(360, 110);
  ok_ = new CBtnColor(Tr("UIText", 63), this);
  ok_->setProperty("id", 1153);
  cancel_ = new CBtnColor(Tr("UIText", 64), this);
  cancel_->setProperty("id", 2);
  for (CBtnColor* b : {ok_, cancel_}) {
    b->setMinimumSize(96, 28);
    b->SetCurSor(Qt::PointingHandCursor);
  }

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(Tr("UIText", 60), this), 0, 0);
  auto* spin = new QHBoxLayout;
  spin->addWidget(copiesEdit_);
  spin->addWidget(up_);
  spin->addWidget(down_);
  spin->addStretch();
  grid->addLayout(spin, 0, 1);
  grid->addWidget(new QLabel(Tr("UIText", 61), this), 1, 0);
  grid->addWidget(afterCombo_, 1, 1);
  grid->addWidget(closeBox_, 2, 0, 1, 2);
  grid->addWidget(ejectBox_, 3, 0, 1, 2);
  grid->addWidget(verifyBox_, 4, 0, 1, 2);
  grid->addWidget(rockBox_, 5, 0, 1, 2);
  grid->addWidget(bootRows_, 6, 0, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 16, 18, 14);
  layout->addLayout(grid);
  layout->addWidget(new QLabel(Tr("UIText", 62), this));
  layout->addWidget(list_);
  layout->addLayout(buttons);

  connect(up_, &QToolButton::clicked, this, &CDlgBurnSet::SpinUp);
  connect(down_, &QToolButton::clicked, this, &CDlgBurnSet::SpinDown);
  connect(ok_, &QPushButton::clicked, this, [this] {
    if (TryAccept()) accept();
  });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  ok_->setDefault(true);  // Enter burns
}

// The boot image fields of a data project, hidden until SetBoot.
void CDlgBurnSet::MakeBootRows() {
  bootRows_ = new QWidget(this);
  auto* bootGrid = new QGridLayout(bootRows_);
  bootGrid->setContentsMargins(0, 0, 0, 0);
  bootEdit_ = new QLineEdit(bootRows_);
  efiEdit_ = new QLineEdit(bootRows_);
  int bootRow = 0;
  for (QLineEdit* edit : {bootEdit_, efiEdit_}) {
    edit->setToolTip(Tr("UIText", 1415));
    edit->setClearButtonEnabled(true);
    auto* browse = new QToolButton(bootRows_);
    browse->setText("…");
    browse->setToolTip(Tr("UIText", 1414));
    connect(browse, &QToolButton::clicked, this, [this, edit] {
      const QString path = QFileDialog::getOpenFileName(this, Tr("UIText", 1414), edit->text());
      if (!path.isEmpty()) edit->setText(path);
    });
    auto* label = new QLabel(Tr("UIText", bootRow == 0 ? 1412 : 1413), bootRows_);
    label->setBuddy(edit);
    bootGrid->addWidget(label, bootRow, 0);
    bootGrid->addWidget(edit, bootRow, 1);
    bootGrid->addWidget(browse, bootRow, 2);
    ++bootRow;
  }
  bootRows_->setVisible(false);
}

void CDlgBurnSet::SetRecorders(const QStringList& entries) {
  list_->ResetContent();
  for (const QString& entry : entries) {
    int row = list_->InsertString(-1, entry);
    QListWidgetItem* item = list_->item(row);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(DriveIndexOfEntry(entry.toStdString()) == mainDrive_ ? Qt::Checked : Qt::Unchecked);
  }
}

void CDlgBurnSet::SetRockRidge(bool on) {
  rockRidge_ = on;
  rockBox_->SetSelect(on);
  rockBox_->setVisible(true);
}

void CDlgBurnSet::SetBoot(const eltorito::BootOptions& boot) {
  boot_ = boot;
  bootEdit_->setText(QString::fromStdString(boot.biosImage));
  efiEdit_->setText(QString::fromStdString(boot.efiImage));
  bootRows_->setVisible(true);
}

void CDlgBurnSet::SetCloseDisc(bool close, bool enabled) {
  closeBox_->SetSelect(close);
  closeBox_->setEnabled(enabled);
}

void CDlgBurnSet::SetMainDrive(uint8_t drive) {
  mainDrive_ = drive;
  for (int i = 0; i < list_->count(); ++i)
    list_->item(i)->setCheckState(DriveIndexOfEntry(list_->item(i)->text().toStdString()) == drive ? Qt::Checked
                                                                                                      : Qt::Unchecked);
}

void CDlgBurnSet::SpinUp() { copiesEdit_->setText(QString::asprintf("%d", std::atoi(copiesEdit_->text().toUtf8()) + 1)); }

void CDlgBurnSet::SpinDown() {
  int n = std::atoi(copiesEdit_->text().toUtf8()) - 1;
  copiesEdit_->setText(QString::asprintf("%d", n < 1 ? 1 : n));
}

bool CDlgBurnSet::TryAccept() {
  if (!bootRows_->isHidden()) {  // a boot image that cannot be used is told before any drive is asked
    eltorito::BootOptions boot = boot_;
    boot.biosImage = bootEdit_->text().trimmed().toStdString();
    boot.efiImage = efiEdit_->text().trimmed().toStdString();
    std::string why;
    if (boot.Any() && !eltorito::CheckBootOptions(boot, false, false, &why)) {
      ShowMessage(why, msgbox::kInfoOk);
      bootEdit_->setFocus();
      return false;
    }
    boot_ = boot;
  }
  QString listText;
  int count = 0;
  for (int i = 0; i < list_->count(); ++i) {
    if (list_->item(i)->checkState() != Qt::Checked) continue;
    int drive = DriveIndexOfEntry(list_->item(i)->text().toStdString());
    if (drive < 0) continue;
    // The disc checks talk to the drives: off the window thread.
    enum Verdict { kGood, kNotReady, kNotWritable };
    DiscInfo refused;
    Verdict verdict = RunOffWindowThread([&] {
      service_->Start(uint8_t(drive));
      DiscInfo& info = refused;
      Verdict v = kGood;
      if (service_->GetDiscInfoEx(uint8_t(drive), &info) != result::kSuccess) v = kNotReady;
      else if (!info.writable || info.freeBytes == 0) v = kNotWritable;
      if (v != kGood) {
        service_->Eject(uint8_t(drive), true);
        service_->Start(mainDrive_);
      }
      return v;
    });
    if (verdict == kNotReady) {
      ShowMessage(LoadLangText("Message", 1), msgbox::kInfoOk);
      return false;
    }
    if (verdict == kNotWritable) {
      const std::string why = DiscRefusal(refused);
      ShowMessage(why.empty() ? LoadLangText("Message", 17) : why, msgbox::kInfoOk);
      return false;
    }
    listText += QString::asprintf("%d,", drive);
    ++count;
  }
  RunOffWindowThread([&] { return service_->Start(mainDrive_); });
  if (count == 0) {
    ShowMessage(LoadLangText("Message", 41), msgbox::kInfoOk);
    return false;
  }
  recorderList_ = listText;
  recorderCount_ = count;
  closeDisc_ = closeBox_->GetSelect();
  long copies = std::atol(copiesEdit_->text().toUtf8());
  copies_ = copies < 1 ? 1 : int(std::min(copies, 999L));
  afterAction_ = afterCombo_->currentIndex();
  ejectWhenDone_ = ejectBox_->GetSelect();
  verify_ = verifyBox_->GetSelect();
  rockRidge_ = rockBox_->GetSelect();
  if (verify_ != (ini::GetInt(SettingsFilePath(), "Burn Set", "Verify", 0) != 0))
    ini::WriteString(SettingsFilePath(), "Burn Set", "Verify", verify_ ? "1" : "0");
  if (ejectWhenDone_ != RememberedEjectWhenDone())
    ini::WriteString(SettingsFilePath(), "Burn Set", "EjectWhenDone", ejectWhenDone_ ? "1" : "0");
  return true;
}

bool CDlgBurnSet::RememberedEjectWhenDone() { return ini::GetInt(SettingsFilePath(), "Burn Set", "EjectWhenDone", 1) != 0; }
