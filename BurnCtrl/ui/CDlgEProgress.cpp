#include "BurnCtrl/ui/CDlgEProgress.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "foundation/ui/WindowSupport.h"

CDlgEProgress::CDlgEProgress(QWidget* parent) : QDialog(parent) {
  setModal(true);
  setWindowTitle("Varnex");
  ApplySkinPalette(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 14, 18, 14);
  auto* caption = new QLabel(Tr("UIText", 90), this);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  layout->addWidget(caption);
  layout->addWidget(bar_);
  // The erase reports no amount; the time it has taken shows it is alive.
  elapsed_ = new QLabel(this);
  layout->addWidget(elapsed_);
  started_.start();
  ShowElapsed();
  resize(380, 100);
}

void CDlgEProgress::Advance() {
  bar_->setValue(bar_->value() >= 99 ? 1 : bar_->value() + 1);
  ShowElapsed();
}

void CDlgEProgress::ShowElapsed() {
  const qint64 s = started_.elapsed() / 1000;
  elapsed_->setText(Tr("UIText", 1117) + QString::asprintf(" %02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60));
  setWindowTitle(elapsed_->text());
}

QString CDlgEProgress::ElapsedText() const { return elapsed_->text(); }

int CDlgEProgress::Pos() const { return bar_->value(); }
