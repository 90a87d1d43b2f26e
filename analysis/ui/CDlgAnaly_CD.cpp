#include "analysis/ui/CDlgAnaly_CD.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>
#include <QProgressDialog>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>

#include "authoring/UdfDriveSource.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "foundation/SizeText.h"
#include "foundation/ui/WindowSupport.h"

namespace {

// What a tree item stands for.
constexpr int kRoleTrack = Qt::UserRole;       // track number (tracks and folders)
constexpr int kRoleFolder = Qt::UserRole + 1;  // disc path of a folder ("" for a track's root)
constexpr int kRoleAudio = Qt::UserRole + 2;   // true for audio tracks
constexpr int kRolePath = Qt::UserRole;        // list rows: disc path

QString FromStd(const std::string& s) { return QString::fromStdString(s); }

// A track with where it lies: its first sector and its length, in sectors
// and, for audio, as playing time (75 sectors a second).
QString TrackLine(const AnalyTrack& t) {
  QString line = FromStd(TrackText(t)) + QString(" \u2013 start %1, length %2 sectors").arg(t.start).arg(t.length);
  if (!t.data) line += QString::asprintf(" (%u:%02u)", t.length / 75 / 60, t.length / 75 % 60);
  return line;
}

void SetFileColumns(QTreeWidget* list) {
  list->setColumnCount(5);
  list->setHeaderLabels({Tr("Column", 5), Tr("Column", 15), Tr("Column", 8), Tr("Column", 7), Tr("Column", 14)});
  for (int c = 0; c < 5; ++c) list->setColumnWidth(c, c == 0 ? 200 : 100);
  list->headerItem()->setTextAlignment(3, Qt::AlignRight);
}

}  // namespace

CDlgAnaly_CD::CDlgAnaly_CD(QWidget* parent) : QWidget(parent) {
  ApplySkinPalette(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  // A failed analysis says why in full, above the (then empty) tree.
  error_ = new QLabel(this);
  error_->setWordWrap(true);
  error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  error_->hide();
  layout->addWidget(error_);
  auto* split = new QSplitter(Qt::Horizontal, this);
  split->setHandleWidth(6);
  tree_ = new QTreeWidget(split);
  tree_->setHeaderHidden(true);
  list_ = new QTreeWidget(split);
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSortingEnabled(false);
  SetFileColumns(list_);  // an empty list still names its columns
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 2);
  layout->addWidget(split, 1);  // the error line takes only its own height
  poll_ = new QTimer(this);
  poll_->setInterval(100);
  connect(poll_, &QTimer::timeout, this, &CDlgAnaly_CD::PollSaving);
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { ShowNode(item); });
}

CDlgAnaly_CD::~CDlgAnaly_CD() {
  if (saver_) {
    saver_->Stop();
    saver_->Wait();
  }
}

void CDlgAnaly_CD::SetDrive(CDevCmdROM* drive) {
  if (saver_) return;  // the drive is busy with the save
  drive_ = drive;
  Refresh();
}

void CDlgAnaly_CD::Refresh() {
  if (saver_) return;
  tree_->clear();
  list_->clear();
  error_->hide();
  files_.clear();
  disc_ = DiscAnalysis();
  source_.reset();
  if (!drive_) return;
  const bool ok = RunOffWindowThread([&] { return AnalyseDisc(*drive_, &disc_); });
  if (!ok) {
    auto* failed = new QTreeWidgetItem(QStringList{Tr("Message", 4)});
    failed->setToolTip(0, failed->text(0));
    tree_->addTopLevelItem(failed);
    error_->setText(Tr("Message", 4));
    error_->show();
    return;
  }
  source_ = std::make_unique<UdfDriveSource>(drive_);
  BuildTree();
}

void CDlgAnaly_CD::BuildTree() {
  for (const AnalySession& s : disc_.sessions) {
    auto* session = new QTreeWidgetItem(QStringList{FromStd(SessionText(s))});
    tree_->addTopLevelItem(session);
    for (const AnalyTrack& t : s.tracks) {
      auto* track = new QTreeWidgetItem(session, QStringList{TrackLine(t)});
      track->setToolTip(0, track->text(0));
      track->setData(0, kRoleTrack, t.number);
      track->setData(0, kRoleAudio, !t.data);
      if (!t.fileSystem) continue;
      DiscFiles& files = files_[t.number];
      RunOffWindowThread([&] { return ReadDiscFiles(source_.get(), t.start, t.fileSystem, &files); });
      track->setData(0, kRoleFolder, QString());
      if (!files.complete) track->setToolTip(0, FromStd(files.error));
      AddFolders(track, t.number, "");
      track->setExpanded(true);
    }
    session->setExpanded(true);
  }
  tree_->addTopLevelItem(new QTreeWidgetItem(QStringList{FromStd(LeadOutText(disc_))}));
}

void CDlgAnaly_CD::AddFolders(QTreeWidgetItem* parent, int track, const std::string& folder) {
  for (const UdfEntry* e : FolderContent(files_[track], folder)) {
    if (!e->folder) continue;
    auto* item = new QTreeWidgetItem(parent, QStringList{FromStd(e->name)});
    item->setData(0, kRoleTrack, track);
    item->setData(0, kRoleFolder, FromStd(e->Path()));
    AddFolders(item, track, e->Path());
  }
}

void CDlgAnaly_CD::ShowNode(QTreeWidgetItem* item) {
  list_->clear();
  if (!item) return;
  if (item->data(0, kRoleAudio).toBool()) {
    // Setting fewer labels keeps the file columns; the CD-Text table has two.
    list_->setColumnCount(2);
    list_->setHeaderLabels({Tr("Column", 16), Tr("Column", 17)});
    if (!disc_.hasCdText) return;
    for (const auto& [label, text] : CdTextRows(*disc_.cdText, item->data(0, kRoleTrack).toInt()))
      list_->addTopLevelItem(new QTreeWidgetItem(QStringList{FromStd(label), FromStd(text)}));
    return;
  }
  SetFileColumns(list_);
  if (!item->data(0, kRoleFolder).isValid()) return;
  auto it = files_.find(item->data(0, kRoleTrack).toInt());
  if (it == files_.end()) return;
  for (const UdfEntry* e : FolderContent(it->second, item->data(0, kRoleFolder).toString().toStdString())) {
    auto* row = new QTreeWidgetItem(QStringList{FromStd(e->name), FromStd(e->time.Format()),
                                                e->folder ? "Folder" : "File",
                                                e->folder ? QString() : FromStd(FormatSize(e->size)),
                                                QString::number(StartSector(*e))});
    row->setData(0, kRolePath, FromStd(e->Path()));
    row->setToolTip(0, row->text(0));
    row->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    list_->addTopLevelItem(row);
  }
}

std::vector<std::string> CDlgAnaly_CD::SelectedPaths(int* track) const {
  std::vector<std::string> paths;
  QTreeWidgetItem* node = tree_->currentItem();
  *track = node ? node->data(0, kRoleTrack).toInt() : 0;
  if (!node || !node->data(0, kRoleFolder).isValid()) return paths;
  for (QTreeWidgetItem* row : list_->selectedItems()) paths.push_back(row->data(0, kRolePath).toString().toStdString());
  if (paths.empty()) {
    std::string folder = node->data(0, kRoleFolder).toString().toStdString();
    if (folder.empty()) {
      for (const UdfEntry* e : FolderContent(files_.at(*track), "")) paths.push_back(e->Path());
    } else {
      paths.push_back(folder);
    }
  }
  return paths;
}

void CDlgAnaly_CD::SaveSelected() {
  QTreeWidgetItem* node = tree_->currentItem();
  if (node && node->data(0, kRoleAudio).toBool()) {
    emit SaveAudioTrackRequested(drive_, node->data(0, kRoleTrack).toInt());
    return;
  }
  int track = 0;
  if (SelectedPaths(&track).empty()) return;
  QString folder = QFileDialog::getExistingDirectory(this, Tr("UIText", 1231));
  if (!folder.isEmpty()) SaveSelectedTo(folder);
}

bool CDlgAnaly_CD::SaveSelectedTo(const QString& destination) {
  int track = 0;
  std::vector<std::string> paths = SelectedPaths(&track);
  if (saver_ || paths.empty() || destination.isEmpty() || !source_) return false;
  saver_ = std::make_unique<CGetCDData>(source_.get());
  progress_ = new QProgressDialog(Tr("UIText", 1230), Tr("UIText", 64), 0, 1000, this);
  progress_->setWindowModality(Qt::WindowModal);
  progress_->setMinimumDuration(0);
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  connect(progress_, &QProgressDialog::canceled, this, [this] {
    if (saver_) saver_->Stop();
  });
  saver_->Start(files_.at(track).entries, paths, destination.toStdString());
  poll_->start();
  return true;
}

void CDlgAnaly_CD::PollSaving() {
  if (!saver_) return;
  const uint64_t total = saver_->BytesTotal();
  if (progress_) {
    progress_->setValue(total ? int(saver_->BytesDone() * 1000 / total) : 0);
    progress_->setLabelText(Tr("UIText", 1230) + "\n" + FromStd(saver_->CurrentFile()));
  }
  if (!saver_->Done()) return;
  poll_->stop();
  saver_->Wait();
  lastReport_ = saver_->Report();
  saver_.reset();
  if (progress_) {
    progress_->deleteLater();
    progress_ = nullptr;
  }
  std::string text;
  if (lastReport_.stopped) text = LoadLangText("Message", 1402);
  else if (!lastReport_.failed.empty()) text = LoadLangText("Message", 1400);
  else text = LoadLangText("Message", 1403);
  for (const std::string& f : lastReport_.failed) text += "\n" + f;
  if (!lastReport_.renamed.empty()) text += "\n\n" + LoadLangText("Message", 1401);
  for (const std::string& r : lastReport_.renamed) text += "\n" + r;
  emit SavingFinished();
  ShowMessage(text, lastReport_.Complete() ? msgbox::kInfoOk : msgbox::kErrorOk);
}
