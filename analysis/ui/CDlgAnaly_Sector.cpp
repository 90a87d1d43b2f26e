#include "analysis/ui/CDlgAnaly_Sector.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QVBoxLayout>

#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"

CDlgAnaly_Sector::CDlgAnaly_Sector(QWidget* parent) : QWidget(parent) {
  ApplySkinPalette(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  driveName_ = new QLabel(this);
  driveName_->setWordWrap(true);
  layout->addWidget(driveName_);
  auto* strip = new QHBoxLayout;
  auto* label = new QLabel(Tr("UIText", 27), this);
  field_ = new QLineEdit("16", this);
  field_->setMaximumWidth(120);
  label->setBuddy(field_);
  arrows_ = new QScrollBar(Qt::Vertical, this);
  arrows_->setRange(-1000000, 1000000);  // only its arrows are used
  arrows_->setValue(0);
  arrows_->setFixedHeight(field_->sizeHint().height());
  raw_ = new QCheckBox(Tr("UIText", 28), this);
  strip->addWidget(label);
  strip->addWidget(field_);
  strip->addWidget(arrows_);
  strip->addSpacing(16);
  strip->addWidget(raw_);
  strip->addStretch();
  layout->addLayout(strip);
  dump_ = new QListWidget(this);
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setPixelSize(15);
  dump_->setFont(mono);
  layout->addWidget(dump_, 1);
  connect(field_, &QLineEdit::returnPressed, this, &CDlgAnaly_Sector::ReadSector);
  connect(raw_, &QCheckBox::toggled, this, &CDlgAnaly_Sector::ReadSector);
  // The upper arrow counts up, the lower one down, as the numbers read.
  connect(arrows_, &QScrollBar::actionTriggered, this, [this](int action) {
    if (action == QAbstractSlider::SliderSingleStepSub) Step(+1);
    else if (action == QAbstractSlider::SliderSingleStepAdd) Step(-1);
    arrows_->blockSignals(true);
    arrows_->setSliderPosition(0);
    arrows_->blockSignals(false);
  });
}

void CDlgAnaly_Sector::SetDriveName(const QString& name) {
  driveName_->setText(name.isEmpty() ? QString() : Tr("UIText", 15) + " " + name);
  driveName_->setToolTip(name);
}

void CDlgAnaly_Sector::SetDrive(CDevCmdROM* drive) {
  drive_ = drive;
  ReadSector();
}

void CDlgAnaly_Sector::Refresh() { ReadSector(); }

void CDlgAnaly_Sector::Step(int delta) {
  long long sector = field_->text().toLongLong() + delta;
  if (sector < 0) sector = 0;
  field_->setText(QString::number(sector));
  ReadSector();
}

void CDlgAnaly_Sector::ReadSector() {
  dump_->clear();
  view_ = SectorView();
  bool ok = false;
  long long sector = field_->text().trimmed().toLongLong(&ok);
  if (!ok) sector = 0;  // a text that is no number reads as sector 0
  if (sector < 0 || sector > 0xFFFFFFFFll || !drive_) return;
  const bool raw = raw_->isChecked();
  const bool read = RunOffWindowThread([&] { return ReadSectorView(*drive_, uint32_t(sector), raw, &view_); });
  raw_->setEnabled(view_.rawAllowed || !drive_->HasDrive());
  if (!read) return;
  for (const std::string& line : SectorDumpLines(view_.buffer, view_.shown)) dump_->addItem(QString::fromStdString(line));
}

bool CDlgAnaly_Sector::SaveSectorTo(const QString& path, std::string* why) {
  // The save dialog asked before an existing file is replaced.
  return SaveSectorFile(path.toStdString(), view_, true, why);
}

void CDlgAnaly_Sector::SaveSector() {
  if (view_.shown <= 0) return;
  QString path = Files()->SaveFile(this, Tr("UIText", 1232), "Data Files(*.dat)|*.dat||", "Sector.dat", "dat");
  if (path.isEmpty()) return;
  std::string why;
  if (!SaveSectorTo(path, &why)) ShowMessage(LoadLangText("Message", 1404) + "\n" + why, msgbox::kErrorOk);
}
