#include "analysis/ui/CDlgAnaly_DevInfo.h"

#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "foundation/ui/WindowSupport.h"

CDlgAnaly_DevInfo::CDlgAnaly_DevInfo(QWidget* parent) : QWidget(parent) {
  ApplySkinPalette(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  driveName_ = new QLabel(this);
  driveName_->setWordWrap(true);
  driveName_->setContentsMargins(4, 2, 4, 2);
  layout->addWidget(driveName_);
  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({Tr("Column", 18), Tr("Column", 19)});
  list_->setColumnWidth(0, 100);
  list_->setColumnWidth(1, 300);
  layout->addWidget(list_, 1);  // the drive's line takes only its own height
}

void CDlgAnaly_DevInfo::SetDriveName(const QString& name) {
  driveName_->setText(name.isEmpty() ? QString() : Tr("UIText", 15) + " " + name);
  driveName_->setToolTip(name);
}

void CDlgAnaly_DevInfo::ShowDeviceInfo(CDevCmdROM* drive) {
  drive_ = drive;
  list_->clear();
  if (!drive) return;
  std::vector<DevInfoRow> rows;
  if (!RunOffWindowThread([&] { return ReadDeviceInfo(*drive, &rows); })) return;
  for (const DevInfoRow& r : rows) {
    QString support = r.support == DevInfoRow::kYes ? Tr("UIText", 30) : r.support == DevInfoRow::kNo ? Tr("UIText", 31) : "";
    auto* item = new QTreeWidgetItem(QStringList{support, r.nameKey ? Tr("UIText", r.nameKey) : QString()});
    if (r.support == DevInfoRow::kNone && r.nameKey) {
      QFont bold = item->font(1);
      bold.setBold(true);
      item->setFont(1, bold);
    }
    list_->addTopLevelItem(item);
  }
}
