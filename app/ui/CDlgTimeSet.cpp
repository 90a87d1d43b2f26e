#include "app/ui/CDlgTimeSet.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "app/TimingSet.h"
#include "controls/CBtnColor.h"
#include "controls/CHListBox.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"

namespace {

QTimeEdit* NewTimeEdit(QWidget* parent) {
  auto* edit = new QTimeEdit(QTime(20, 0), parent);
  edit->setProperty("id", 1142);
  edit->setDisplayFormat("HH:mm");
  return edit;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets) {
  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  for (QWidget* w : widgets) row->addWidget(w);
  row->addStretch();
  return row;
}

void SetClock(QTimeEdit* edit, const schedule::Parsed& p) { edit->setTime(QTime(p.hour, p.minute, p.second)); }

}  // namespace

CDlgTimeSet1::CDlgTimeSet1(QWidget* parent) : QWidget(parent) {
  setProperty("id", 241);
  date = new QDateEdit(QDate::currentDate(), this);
  date->setProperty("id", 1141);
  date->setCalendarPopup(true);
  time = NewTimeEdit(this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(Row({new QLabel(Tr("UIText", 78), this), date, new QLabel(Tr("UIText", 79), this), time}));
  layout->addStretch();
}

CDlgTimeSet2::CDlgTimeSet2(QWidget* parent) : QWidget(parent) {
  setProperty("id", 242);
  time = NewTimeEdit(this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(Row({new QLabel(Tr("UIText", 79), this), time}));
  layout->addStretch();
}

CDlgTimeSet3::CDlgTimeSet3(QWidget* parent) : QWidget(parent) {
  setProperty("id", 243);
  auto* grid = new QGridLayout;
  for (int d = 0; d < 7; ++d) {
    days[size_t(d)] = new QCheckBox(Tr("UIText", 80 + d), this);
    days[size_t(d)]->setProperty("id", 1143 + d);
    grid->addWidget(days[size_t(d)], d / 4, d % 4);
  }
  time = NewTimeEdit(this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(Row({new QLabel(Tr("UIText", 79), this), time}));
  layout->addStretch();
}

CDlgTimeSet4::CDlgTimeSet4(QWidget* parent) : QWidget(parent) {
  setProperty("id", 244);
  day = new QComboBox(this);
  day->setProperty("id", 1067);
  for (int d = 1; d <= 31; ++d) day->addItem(QString::number(d));
  time = NewTimeEdit(this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(Row({new QLabel(Tr("UIText", 87), this), day, new QLabel(Tr("UIText", 88), this),
                         new QLabel(Tr("UIText", 79), this), time}));
  layout->addStretch();
}

CDlgTimeSet::CDlgTimeSet(const QStringList& recorders, std::function<bool(int)> available, QWidget* parent)
    : QDialog(parent) {
  setModal(true);
  setProperty("id", 239);
  ApplySkinPalette(this);
  setWindowTitle(Tr("UIText", 70));

  timing_ = new QCheckBox(Tr("UIText", 71), this);
  timing_->setProperty("id", 1128);
  discType_ = new QComboBox(this);
  discType_->setProperty("id", 1140);
  const int tips[] = {1, 2, 3, 22, 23, 24};
  for (int type = 0; type < 6; ++type) {
    discType_->addItem(Tr("Tip", tips[type]));
    // A disc type this version cannot burn is shown, not offered.
    if (available && !available(type))
      if (auto* model = qobject_cast<QStandardItemModel*>(discType_->model())) model->item(type)->setEnabled(false);
  }
  kindGroup_ = new QButtonGroup(this);
  for (int k = 0; k < 4; ++k) {
    kinds_[size_t(k)] = new QRadioButton(Tr("UIText", 74 + k), this);
    kinds_[size_t(k)]->setProperty("id", 1133 + k);
    kindGroup_->addButton(kinds_[size_t(k)], k + 1);
  }
  pages_ = new QStackedWidget(this);
  pages_->setProperty("id", 1019);
  once_ = new CDlgTimeSet1(pages_);
  daily_ = new CDlgTimeSet2(pages_);
  weekly_ = new CDlgTimeSet3(pages_);
  monthly_ = new CDlgTimeSet4(pages_);
  for (QWidget* page : {static_cast<QWidget*>(once_), static_cast<QWidget*>(daily_), static_cast<QWidget*>(weekly_),
                        static_cast<QWidget*>(monthly_)})
    pages_->addWidget(page);
  closeDisc_ = new QCheckBox(Tr("UIText", 59), this);
  closeDisc_->setProperty("id", 1101);
  after_ = new QComboBox(this);
  after_->setProperty("id", 1067);
  for (int key = 65; key <= 68; ++key) after_->addItem(Tr("UIText", key));
  list_ = new CHListBox(this);
  list_->setProperty("id", 1107);
  list_->setMinimumSize(418, 90);
  for (const QString& entry : recorders) {
    int row = list_->InsertString(-1, entry);
    QListWidgetItem* item = list_->item(row);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  // The dialog stores the schedule; it burns nothing now.
  auto* ok = new CBtnColor(Tr("UIText", 89), this);
  ok->setProperty("id", 1);
  auto* cancel = new CBtnColor(Tr("UIText", 64), this);
  cancel->setProperty("id", 2);
  for (CBtnColor* b : {ok, cancel}) {
    b->setMinimumSize(96, 28);
    b->SetCurSor(Qt::PointingHandCursor);
  }

  LayOut(ok, cancel);

  connect(kindGroup_, &QButtonGroup::idClicked, this, &CDlgTimeSet::ShowKind);
  connect(timing_, &QCheckBox::toggled, this, &CDlgTimeSet::EnableControls);
  connect(ok, &QPushButton::clicked, this, [this] {
    if (TryAccept()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  ok->setDefault(true);
  Load();
}

// The schedule above the recorders it burns on, the buttons at the bottom.
void CDlgTimeSet::LayOut(QWidget* ok, QWidget* cancel) {
  auto* typeLabel = new QLabel(Tr("UIText", 72), this);
  auto* kindLabel = new QLabel(Tr("UIText", 73), this);
  auto* afterLabel = new QLabel(Tr("UIText", 61), this);
  auto* listLabel = new QLabel(Tr("UIText", 62), this);
  auto* grid = new QGridLayout;
  grid->addWidget(typeLabel, 0, 0);
  grid->addWidget(discType_, 0, 1);
  grid->addWidget(kindLabel, 1, 0);
  auto* kindRow = new QHBoxLayout;
  for (QRadioButton* r : kinds_) kindRow->addWidget(r);
  kindRow->addStretch();
  grid->addLayout(kindRow, 1, 1);
  grid->addWidget(pages_, 2, 0, 1, 2);
  grid->addWidget(afterLabel, 3, 0);
  grid->addWidget(after_, 3, 1);
  grid->addWidget(closeDisc_, 4, 0, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 16, 18, 14);
  layout->addWidget(timing_);
  layout->addLayout(grid);
  layout->addWidget(listLabel);
  layout->addWidget(list_);
  layout->addLayout(buttons);
  scheduleControls_ = {discType_, kinds_[0], kinds_[1], kinds_[2], kinds_[3], pages_, closeDisc_, after_, list_,
                       typeLabel, kindLabel, afterLabel, listLabel};
}

int CDlgTimeSet::Kind() const { return kindGroup_->checkedId() < 1 ? schedule::kOnce : kindGroup_->checkedId(); }

void CDlgTimeSet::ShowKind(int kind) {
  if (kind < schedule::kOnce || kind > schedule::kMonthly) kind = schedule::kOnce;
  kinds_[size_t(kind - 1)]->setChecked(true);
  pages_->setCurrentIndex(kind - 1);
}

void CDlgTimeSet::EnableControls() {
  for (QWidget* w : scheduleControls_) w->setEnabled(timing_->isChecked());
}

void CDlgTimeSet::Load() {
  const schedule::TimingSet set = schedule::LoadTimingSet(SettingsFilePath(), false);
  timing_->setChecked(set.on);
  const int kind = set.kind >= schedule::kOnce && set.kind <= schedule::kMonthly ? set.kind : schedule::kOnce;
  ShowKind(kind);
  schedule::Parsed p;
  if (schedule::ParseTimeText(kind, set.TimeOfKind(), &p)) {
    switch (kind) {
      case schedule::kOnce:
        once_->date->setDate(QDate(p.year, p.month, p.day));
        SetClock(once_->time, p);
        break;
      case schedule::kDaily: SetClock(daily_->time, p); break;
      case schedule::kWeekly:
        for (int d = 0; d < 7; ++d) weekly_->days[size_t(d)]->setChecked(p.weekdays[d]);
        SetClock(weekly_->time, p);
        break;
      case schedule::kMonthly:
        monthly_->day->setCurrentIndex(p.dayIndex);
        SetClock(monthly_->time, p);
        break;
    }
  }
  if (set.discType >= 0 && set.discType < discType_->count()) discType_->setCurrentIndex(set.discType);
  // A type this version cannot burn is not offered: the first that it can.
  if (auto* model = qobject_cast<QStandardItemModel*>(discType_->model())) {
    for (int type = 0; !model->item(discType_->currentIndex())->isEnabled() && type < discType_->count(); ++type)
      if (model->item(type)->isEnabled()) discType_->setCurrentIndex(type);
  }
  closeDisc_->setChecked(set.closeDisc);
  if (set.afterBurning >= 0 && set.afterBurning < after_->count()) after_->setCurrentIndex(set.afterBurning);
  const QString stored = QString::fromStdString(set.recorders);
  for (int i = 0; i < list_->count(); ++i) {
    const QString text = list_->item(i)->text();
    if (!text.isEmpty() && stored.contains(text.left(1) + ","))
      list_->item(i)->setCheckState(Qt::Checked);
  }
  EnableControls();
}

std::string CDlgTimeSet::TimeText() const {
  auto clock = [](QTimeEdit* e) { return std::array<int, 3>{e->time().hour(), e->time().minute(), 0}; };
  switch (Kind()) {
    case schedule::kDaily: {
      auto c = clock(daily_->time);
      return schedule::DailyText(c[0], c[1], c[2]);
    }
    case schedule::kWeekly: {
      bool days[7];
      for (int d = 0; d < 7; ++d) days[d] = weekly_->days[size_t(d)]->isChecked();
      auto c = clock(weekly_->time);
      return schedule::WeeklyText(days, c[0], c[1], c[2]);
    }
    case schedule::kMonthly: {
      auto c = clock(monthly_->time);
      return schedule::MonthlyText(monthly_->day->currentIndex(), c[0], c[1], c[2]);
    }
    default: {
      const QDate d = once_->date->date();
      auto c = clock(once_->time);
      return schedule::OnceText(d.year(), d.month(), d.day(), c[0], c[1], c[2]);
    }
  }
}

bool CDlgTimeSet::TryAccept() {
  std::string recorders;
  for (int i = 0; i < list_->count(); ++i) {
    const QString text = list_->item(i)->text();
    if (list_->item(i)->checkState() == Qt::Checked && !text.isEmpty()) recorders += text.left(1).toStdString() + ",";
  }
  const bool on = timing_->isChecked();
  if (on) {
    // A schedule that can never fire is refused here, not found out at night.
    if (recorders.empty()) {
      ShowMessage(LoadLangText("Message", 41), msgbox::kInfoOk);
      return false;
    }
    schedule::Parsed parsed;
    if (!schedule::ParseTimeText(Kind(), TimeText(), &parsed)) {
      ShowMessage(LoadLangText("Message", 1601), msgbox::kInfoOk);
      return false;
    }
    auto* model = qobject_cast<QStandardItemModel*>(discType_->model());
    if (model && !model->item(discType_->currentIndex())->isEnabled()) {
      ShowMessage(LoadLangText("Message", 1008), msgbox::kInfoOk);
      return false;
    }
  }
  schedule::TimingSet set;
  set.on = on;
  set.discType = discType_->currentIndex();
  set.kind = Kind();
  set.time[set.kind - 1] = TimeText();
  set.closeDisc = closeDisc_->isChecked();
  set.afterBurning = after_->currentIndex();
  set.recorders = recorders;
  if (!schedule::SaveTimingSet(SettingsFilePath(), set)) {
    ShowMessage(LoadLangText("Message", 1602) + "\n" + SettingsFilePath(), msgbox::kErrorOk);
    return false;
  }
  return true;
}
