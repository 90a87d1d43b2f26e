#include "BurnCtrl/ui/CDlgEProgress.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "app/ui/WindowSupport.h"

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
  resize(380, 100);
}

void CDlgEProgress::Advance() { bar_->setValue(bar_->value() >= 99 ? 1 : bar_->value() + 1); }

int CDlgEProgress::Pos() const { return bar_->value(); }
