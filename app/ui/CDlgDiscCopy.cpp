#include "app/ui/CDlgDiscCopy.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <filesystem>
#include <thread>

#include "BurnCtrl/Results.h"
#include "app/ui/CDlgBurnSet.h"
#include "BurnCtrl/ui/CDlgProgress1.h"
#include "foundation/ProgramDir.h"
#include "foundation/ShowMessage.h"
#include "foundation/ui/WindowSupport.h"

namespace {

std::string ToStd(const QString& s) { return s.toUtf8().toStdString(); }

bool Exists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

}  // namespace

CDlgDiscCopy::CDlgDiscCopy(std::shared_ptr<RecorderService> service, QWidget* parent)
    : QWidget(parent), service_(std::move(service)) {
  ApplySkinPalette(this);
  auto* grid = new QGridLayout(this);
  driveMode_ = new QRadioButton(Tr("UIText", 20), this);
  fileMode_ = new QRadioButton(Tr("UIText", 21), this);
  auto* group = new QButtonGroup(this);
  group->addButton(driveMode_);
  group->addButton(fileMode_);
  driveMode_->setChecked(true);
  sources_ = new QComboBox(this);
  sources_->setProperty("id", 1300);
  tempPath_ = new QLineEdit(QString::fromStdString(DefaultCopyFile()), this);
  tempPath_->setProperty("id", 1301);
  browseTemp_ = new QPushButton("...", this);
  onTheFly_ = new QCheckBox(Tr("UIText", 22), this);
  onTheFly_->setChecked(true);
  deleteAfter_ = new QCheckBox(Tr("UIText", 23), this);
  filePath_ = new QLineEdit(this);
  filePath_->setProperty("id", 1302);
  browseFile_ = new QPushButton("...", this);
  tracks_ = new QTreeWidget(this);
  tracks_->setRootIsDecorated(false);
  tracks_->setHeaderLabels({Tr("Column", 9), Tr("Column", 10), Tr("Column", 11), Tr("Column", 12), Tr("Column", 13)});
  const int widths[] = {70, 70, 150, 120, 120};
  for (int i = 0; i < 5; ++i) tracks_->setColumnWidth(i, widths[i]);

  grid->addWidget(driveMode_, 0, 0, 1, 3);
  grid->addWidget(sources_, 1, 0, 1, 3);
  grid->addWidget(new QLabel(Tr("UIText", 24), this), 2, 0);
  grid->addWidget(tempPath_, 2, 1);
  grid->addWidget(browseTemp_, 2, 2);
  grid->addWidget(onTheFly_, 3, 0, 1, 3);
  grid->addWidget(deleteAfter_, 4, 0, 1, 3);
  grid->addWidget(fileMode_, 5, 0, 1, 3);
  grid->addWidget(new QLabel(Tr("UIText", 1119), this), 6, 0);
  grid->addWidget(filePath_, 6, 1);
  grid->addWidget(browseFile_, 6, 2);
  grid->addWidget(tracks_, 7, 0, 1, 3);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(7, 1);

  connect(driveMode_, &QRadioButton::toggled, this, [this] {
    UpdateEnabled();
    ShowTracks();
  });
  connect(onTheFly_, &QCheckBox::toggled, this, &CDlgDiscCopy::UpdateEnabled);
  connect(sources_, &QComboBox::currentIndexChanged, this, [this] {
    if (driveMode_->isChecked()) ShowTracks();
  });
  connect(filePath_, &QLineEdit::editingFinished, this, [this] {
    if (fileMode_->isChecked()) ShowTracks();
  });
  connect(browseTemp_, &QPushButton::clicked, this, [this] {
    QString p = Files()->SaveFile(this, Tr("UIText", 24), "BCL Files(*.bcl)|*.bcl||", "Temp.bcl", "bcl");
    if (!p.isEmpty()) tempPath_->setText(p);
  });
  connect(browseFile_, &QPushButton::clicked, this, [this] {
    QString p = Files()->OpenFile(this, Tr("UIText", 1119), "Disc copy temp files(*.bcl)|*.bcl||");
    if (p.isEmpty()) return;
    filePath_->setText(p);
    fileMode_->setChecked(true);
    ShowTracks();
  });
  UpdateEnabled();
}

CDlgDiscCopy::~CDlgDiscCopy() {
  if (deleteAfter_->isChecked() && Exists(madeFile_)) std::filesystem::remove(madeFile_);
}

void CDlgDiscCopy::UpdateEnabled() {
  const bool drive = driveMode_->isChecked();
  sources_->setEnabled(drive);
  onTheFly_->setEnabled(drive);
  tempPath_->setEnabled(drive && !onTheFly_->isChecked());
  browseTemp_->setEnabled(drive && !onTheFly_->isChecked());
  filePath_->setEnabled(!drive);
  browseFile_->setEnabled(!drive);
}

void CDlgDiscCopy::FillSourceDrives(int target) {
  const int keep = SelectedSource();
  QSignalBlocker quiet(sources_);
  sources_->clear();
  int kept = -1, other = -1;
  const std::vector<DriveEntry> drives = RunOffWindowThread([this] { return service_->Drives(); });
  for (const DriveEntry& d : drives) {
    if (d.index < 1 || d.index > 25) continue;
    const QString text = QString::fromStdString(d.text);
    sources_->addItem(text, int(d.index));
    sources_->setItemData(sources_->count() - 1, d.where.empty() ? text : text + "\n" + QString::fromStdString(d.where),
                          Qt::ToolTipRole);
    if (d.index == keep) kept = sources_->count() - 1;
    if (other < 0 && d.index != target) other = sources_->count() - 1;
  }
  // A copy reads one disc and writes another: the first choice is a drive
  // other than the target, where there is one.
  sources_->setCurrentIndex(kept >= 0 ? kept : other >= 0 ? other : sources_->count() ? 0 : -1);
  sources_->setToolTip(sources_->currentData(Qt::ToolTipRole).toString());
  if (driveMode_->isChecked()) ShowTracks();
}

int CDlgDiscCopy::SelectedSource() const {
  return sources_->currentIndex() < 0 ? -1 : sources_->currentData().toInt();
}

void CDlgDiscCopy::OneRow(const QString& text) {
  auto* row = new QTreeWidgetItem(tracks_);
  row->setText(0, text);
  row->setFirstColumnSpanned(true);
}

void CDlgDiscCopy::ShowTracks() {
  tracks_->clear();
  const bool drive = driveMode_->isChecked();
  const int source = drive ? SelectedSource() : -1;
  const std::string file = ToStd(filePath_->text());
  if ((drive && source < 0) || (!drive && file.empty())) return;
  std::vector<CopyTrack> rows;
  std::string why;
  const int r = RunOffWindowThread([&] { return service_->CopyTracks(source, drive ? "" : file, &rows, &why); });
  if (r == result::kNotReady || r == result::kNoSuchDrive) return OneRow(Tr("UIText", 25));
  if (r == result::kSourceBlank) return OneRow(Tr("UIText", 26));
  if (r != result::kSuccess) {
    ShowMessage(LoadLangText("Message", 1202) + (why.empty() ? "" : "\n" + why), msgbox::kErrorOk);
    return;
  }
  for (const CopyTrack& t : rows) {
    auto* row = new QTreeWidgetItem(tracks_);
    row->setText(0, QString::asprintf("Session %d", t.session));
    row->setText(1, QString::number(t.track));
    row->setText(2, !t.data ? "AUDIO" : t.form == 0 ? "DATA(Mode1)" : "DATA(Mode2)");
    row->setText(3, QString::number(t.start));
    row->setText(4, QString::number(t.end));
  }
}

// The target must be a recorder with a blank disc; a closed disc is ejected.
bool CDlgDiscCopy::CheckTarget(int target) {
  bool recorder = false;
  std::string label;
  for (const DriveEntry& d : service_->Drives())
    if (d.index == target) recorder = d.recorder, label = d.text.substr(0, d.text.find(':'));
  if (!recorder) {
    ShowMessage(LoadLangText("Message", 16), msgbox::kInfoOk);
    return false;
  }
  DiscInfo disc;
  const int r = RunOffWindowThread([&] {
    if (service_->TestUnitReady(uint8_t(target)) != 0) return result::kNotReady;
    return service_->GetDiscInfoEx(uint8_t(target), &disc);
  });
  if (r != result::kSuccess) {
    ShowMessage(LoadLangText("Message", 1), msgbox::kInfoOk);
    return false;
  }
  // A disc with nothing left to write on (closed) cannot take the copy at all.
  const bool closed = !disc.writable || (!disc.blank && disc.freeBytes == 0);
  if (!closed && !disc.blank) {
    ShowMessage(label + ": " + LoadLangText("Message", 62), msgbox::kInfoOk);
    return false;
  }
  if (closed) {
    ShowMessage(LoadLangText("Message", 17), msgbox::kInfoOk);
    RunOffWindowThread([&] { return service_->Eject(uint8_t(target), true); });
    return false;
  }
  return true;
}

// A readable, not blank disc in the source drive, or a copy file named.
bool CDlgDiscCopy::CheckSource(bool fileMode, int source, const std::string& path) {
  if (fileMode) {
    if (!path.empty()) return true;
    ShowMessage(LoadLangText("Message", 50), msgbox::kInfoOk);
    return false;
  }
  DiscInfo disc;
  const int r = source < 0 ? result::kNoSuchDrive : RunOffWindowThread([&] {
    if (service_->TestUnitReady(uint8_t(source)) != 0) return result::kNotReady;
    return service_->GetDiscInfoEx(uint8_t(source), &disc);
  });
  if (r != result::kSuccess) {
    ShowMessage(LoadLangText("Message", 1), msgbox::kInfoOk);
    return false;
  }
  if (disc.blank) {
    ShowMessage(LoadLangText("Message", 35), msgbox::kInfoOk);
    return false;
  }
  return true;
}

// The copy on a worker thread behind its progress window; its result.
int CDlgDiscCopy::RunCopy(int source, int target, const std::string& path) {
  std::atomic<bool> done{false};
  int result = result::kNothingDone;
  copying_ = true;
  std::thread worker([&] {
    result = service_->DiscCopy(source, uint8_t(target), path);
    done = true;
  });
  CDlgProgress1 progress(this);
  progress.SetCaption(Tr("Message", 54));
  progress.SetDisplay(true, false);
  QTimer timer;
  timer.setInterval(100);
  connect(&timer, &QTimer::timeout, &progress, [&] {
    if (done) return progress.CloseWithOk();
    progress.SetPos(service_->GetCopyProgress(), 0);
    progress.SetStatus(QString::fromStdString(service_->GetCopyItem()));
  });
  timer.start();
  emit DialogOpened(&progress);
  const bool cancelled = progress.exec() != QDialog::Accepted;
  timer.stop();
  if (cancelled) service_->StopCopy();
  RunOffWindowThread([&] { worker.join(); });
  if (CDlgBurnSet::RememberedEjectWhenDone()) RunOffWindowThread([&] { return service_->Eject(uint8_t(target), true); });
  copying_ = false;
  return result;
}

// The copy file of a drive-to-drive copy: the one asked for, or one the
// copy made for itself (one drive as source and target). Kept for further
// copies unless the box says otherwise; a file the user chose as the
// source goes only after a good copy.
void CDlgDiscCopy::TidyCopyFile(bool fileMode, const std::string& path, int result) {
  if (!fileMode) {
    const std::string made = path.empty() ? service_->CopyFilePath() : path;
    if (!made.empty() && Exists(made)) {
      madeFile_ = made;
      if (deleteAfter_->isChecked()) {
        std::error_code ec;
        std::filesystem::remove(made, ec);
        madeFile_.clear();
      } else if (path.empty()) {
        filePath_->setText(QString::fromStdString(made));
      }
    }
  } else if (result == result::kSuccess && deleteAfter_->isChecked()) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
}

int CDlgDiscCopy::StartCopy(int target) {
  const bool fileMode = fileMode_->isChecked();
  const int source = fileMode ? -1 : SelectedSource();
  const bool onTheFly = onTheFly_->isChecked();
  std::string path = fileMode ? ToStd(filePath_->text()) : onTheFly ? "" : ToStd(tempPath_->text());
  if (!CheckSource(fileMode, source, path)) return 0;
  if (!(source == target && onTheFly) && !CheckTarget(target)) return 0;
  // A file already at the copy file's place goes only when the user says so.
  if (!fileMode && !path.empty() && Exists(path)) {
    if (ShowMessage(LoadLangText("Message", 1200) + "\n" + path + "\n" + LoadLangText("Message", 1201),
                    msgbox::kQuestionYesNo) != msgbox::kYes)
      return 0;
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  const int result = RunCopy(source, target, path);
  TidyCopyFile(fileMode, path, result);
  if (result == result::kSuccess) {
    ShowMessage(LoadLangText("Message", 36), msgbox::kInfoOk);
  } else if (result == result::kBurnStopped || result == result::kCopyFileStopped) {
    ShowMessage(LoadLangText("Message", 1010) + "\n" + LoadErrorText(result), msgbox::kInfoOk);
  } else {
    const std::string why = service_->LastCopyError();
    ShowMessage(LoadLangText("Message", 1007) + "\n" + LoadErrorText(result) + (why.empty() ? "" : "\n" + why),
                msgbox::kErrorOk);
  }
  return result;
}
