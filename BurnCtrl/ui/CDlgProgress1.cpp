#include "BurnCtrl/ui/CDlgProgress1.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include "foundation/ShowMessage.h"
#include "foundation/SizeText.h"
#include "foundation/ui/WindowSupport.h"
#include "controls/CColorBtn.h"

namespace {

QString Clock(int64_t seconds) {
  return QString::asprintf("%02lld:%02lld:%02lld", (long long)(seconds / 3600), (long long)(seconds / 60 % 60),
                           (long long)(seconds % 60));
}

// Dark text on the empty part, white on the filled part: the percentage
// stays readable wherever the bar has got to.
void StyleBar(QProgressBar* bar) {
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(true);
  bar->setFormat("%p %");
  bar->setAlignment(Qt::AlignCenter);
  bar->setMinimumHeight(22);
  QPalette pal = bar->palette();
  pal.setColor(QPalette::Base, QColor(236, 240, 246));
  pal.setColor(QPalette::Window, QColor(236, 240, 246));
  pal.setColor(QPalette::Text, QColor(20, 30, 50));
  pal.setColor(QPalette::WindowText, QColor(20, 30, 50));
  pal.setColor(QPalette::Highlight, QColor(20, 102, 178));
  pal.setColor(QPalette::HighlightedText, Qt::white);
  bar->setPalette(pal);
}

// A named figure in the grid; its value shows a dash until known.
QLabel* AddFigure(QGridLayout* grid, QWidget* parent, int key, int row, int column) {
  auto* name = new QLabel(Tr("UIText", key), parent);
  auto* value = new QLabel(QStringLiteral("\u2013"), parent);
  value->setTextFormat(Qt::PlainText);
  grid->addWidget(name, row, column * 2);
  grid->addWidget(value, row, column * 2 + 1);
  return value;
}

}  // namespace

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
  for (QProgressBar* bar : {bar1_, bar2_}) StyleBar(bar);
  BuildFigures();
  QHBoxLayout* buttons = BuildButtons();
  layout->addWidget(caption_);
  layout->addWidget(status_);
  layout->addWidget(bar1_);
  layout->addWidget(figures_);
  layout->addWidget(bar2_);
  layout->addStretch();
  layout->addLayout(buttons);
  connect(cancel_, &QPushButton::clicked, this, &CDlgProgress1::reject);
  connect(extra_, &QPushButton::clicked, this, &CDlgProgress1::ExtraClicked);
  fullHeight_ = std::max(fullHeight_, sizeHint().height());
  resize(520, fullHeight_);
  started_.start();
  timer_ = new QTimer(this);
  timer_->setInterval(1000);
  connect(timer_, &QTimer::timeout, this, &CDlgProgress1::Tick);
  timer_->start();
  Tick();
}

void CDlgProgress1::BuildFigures() {
  figures_ = new QWidget(this);
  auto* grid = new QGridLayout(figures_);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(2);
  written_ = AddFigure(grid, figures_, 1107, 0, 0);
  speed_ = AddFigure(grid, figures_, 1109, 0, 1);
  timeLeft_ = AddFigure(grid, figures_, 1110, 1, 0);
  buffer_ = AddFigure(grid, figures_, 1111, 1, 1);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
}

QHBoxLayout* CDlgProgress1::BuildButtons() {
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
  return buttons;
}

void CDlgProgress1::Tick() {
  setWindowTitle(Tr("UIText", 95) + " " + Clock(started_.elapsed() / 1000));
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

void CDlgProgress1::SetFigures(uint64_t written, uint64_t total, double bytesPerSecond, double unitSpeed,
                               int64_t secondsLeft, int bufferPercent) {
  const QString dash = QStringLiteral("\u2013");
  shownWritten_ = written;
  shownTotal_ = total;
  shownLeft_ = secondsLeft;
  shownBuffer_ = bufferPercent;
  written_->setText(total > 0 ? Tr("UIText", 1108)
                                    .arg(QString::fromStdString(FormatSize(written)),
                                         QString::fromStdString(FormatSize(total)))
                              : dash);
  if (bytesPerSecond <= 0) speed_->setText(dash);
  else if (unitSpeed <= 0) speed_->setText(QString::asprintf("%.2f MB/s", bytesPerSecond / 1048576.0));
  else speed_->setText(QString::asprintf("%.1f\u00d7 (%.2f MB/s)", bytesPerSecond / unitSpeed, bytesPerSecond / 1048576.0));
  timeLeft_->setText(secondsLeft >= 0 ? Clock(secondsLeft) : dash);
  buffer_->setText(bufferPercent >= 0 ? QString::asprintf("%d %%", bufferPercent) : dash);
}

QString CDlgProgress1::WrittenText() const { return written_->text(); }
QString CDlgProgress1::SpeedText() const { return speed_->text(); }
QString CDlgProgress1::TimeLeftText() const { return timeLeft_->text(); }
QString CDlgProgress1::BufferText() const { return buffer_->text(); }

QString CDlgProgress1::Caption() const { return caption_->text(); }
QString CDlgProgress1::Status() const { return status_->toolTip(); }
int CDlgProgress1::FirstPos() const { return bar1_->value(); }
int CDlgProgress1::SecondPos() const { return bar2_->value(); }

void CDlgProgress1::reject() {
  const std::string question = cancelQuestion_.empty() ? LoadLangText("Message", 56) : cancelQuestion_;
  if (ShowMessage(question, msgbox::kQuestionYesNo) != msgbox::kYes) return;
  QDialog::reject();
}
