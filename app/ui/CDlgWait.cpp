#include "app/ui/CDlgWait.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "foundation/ui/WindowSupport.h"
#include "authoring/CFileManager.h"

CDlgWait::CDlgWait(Work work, const QString& caption, int periodMs, QWidget* parent)
    : QDialog(parent), work_(std::move(work)) {
  setWindowTitle("Varnex");
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(caption, this);
  text_ = new QLabel(this);
  text_->setMinimumWidth(360);
  text_->setTextFormat(Qt::PlainText);
  cancel_ = new QPushButton(Tr("UIText", 64).isEmpty() ? "Cancel" : Tr("UIText", 64), this);
  layout->addWidget(heading);
  layout->addWidget(text_);
  layout->addWidget(cancel_, 0, Qt::AlignRight);
  connect(cancel_, &QPushButton::clicked, this, &CDlgWait::reject);
  cancel_->setDefault(true);
  timer_ = new QTimer(this);
  timer_->setInterval(periodMs);
  connect(timer_, &QTimer::timeout, this, &CDlgWait::Tick);
  timer_->start();
}

CDlgWait::CDlgWait(CFileManager* manager, int periodMs, QWidget* parent)
    : CDlgWait(Work{[manager] { return manager->Busy(); }, [manager] { return manager->CurrentFileText(); },
                    [manager] { manager->Stop(); }},
               Tr("UIText", 1100), periodMs, parent) {}

void CDlgWait::Tick() {
  if (!work_.busy()) {
    timer_->stop();
    accept();
    return;
  }
  if (cancelled_) return;
  QString text = QString::fromStdString(work_.currentFile());
  text_->setText(text_->fontMetrics().elidedText(text, Qt::ElideMiddle, text_->width()));
}

void CDlgWait::reject() {
  // The worker may still be changing the project: the window stays until it
  // has stopped, so nothing is left half done behind it.
  cancelled_ = true;
  work_.stop();
  cancel_->setEnabled(false);
  text_->setText(Tr("UIText", 1101));
}
