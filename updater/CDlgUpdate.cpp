#include "updater/CDlgUpdate.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/LangText.h"

namespace {
QString Text(int key, const char* fallback) {
  QString text = QString::fromStdString(LoadLangText("Update", key));
  return text.isEmpty() ? QString(fallback) : text;
}
}  // namespace

CDlgUpdate::CDlgUpdate(UpdateJob& job, QWidget* parent) : QDialog(parent), job_(job) {
  setProperty("id", 102);
  setWindowTitle(Text(1, "Update"));
  // No maximise box and no close item: the update ends through Cancel.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint);
  status_ = new QLabel(this);
  status_->setProperty("id", 1004);
  status_->setTextFormat(Qt::PlainText);
  status_->setMinimumWidth(340);
  counter_ = new QLabel(this);
  counter_->setProperty("id", 1005);
  percent_ = new QLabel(this);
  percent_->setProperty("id", 1006);
  percent_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  percent_->setMinimumWidth(48);
  bar_ = new QProgressBar(this);
  bar_->setProperty("id", 1000);
  bar_->setRange(0, 100);
  bar_->setTextVisible(false);
  cancel_ = new QPushButton(Text(2, "Cancel"), this);
  cancel_->setProperty("id", 1003);
  connect(cancel_, &QPushButton::clicked, this, &CDlgUpdate::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status_);
  auto* row = new QHBoxLayout;
  row->addWidget(bar_, 1);
  row->addWidget(percent_);
  layout->addLayout(row);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(counter_);
  bottom->addStretch(1);
  bottom->addWidget(cancel_);
  layout->addLayout(bottom);
  setFixedSize(sizeHint().expandedTo(QSize(420, 130)));

  timer_.setInterval(50);
  connect(&timer_, &QTimer::timeout, this, &CDlgUpdate::ShowProgress);
  ShowProgress();
}

CDlgUpdate::~CDlgUpdate() {
  job_.Cancel();
  if (worker_.joinable()) worker_.join();
}

void CDlgUpdate::Begin() { RunPhase(job_.HasPending()); }

void CDlgUpdate::RunPhase(bool install) {
  if (worker_.joinable()) worker_.join();
  timer_.start();
  worker_ = std::thread([this, install] {
    UpdateJob::Outcome outcome = install ? job_.InstallPhase() : job_.DownloadPhase();
    QMetaObject::invokeMethod(this, [this, install, outcome] { PhaseEnded(install, outcome); }, Qt::QueuedConnection);
  });
}

void CDlgUpdate::PhaseEnded(bool install, UpdateJob::Outcome outcome) {
  if (worker_.joinable()) worker_.join();
  if (!install && outcome == UpdateJob::Outcome::Downloaded && !cancelled_) {
    RunPhase(true);
    return;
  }
  if (cancelled_ && !install) {
    // Cancel during the download: nothing of it stays, and the main program
    // offers the update again at its next start.
    job_.Discard();
    outcome = UpdateJob::Outcome::GivenUp;
  }
  End(outcome);
}

void CDlgUpdate::End(UpdateJob::Outcome outcome) {
  timer_.stop();
  ShowProgress();
  outcome_ = outcome;
  finished_ = true;
  emit WorkEnded(int(outcome));
  done(outcome == UpdateJob::Outcome::Installed ? QDialog::Accepted : QDialog::Rejected);
}

void CDlgUpdate::reject() {
  if (finished_) {
    QDialog::reject();
    return;
  }
  // Putting the files in place is a few renames and is never stopped half
  // way; before that, Cancel stops the transfer at its next block.
  if (job_.Installing() || cancelled_) return;
  cancelled_ = true;
  cancel_->setEnabled(false);
  job_.Cancel();
  if (!worker_.joinable()) End(UpdateJob::Outcome::GivenUp);
}

void CDlgUpdate::closeEvent(QCloseEvent* event) {
  if (finished_) {
    event->accept();
    return;
  }
  event->ignore();
}

void CDlgUpdate::ShowProgress() {
  status_->setText(QString::fromStdString(job_.CurrentPath()));
  counter_->setText(QString("%1 / %2").arg(job_.Current()).arg(job_.Total()));
  int position = job_.Percent();
  if (job_.Installing() && job_.Total() > 0) position = job_.Current() * 100 / job_.Total();
  position = std::clamp(position, 0, 100);
  bar_->setValue(position);
  percent_->setText(QString("%1%").arg(position));
}

void CDlgUpdate::paintEvent(QPaintEvent*) {
  // Bands of three pixels, from grey 249 three levels darker each.
  QPainter p(this);
  int grey = 249;
  for (int y = 0; y < height(); y += 3) {
    p.fillRect(0, y, width(), 3, QColor(grey, grey, grey));
    grey = std::max(0, grey - 3);
  }
}
