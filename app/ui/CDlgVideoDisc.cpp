#include "app/ui/CDlgVideoDisc.h"

#include <QButtonGroup>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPixmap>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>
#include <thread>

#include "jobs/CDvdVideoProject.h"
#include "app/ui/CDlgWait.h"
#include "app/ui/AddReport.h"
#include "foundation/LangText.h"
#include "foundation/ResultCodes.h"
#include "foundation/ShowMessage.h"
#include "foundation/TempFiles.h"
#include "foundation/ui/WindowSupport.h"
#include "media/CAVConvert.h"
#include "MediumTable.h"

namespace {

// A single-layer DVD's sectors less those a DVD-Video disc keeps free, in MB.
const double kDvdMB =
    double(medium::Capacity(medium::kDvdPlusR) - CDvdVideoProject::kReserveSectors) * 2048 / (1024 * 1024);

// Banner colours of the three kinds, and the capacity each is measured
// against (an 80-minute CD holds 700 MB of Form 2 video at most).
const CDlgVideoDisc::KindLook kLooks[] = {
    {CVideoDiscProject::kVideoCd, QColor(147, 147, 147), 1130, 700},
    {CVideoDiscProject::kSuperVideoCd, QColor(122, 127, 150), 1131, 700},
    {CVideoDiscProject::kDvdVideo, QColor(104, 113, 153), 1132, kDvdMB},
};

std::string ToStd(const QString& s) { return s.toStdString(); }

}  // namespace

const CDlgVideoDisc::KindLook* CDlgVideoDisc::Look(int kind) {
  for (const KindLook& l : kLooks)
    if (l.kind == kind) return &l;
  return &kLooks[0];
}

CDlgVideoDisc::CDlgVideoDisc(int kind, QWidget* parent) : QWidget(parent), project_(kind) {
  ApplySkinPalette(this);
  banner_ = new QLabel(this);
  banner_->setAutoFillBackground(true);
  banner_->setMargin(6);
  list_ = new QListWidget(this);
  list_->setProperty("id", 1001);
  list_->setIconSize(QSize(kThumbnail, kThumbnail));
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->installEventFilter(this);
  total_ = new QLabel(this);
  capacity_ = new QProgressBar(this);
  capacity_->setTextVisible(false);
  reencode_ = new QCheckBox(Tr("UIText", 16), this);
  reencode_->setChecked(true);
  ntsc_ = new QRadioButton("NTSC", this);
  pal_ = new QRadioButton("PAL", this);
  narrow_ = new QRadioButton("4:3", this);
  wide_ = new QRadioButton("16:9", this);
  auto* tv = new QButtonGroup(this);
  tv->addButton(ntsc_);
  tv->addButton(pal_);
  auto* shape = new QButtonGroup(this);
  shape->addButton(narrow_);
  shape->addButton(wide_);
  pal_->setChecked(true);
  narrow_->setChecked(true);
  label_ = new QLineEdit(this);
  label_->setMaxLength(32);

  auto* options = new QVBoxLayout;
  options->addWidget(reencode_);
  options->addWidget(ntsc_);
  options->addWidget(pal_);
  options->addSpacing(8);
  options->addWidget(narrow_);
  options->addWidget(wide_);
  options->addSpacing(8);
  options->addWidget(new QLabel(Tr("UIText", 1133), this));
  options->addWidget(label_);
  options->addStretch(1);
  auto* body = new QHBoxLayout;
  body->addWidget(list_, 3);  // three quarters of the width
  body->addLayout(options, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(banner_);
  layout->addLayout(body, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(total_);
  bottom->addWidget(capacity_, 1);
  layout->addLayout(bottom);

  connect(reencode_, &QCheckBox::toggled, this, [this] { ApplyOptions(); });
  for (QRadioButton* b : {ntsc_, pal_, narrow_, wide_}) connect(b, &QRadioButton::toggled, this, [this] { ApplyOptions(); });
  connect(label_, &QLineEdit::textEdited, this, [this](const QString& text) {
    project_.SetLabel(ToStd(text));
    Changed();
  });
  SetMode(kind);
  ApplyOptions();
}

CDlgVideoDisc::~CDlgVideoDisc() {
  for (const std::string& jpg : thumbnails_) std::remove(jpg.c_str());
}

void CDlgVideoDisc::SetMode(int kind) {
  project_.SetMode(kind);
  const KindLook* look = Look(project_.Mode());
  QPalette p = banner_->palette();
  p.setColor(QPalette::Window, look->banner);
  p.setColor(QPalette::WindowText, Qt::white);
  banner_->setPalette(p);
  banner_->setText(Tr("UIText", look->captionKey));
  label_->setText(QString::fromStdString(project_.Label()));
  // A DVD-Video is always converted: its titles are made by the authoring tools.
  reencode_->setVisible(project_.Mode() != CVideoDiscProject::kDvdVideo);
  if (project_.Mode() == CVideoDiscProject::kDvdVideo) reencode_->setChecked(true);
  UpdateTotals();
}

void CDlgVideoDisc::ApplyOptions() {
  // The television system and the picture shape only matter when converting.
  const bool on = reencode_->isChecked();
  for (QRadioButton* b : {ntsc_, pal_, narrow_, wide_}) b->setEnabled(on);
  project_.SetReencode(on);
  project_.SetNtsc(ntsc_->isChecked());
  project_.SetWide(wide_->isChecked());
}

void CDlgVideoDisc::Changed() {
  modified_ = true;
  UpdateTotals();
  emit ProjectChanged();
}

void CDlgVideoDisc::UpdateTotals() {
  const float mb = project_.TotalMB();
  total_->setText(project_.ItemCount() == 0 ? QString("0.00M") : QString::asprintf("%.2f M ", double(mb)));
  const double capacity = Look(project_.Mode())->capacityMB;
  capacity_->setRange(0, 1000);
  capacity_->setValue(int(std::min(1.0, double(mb) / capacity) * 1000));
  capacity_->setToolTip(QString::asprintf("%.0f / %.0f MB", double(mb), capacity));
}

void CDlgVideoDisc::MakeThumbnails(const std::atomic<bool>* cancel) {
  // Off the window thread: the converter takes a frame of each new item.
  for (const VideoItem& item : project_.Items()) {
    if (cancel && *cancel) return;
    if (jpegs_.count(item.source)) continue;
    std::string jpg = MakeTempFile("jpg");
    if (jpg.empty()) continue;
    thumbnails_.push_back(jpg);
    CAVConvert converter;
    const int seek = CVideoDiscProject::ThumbnailSeek(CAVConvert::ParseDuration(item.duration));
    if (!converter.MakeThumbnail(kThumbnail, seek, item.source, jpg)) jpg.clear();
    jpegs_[item.source] = jpg;
  }
}

QIcon CDlgVideoDisc::ThumbnailOf(const std::string& source) {
  auto it = jpegs_.find(source);
  QPixmap picture;
  if (it == jpegs_.end() || it->second.empty() || !picture.load(QString::fromStdString(it->second))) return QIcon();
  return QIcon(picture.scaled(kThumbnail, kThumbnail));
}

void CDlgVideoDisc::RefreshList() {
  list_->clear();
  for (const VideoItem& item : project_.Items()) {
    const QString text = QString::fromStdString(item.name) + "\n" + Tr("Column", 3) + ": " +
                         QString::fromStdString(item.duration.substr(0, 8)) + "\n" + Tr("Column", 6) + ": " +
                         QString::fromStdString(item.source);
    list_->addItem(new QListWidgetItem(ThumbnailOf(item.source), text));
  }
  if (list_->count() > 0) list_->setCurrentRow(list_->count() - 1);
  UpdateTotals();
}

bool CDlgVideoDisc::AddPaths(const QStringList& paths, int periodMs) {
  if (adding_ || paths.isEmpty()) return false;
  adding_ = true;
  std::vector<std::string> files;
  for (const QString& p : paths) {
    if (QFileInfo(p).isDir()) {
      // A folder gives its videos in name order, those of its sub-folders too.
      QDirIterator it(p, QDir::Files, QDirIterator::Subdirectories);
      std::vector<std::string> found;
      while (it.hasNext()) found.push_back(ToStd(it.next()));
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else {
      files.push_back(ToStd(p));
    }
  }
  const size_t before = project_.ItemCount();
  std::atomic<bool> finished{false}, cancel{false};
  std::vector<std::string> refused;
  std::string current;
  std::mutex currentLock;
  std::thread worker([&] {
    for (const std::string& f : files) {
      if (cancel) break;
      {
        std::lock_guard<std::mutex> hold(currentLock);
        current = f;
      }
      std::string why;
      if (project_.AddVideoFile(f, &why) == CVideoDiscProject::kUnreadable) refused.push_back(why);
    }
    MakeThumbnails(&cancel);
    finished = true;
  });
  CDlgWait wait(CDlgWait::Work{[&finished] { return !finished; },
                               [&] {
                                 std::lock_guard<std::mutex> hold(currentLock);
                                 return current;
                               },
                               [&cancel] { cancel = true; }},
                Tr("UIText", 1134), periodMs, this);
  QTimer::singleShot(0, &wait, [&] {
    if (finished) wait.accept();
  });
  wait.exec();
  RunOffWindowThread([&] { worker.join(); });
  adding_ = false;
  RefreshList();
  if (project_.ItemCount() != before) Changed();
  // One box for all that was left out.
  std::string text;
  for (const std::string& r : refused) text += (text.empty() ? "" : "\n") + r;
  if (!text.empty()) ReportNotAdded(text);
  return project_.ItemCount() != before;
}

void CDlgVideoDisc::AddFiles() {
  const QString filter = "Video Files (*.avi; *.mpg; *.mpeg; *.vob; *.wmv; *.mp4; *.mkv; *.mov)|*.avi;*.mpg;*.mpeg;"
                         "*.vob;*.wmv;*.asf;*.dic;*.qt;*.mov;*.m1v;*.flv;*.m2v;*.ts;*.m2ts;*.mp4;*.m4v;*.mkv;*.webm;*.dat|" +
                         Tr("UIText", 1104) + "(*.*)|*||";
  const QStringList chosen = Files()->OpenFilesAndFolders(this, Tr("UIText", 1105), filter);
  if (!chosen.isEmpty()) AddPaths(chosen);
}

void CDlgVideoDisc::RemoveSelected() {
  std::vector<int> rows;
  for (QListWidgetItem* item : list_->selectedItems()) rows.push_back(list_->row(item));
  if (rows.empty()) return;
  std::sort(rows.rbegin(), rows.rend());
  for (int r : rows) project_.RemoveItem(size_t(r));
  const int select = std::min(rows.back(), int(project_.ItemCount()) - 1);
  RefreshList();
  if (select >= 0) list_->setCurrentRow(select);
  Changed();
}

void CDlgVideoDisc::Clear() {
  project_.Clear();
  project_.CleanUpVideoDisc();
  SetMode(project_.Mode());
  projectPath_.clear();
  modified_ = false;
  RefreshList();
  emit ProjectChanged();
}

bool CDlgVideoDisc::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
    RemoveSelected();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

bool CDlgVideoDisc::LoadProject(const QString& path) {
  std::string error;
  std::vector<std::string> skipped;
  bool ok = false;
  RunOffWindowThread([&] {
    ok = project_.LoadVideoProject(ToStd(path), &error, &skipped);
    if (ok) MakeThumbnails(nullptr);
  });
  if (!ok) {
    ShowMessage(LoadErrorText(result::kProjectUnreadable) + "\n" + error, msgbox::kErrorOk);
    return false;
  }
  label_->setText(QString::fromStdString(project_.Label()));
  projectPath_ = path;
  modified_ = false;
  RefreshList();
  for (const std::string& s : skipped) ShowMessage(s, msgbox::kInfoOk);
  emit ProjectChanged();
  return true;
}

bool CDlgVideoDisc::SaveProject(const QString& path) {
  std::string error;
  if (!project_.SaveVideoProject(ToStd(path), &error, Existing::kReplace)) {
    ShowMessage(LoadErrorText(result::kProjectNotWritten) + "\n" + error, msgbox::kErrorOk);
    return false;
  }
  projectPath_ = path;
  modified_ = false;
  emit ProjectChanged();
  return true;
}

int CDlgVideoDisc::PrepareVideoDisc(const std::atomic<bool>* stop) {
  return project_.PrepareVideoDisc(
      [](const std::string& failures) {
        return ShowMessage(LoadLangText("Message", 43) + "\n" + failures, msgbox::kErrorOkCancel) == msgbox::kOk;
      },
      stop);
}
