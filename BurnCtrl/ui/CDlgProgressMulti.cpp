#include "BurnCtrl/ui/CDlgProgressMulti.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"

namespace {

QString Clock(int64_t seconds) {
  return QString::asprintf("%02lld:%02lld:%02lld", (long long)(seconds / 3600), (long long)(seconds / 60 % 60),
                           (long long)(seconds % 60));
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

enum Column { kDrive, kState, kPercent, kCopy, kItem };

}  // namespace

CDlgProgressMulti::CDlgProgressMulti(QWidget* parent) : QDialog(parent) {
  setModal(true);
  ApplySkinPalette(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 12, 14, 12);
  layout->setSpacing(8);
  driveSet_ = new QLabel(this);
  driveSet_->setTextFormat(Qt::PlainText);
  status_ = new QLabel(this);
  status_->setTextFormat(Qt::PlainText);
  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  list_->setFocusPolicy(Qt::NoFocus);
  list_->setColumnCount(5);
  QStringList headers;
  const int widths[] = {150, 80, 50, 80, 550};
  for (int c = 0; c < 5; ++c) headers << Tr("Column", 20 + c);
  list_->setHeaderLabels(headers);
  for (int c = 0; c < 5; ++c) list_->setColumnWidth(c, widths[c]);
  list_->header()->setStretchLastSection(true);
  cancel_ = new QPushButton(Tr("UIText", 64), this);
  cancel_->setProperty("id", 2);
  cancel_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(status_, 1);
  buttons->addWidget(cancel_);
  layout->addWidget(driveSet_);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  connect(cancel_, &QPushButton::clicked, this, &CDlgProgressMulti::reject);
  timer_ = new QTimer(this);
  timer_->setInterval(BurnMultiRun::kPollMs);
  connect(timer_, &QTimer::timeout, this, &CDlgProgressMulti::Poll);
  resize(760, 300);
  setWindowTitle(Tr("UIText", 95) + " " + Clock(0));
}

CDlgProgressMulti::~CDlgProgressMulti() {
  stop_ = true;
  if (preparer_.joinable()) preparer_.join();
  if (run_) {
    run_->Cancel();
    run_->Wait();
  }
}

void CDlgProgressMulti::SetDriveSet(const QString& text, const std::map<int, QString>& names) {
  drives_ = BurnMultiRun::ParseDriveSet(text.toStdString());
  names_ = names;
  list_->clear();
  QStringList shown;
  for (int d : drives_) {
    auto* row = new QTreeWidgetItem(list_);
    row->setText(kDrive, RowName(d));
    row->setText(kState, Tr("UIText", 1340));
    row->setText(kCopy, QString::asprintf("%d / %d", 1, copies_));
    shown << RowName(d).section(' ', 0, 0);
  }
  driveSet_->setText(Tr("UIText", 1346) + " " + shown.join(", "));
}

QString CDlgProgressMulti::DriveSetText() const { return Q(BurnMultiRun::DriveSetText(drives_)); }

void CDlgProgressMulti::SetProject(int kind, int copies) {
  kind_ = kind;
  copies_ = std::max(1, copies);
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    list_->topLevelItem(i)->setText(kCopy, QString::asprintf("%d / %d", 1, copies_));
}

void CDlgProgressMulti::SetBurn(BurnMultiRun::BurnOne burn, BurnMultiRun::Hooks hooks) {
  burn_ = std::move(burn);
  hooks_ = std::move(hooks);
}

QString CDlgProgressMulti::RowName(int drive) const {
  auto it = names_.find(drive);
  if (it != names_.end() && !it->second.isEmpty()) return it->second;
  return QString::asprintf("%c: ", 'A' + drive);
}

void CDlgProgressMulti::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (begun_) return;
  begun_ = true;
  started_.start();
  timer_->start();
  Begin();
}

void CDlgProgressMulti::Begin() {
  if (drives_.empty() || !burn_) {
    // Nothing to write on: nothing starts.
    result_ = result::kNothingDone;
    QTimer::singleShot(0, this, &CDlgProgressMulti::Finish);
    return;
  }
  preparing_ = true;
  status_->setText(Tr("UIText", 1345));
  preparer_ = std::thread([this] {
    prepared_ = prepare_ ? prepare_(stop_) : result::kSuccess;
    preparing_ = false;
  });
}

void CDlgProgressMulti::Poll() {
  if (finished_) return;
  setWindowTitle(Tr("UIText", 95) + " " + Clock(started_.elapsed() / 1000));
  if (preparing_) return;
  if (!run_) {
    if (preparer_.joinable()) preparer_.join();
    if (prepared_ != result::kSuccess || stop_) {
      result_ = stop_ ? result::kBurnStopped : prepared_.load();
      summary_ = Q(LoadErrorText(result_));
      Finish();
      return;
    }
    status_->clear();
    run_ = std::make_unique<BurnMultiRun>(drives_, copies_, burn_, hooks_);
    run_->Start();
  }
  // Asked before the rows are read: once no row runs, this reading is final.
  const bool running = run_->Running();
  const std::vector<MultiRow> rows = run_->Rows();
  for (size_t i = 0; i < rows.size() && int(i) < list_->topLevelItemCount(); ++i) {
    const MultiRow& r = rows[i];
    QTreeWidgetItem* row = list_->topLevelItem(int(i));
    if (r.state == MultiRow::kFailed) {
      // The failure in the state column; the rest says nothing any more.
      row->setText(kState, Q(LoadErrorText(r.result)) + (r.error.empty() ? "" : " " + Q(r.error)));
      row->setToolTip(kState, row->text(kState));
      for (int c : {kPercent, kCopy, kItem}) row->setText(c, QString());
      continue;
    }
    static const int stateKeys[] = {1340, 1341, 1342, 1343, 0, 1344};
    QString state = Tr("UIText", stateKeys[r.state]);
    if (r.state == MultiRow::kNextDisc) state = state.arg(r.copy + 1);
    row->setText(kState, state);
    row->setText(kPercent, r.percent == 0 ? QString() : QString::asprintf("%d%%", r.percent));
    row->setText(kCopy, QString::asprintf("%d / %d", std::max(1, r.copy), r.copies));
    row->setText(kItem, r.state == MultiRow::kNextDisc ? Tr("UIText", 1347) : Q(r.item));
  }
  if (cancelled_ && running) run_->Cancel();  // a burn that began as the stop went out
  if (!running) Finish();
}

void CDlgProgressMulti::Finish() {
  if (finished_) return;
  finished_ = true;
  timer_->stop();
  if (run_) {
    run_->Wait();
    result_ = run_->Result();
    summary_ = Q(run_->Summary([this](int d) { return RowName(d).trimmed().toStdString(); }));
  }
  if (cancelled_ || result_ == result::kBurnStopped) {
    QDialog::reject();
  } else {
    done(QDialog::Accepted);
  }
}

void CDlgProgressMulti::reject() {
  if (finished_ || cancelled_) return;
  if (ShowMessage(LoadLangText("Message", 56), msgbox::kQuestionYesNo) != msgbox::kYes) return;
  Stop();
}

void CDlgProgressMulti::Stop() {
  if (finished_ || cancelled_) return;
  cancelled_ = true;
  stop_ = true;
  cancel_->setEnabled(false);
  status_->setText(Tr("UIText", 1348));
  if (run_) run_->Cancel();
  // The window closes once every recorder has stopped (Poll).
}
