#include "BurnCtrl/ui/CDlgProgress1.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include "app/ShowMessage.h"
#include "app/ui/WindowSupport.h"
#include "controls/CColorBtn.h"

CDlgProgress1::CDlgProgress1(QWidget* parent) : QDialog(parent) {
  setModal(true);
  ApplySkinPalette(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 14, 18, 14);
  layout->setSpacing(8);
  caption_ = new QLabel(Tr("UIText", 69), this);
  QFont bold = caption_->font();
  bold.setBold(true);
  bold.setPixelSize(15);
  caption_->setFont(bold);
  status_ = new QLabel(this);
  status_->setTextFormat(Qt::PlainText);
  status_->setMinimumWidth(420);
  bar1_ = new QProgressBar(this);
  bar2_ = new QProgressBar(this);
  for (QProgressBar* bar : {bar1_, bar2_}) {
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(true);
  }
  extra_ = new QPushButton(this);
  extra_->hide();
  check_ = new QCheckBox(this);
  check_->hide();
  auto* cancel = new CColorBtn(Tr("UIText", 64).isEmpty() ? "Cancel" : Tr("UIText", 64), this);
  cancel->SetBKColor(0x00B26614);      // the skin's accent blue
  cancel->SetMyTextColor(0x00FFFFFF);
  cancel->setMinimumSize(96, 28);
  cancel->setCursor(Qt::PointingHandCursor);
  cancel_ = cancel;
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(check_);
  buttons->addStretch();
  buttons->addWidget(extra_);
  buttons->addWidget(cancel_);
  layout->addWidget(caption_);
  layout->addWidget(status_);
  layout->addWidget(bar1_);
  layout->addWidget(bar2_);
  layout->addStretch();
  layout->addLayout(buttons);
  connect(cancel_, &QPushButton::clicked, this, &CDlgProgress1::reject);
  connect(extra_, &QPushButton::clicked, this, &CDlgProgress1::ExtraClicked);
  resize(480, fullHeight_);
  started_.start();
  timer_ = new QTimer(this);
  timer_->setInterval(1000);
  connect(timer_, &QTimer::timeout, this, &CDlgProgress1::Tick);
  timer_->start();
  Tick();
}

void CDlgProgress1::Tick() {
  qint64 seconds = started_.elapsed() / 1000;
  QString elapsed = QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, (seconds / 60) % 60, seconds % 60);
  setWindowTitle(Tr("UIText", 95) + " " + elapsed);
}

void CDlgProgress1::StopTimer() { timer_->stop(); }

void CDlgProgress1::SetDisplay(bool firstBar, bool secondBar) {
  first_ = firstBar;
  second_ = secondBar;
  bar1_->setVisible(firstBar);
  bar2_->setVisible(firstBar && secondBar);
  int height = firstBar && secondBar ? fullHeight_ : firstBar ? fullHeight_ * 4 / 10 : fullHeight_ * 2 / 3;
  setMinimumHeight(0);
  resize(width(), std::max(height, sizeHint().height()));
}

void CDlgProgress1::SetCaption(const QString& text) { caption_->setText(text); }
void CDlgProgress1::SetStatus(const QString& text) {
  status_->setText(status_->fontMetrics().elidedText(text, Qt::ElideMiddle, std::max(200, status_->width())));
  status_->setToolTip(text);
}
void CDlgProgress1::SetPos(int first, int second) {
  bar1_->setValue(std::clamp(first, 0, 100));
  bar2_->setValue(std::clamp(second, 0, 100));
}
void CDlgProgress1::ShowExtraButton(const QString& text) {
  extra_->setText(text);
  extra_->show();
}

QString CDlgProgress1::Caption() const { return caption_->text(); }
QString CDlgProgress1::Status() const { return status_->toolTip(); }
int CDlgProgress1::FirstPos() const { return bar1_->value(); }
int CDlgProgress1::SecondPos() const { return bar2_->value(); }

void CDlgProgress1::reject() {
  if (ShowMessage(LoadLangText("Message", 56), msgbox::kQuestionYesNo) != msgbox::kYes) return;
  QDialog::reject();
}
