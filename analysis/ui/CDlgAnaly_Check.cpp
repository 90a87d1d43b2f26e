#include "analysis/ui/CDlgAnaly_Check.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <sys/stat.h>

#include <cerrno>

#include "BurnCtrl/Verify.h"
#include "OutputFile.h"
#include "analysis/ui/CheckGraph.h"
#include "app/RecorderService.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"

namespace {

QString FromStd(const std::string& s) { return QString::fromStdString(s); }

QString Seconds(double s) { return QString::number(s, 'f', 1); }

// The speed of the last sample, as the status line shows it while reading.
QString Speed(const CheckReport& r) {
  if (r.samples.empty()) return {};
  const CheckSample& s = r.samples.back();
  return QString("%1x, %2 MB/s").arg(s.factor, 0, 'f', 1).arg(s.megabytesPerSecond, 0, 'f', 2);
}

bool Save(const QString& path, const std::string& bytes, bool replace, std::string* why) {
  return WriteWholeFile(path.toStdString(), bytes, replace ? Existing::kReplace : Existing::kKeep, why);
}

}  // namespace

CDlgAnaly_Check::CDlgAnaly_Check(std::shared_ptr<RecorderService> service, QWidget* parent)
    : QWidget(parent), service_(std::move(service)) {
  ApplySkinPalette(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* row = new QHBoxLayout;
  name_ = new QLabel(this);
  row->addWidget(name_, 1);
  auto button = [&](int key) {
    auto* b = new QPushButton(Tr("UIText", key), this);
    row->addWidget(b);
    return b;
  };
  start_ = button(1420);
  stop_ = button(1421);
  saveReport_ = button(1422);
  saveGraph_ = button(1423);
  saveSums_ = button(1424);
  layout->addLayout(row);
  status_ = new QLabel(Tr("UIText", 1425), this);
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(status_);
  auto* split = new QSplitter(Qt::Vertical, this);
  graph_ = new CheckGraph(split);
  ranges_ = new QTreeWidget(split);
  ranges_->setRootIsDecorated(false);
  ranges_->setColumnCount(5);
  ranges_->setHeaderLabels({Tr("UIText", 1436), Tr("UIText", 1437), Tr("UIText", 1438), Tr("UIText", 1439),
                            Tr("UIText", 1440)});
  ranges_->header()->setStretchLastSection(true);
  for (int c = 0; c < 4; ++c) ranges_->setColumnWidth(c, c == 2 ? 150 : 90);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 1);
  layout->addWidget(split, 1);
  connect(start_, &QPushButton::clicked, this, [this] { Start(); });
  connect(stop_, &QPushButton::clicked, this, &CDlgAnaly_Check::Stop);
  connect(saveReport_, &QPushButton::clicked, this, &CDlgAnaly_Check::SaveReport);
  connect(saveGraph_, &QPushButton::clicked, this, &CDlgAnaly_Check::SaveGraph);
  connect(saveSums_, &QPushButton::clicked, this, &CDlgAnaly_Check::SaveChecksumList);
  EnableButtons();
}

CDlgAnaly_Check::~CDlgAnaly_Check() {
  stopRequested_ = true;
  if (worker_.joinable()) worker_.join();
}

void CDlgAnaly_Check::SetDrive(CDevCmdROM* drive, const QString& name) {
  if (Running()) {
    nextDrive_ = drive, nextName_ = name, driveChanged_ = true;
    return;
  }
  if (drive != drive_) {
    // Another drive's report would be taken for this one's.
    report_ = CheckReport();
    graph_->Clear();
    ranges_->clear();
    status_->setText(Tr("UIText", 1425));
  }
  drive_ = drive;
  driveName_ = name;
  name_->setText(name.isEmpty() ? QString() : Tr("UIText", 15) + " " + name);
  EnableButtons();
}

void CDlgAnaly_Check::EnableButtons() {
  const bool running = Running();
  start_->setEnabled(drive_ && !running);
  stop_->setEnabled(running);
  const bool checked = report_.state != CheckReport::kNoDisc && report_.state != CheckReport::kBlank;
  saveReport_->setEnabled(!running && checked);
  saveGraph_->setEnabled(!running && checked);
  saveSums_->setEnabled(drive_ && !running);
}

bool CDlgAnaly_Check::Start() {
  if (!drive_ || Running()) return false;
  stopRequested_ = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    latest_ = CheckReport();
    progressPosted_ = false;
  }
  graph_->Clear();
  ranges_->clear();
  status_->setText(Tr("UIText", 1426).arg(0).arg(QString()).arg(QString()));
  CDevCmdROM* drive = drive_;
  worker_ = std::thread([this, drive] {
    CheckOptions options;
    options.stopped = [this] { return stopRequested_.load(); };
    options.sampled = [this](const CheckReport& soFar) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = soFar;
        // One repaint waiting is enough: it shows the newest report.
        if (progressPosted_) return;
        progressPosted_ = true;
      }
      QMetaObject::invokeMethod(this, [this] { ShowProgress(); }, Qt::QueuedConnection);
    };
    CheckReport report = service_->CheckDisc(*drive, options);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      final_ = std::move(report);
    }
    QMetaObject::invokeMethod(this, [this] { Finish(); }, Qt::QueuedConnection);
  });
  EnableButtons();
  return true;
}

void CDlgAnaly_Check::Stop() { stopRequested_ = true; }

void CDlgAnaly_Check::ShowProgress() {
  CheckReport r;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    r = latest_;
    progressPosted_ = false;
  }
  if (!Running()) return;  // the end is shown already
  const int percent = r.total ? int(r.sectors * 100 / r.total) : 0;
  QString text = Tr("UIText", 1426).arg(percent).arg(r.sectors).arg(Speed(r));
  if (r.unreadableSectors) text += "\n" + Tr("UIText", 1427).arg(r.unreadableSectors);
  status_->setText(text);
  graph_->SetReport(r);
  ShowRanges(r);
}

void CDlgAnaly_Check::ShowRanges(const CheckReport& r) {
  ranges_->clear();
  for (const CheckRange& u : r.unreadable) {
    QString owners;
    for (const std::string& o : u.owners) owners += (owners.isEmpty() ? "" : ", ") + FromStd(o);
    auto* item = new QTreeWidgetItem(QStringList{QString::number(u.first), QString::number(u.last),
                                                 FromStd(LbaMsf(u.first) + " - " + LbaMsf(u.last)),
                                                 QString::number(u.last - u.first + 1), owners});
    item->setToolTip(4, owners);
    for (int c : {0, 1, 3}) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    ranges_->addTopLevelItem(item);
  }
}

void CDlgAnaly_Check::Finish() {
  if (worker_.joinable()) worker_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    report_ = final_;
  }
  const CheckReport& r = report_;
  QString text;
  switch (r.state) {
    case CheckReport::kNoDisc:
    case CheckReport::kBlank: text = Tr("UIText", 1434).arg(FromStd(r.why)); break;
    case CheckReport::kStopped: text = Tr("UIText", 1430).arg(Seconds(r.seconds)).arg(r.sectors).arg(r.total); break;
    case CheckReport::kLost: text = Tr("UIText", 1435).arg(r.lostAt).arg(FromStd(r.why)); break;
    case CheckReport::kDone:
      text = r.Failed() ? Tr("UIText", 1429).arg(Seconds(r.seconds)).arg(r.unreadableSectors).arg(r.unreadable.size())
                        : Tr("UIText", 1428).arg(Seconds(r.seconds));
      break;
  }
  if (r.state != CheckReport::kDone && r.Failed()) text += "\n" + Tr("UIText", 1427).arg(r.unreadableSectors);
  status_->setText(text);
  graph_->SetReport(r);
  ShowRanges(r);
  TakeWaitingDrive();
  EnableButtons();
  emit CheckFinished();
}

void CDlgAnaly_Check::TakeWaitingDrive() {
  if (!driveChanged_) return;
  driveChanged_ = false;
  // The report stays with the drive it came from.
  SetDrive(nextDrive_, nextName_);
}

bool CDlgAnaly_Check::SaveReportTo(const QString& path, bool replace, std::string* why) const {
  return Save(path, CheckReportText(report_), replace, why);
}

bool CDlgAnaly_Check::SaveGraphTo(const QString& path, bool replace, std::string* why) const {
  const bool svg = path.endsWith(".svg", Qt::CaseInsensitive);
  return Save(path, svg ? CheckPlotSvg(report_) : CheckPlotPng(report_), replace, why);
}

bool CDlgAnaly_Check::StartChecksumList(const QString& path, bool replace, std::string* why) {
  if (!drive_ || Running()) {
    if (why) *why = LoadLangText("Message", 1043);
    return false;
  }
  // The place is judged before the disc is read for minutes.
  struct stat st;
  if (!replace && ::lstat(path.toLocal8Bit().constData(), &st) == 0) {
    if (why) *why = path.toStdString() + ": " + OutputErrorText(EEXIST);
    return false;
  }
  stopRequested_ = false;
  sumsPath_ = path;
  sumsReplace_ = replace;
  status_->setText(Tr("UIText", 1441));
  CDevCmdROM* drive = drive_;
  worker_ = std::thread([this, drive] {
    auto list = std::make_unique<Md5List>(service_->ChecksumList(*drive, [this] { return stopRequested_.load(); }));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sums_ = std::move(list);
    }
    QMetaObject::invokeMethod(this, [this] { FinishChecksumList(); }, Qt::QueuedConnection);
  });
  EnableButtons();
  return true;
}

void CDlgAnaly_Check::FinishChecksumList() {
  if (worker_.joinable()) worker_.join();
  std::unique_ptr<Md5List> list;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    list = std::move(sums_);
  }
  TakeWaitingDrive();
  EnableButtons();
  std::string why;
  if (list->stopped) {
    status_->setText(Tr("UIText", 1442));
  } else if (!list->ok) {
    status_->clear();
    ShowMessage(LoadLangText("Message", 1042) + "\n" + list->error, msgbox::kErrorOk);
  } else if (!Save(sumsPath_, list->text, sumsReplace_, &why)) {
    status_->clear();
    ShowMessage(LoadLangText("Message", 1042) + "\n" + why, msgbox::kErrorOk);
  } else {
    status_->setText(Tr("UIText", 1443).arg(sumsPath_));
    // A list that leaves files out says which, so that nobody takes it for
    // the whole disc.
    if (!list->failed.empty() || !list->complete) {
      std::string text = LoadLangText("Message", 1044);
      for (const std::string& f : list->failed) text += "\n" + f;
      if (!list->complete) text += "\n" + list->error;
      ShowMessage(text, msgbox::kErrorOk);
    }
  }
  emit ChecksumListFinished();
}

void CDlgAnaly_Check::SaveReport() {
  if (!saveReport_->isEnabled()) return;
  const QString path = Files()->SaveFile(this, Tr("UIText", 1431), "Text Files(*.txt)|*.txt||", "check.txt", "txt");
  std::string why;
  // The file dialog has asked before an existing file is replaced.
  if (!path.isEmpty() && !SaveReportTo(path, true, &why))
    ShowMessage(LoadLangText("Message", 1040) + "\n" + why, msgbox::kErrorOk);
}

void CDlgAnaly_Check::SaveGraph() {
  if (!saveGraph_->isEnabled()) return;
  const QString path = Files()->SaveFile(this, Tr("UIText", 1432), "PNG Images(*.png)|*.png|SVG Images(*.svg)|*.svg||",
                                         "check.png", "png");
  std::string why;
  if (!path.isEmpty() && !SaveGraphTo(path, true, &why))
    ShowMessage(LoadLangText("Message", 1041) + "\n" + why, msgbox::kErrorOk);
}

void CDlgAnaly_Check::SaveChecksumList() {
  if (!saveSums_->isEnabled()) return;
  const QString path = Files()->SaveFile(this, Tr("UIText", 1433), "MD5 Lists(*.md5)|*.md5||", "disc.md5", "md5");
  std::string why;
  if (!path.isEmpty() && !StartChecksumList(path, true, &why))
    ShowMessage(LoadLangText("Message", 1042) + "\n" + why, msgbox::kErrorOk);
}
