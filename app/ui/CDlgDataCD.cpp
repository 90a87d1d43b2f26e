#include "app/ui/CDlgDataCD.h"

#include <sys/stat.h>

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileIconProvider>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QDrag>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <atomic>
#include <cstdio>
#include <set>
#include <filesystem>

#include "app/ImageTracks.h"
#include "app/ui/AddReport.h"
#include "foundation/LangText.h"
#include "foundation/ResultCodes.h"
#include "foundation/ShowMessage.h"
#include "foundation/SizeText.h"
#include "app/ui/CCapacityBar.h"
#include "authoring/ProjectFile.h"
#include "foundation/ui/WindowSupport.h"
#include "authoring/CDataCD.h"
#include "authoring/FileList.h"
#include "authoring/ProjectEdit.h"
#include "authoring/StagingFolder.h"
#include "foundation/TempFiles.h"
#include "controls/CListCtrlEx.h"

namespace {

// Context menu commands.
constexpr int kCmdAddFiles = 32776, kCmdNewFolder = 32777, kCmdDelete = 32778, kCmdRename = 32779,
              kCmdPaste = 32780, kCmdDeleteAll = 32785, kCmdMoveUp = 32787, kCmdMoveDown = 32788;

constexpr int kRoleKind = Qt::UserRole + 2;  // "Folder" or "File"
// Entries of this project on the clipboard or in a drag: the staging folder
// they are in, then one name per line.
const char* kProjectItemsMime = "application/x-varnex-project-items";
constexpr int kCmdCut = 57635, kCmdCopy = 57634;
const char* kFolderType = "Folder";
const char* kFileType = "File";

QString Upper(const QString& s) { return s.trimmed().toUpper(); }

void CountEntry(const FileListEntry& entry, uint64_t* bytes, int* files) {
  struct stat st;
  if (entry.IsImported() || stat(entry.sourcePath.c_str(), &st) != 0) return;
  *bytes += uint64_t(st.st_size);
  ++*files;
}

QTreeWidgetItem* Child(QTreeWidgetItem* item, const QString& text) {
  for (int i = 0; item && i < item->childCount(); ++i)
    if (item->child(i)->text(0) == text) return item->child(i);
  return nullptr;
}

std::string ToStd(const QString& s) { return s.toStdString(); }

bool IsPlainName(const QString& name) {
  return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\\');
}

}  // namespace

// ---------------------------------------------------------------------------
// ---------------------------------------------------------------------------
CSplitterBar::CSplitterBar(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::SplitHCursor);
  setProperty("id", 1011);
}

void CSplitterBar::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) emit Moved(mapToParent(event->position().toPoint()).x());
}

void CSplitterBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QColor c = SkinColour().lighter(130);
  p.fillRect(QRect(width() / 2 - 1, 0, 2, height()), c);
}

// ---------------------------------------------------------------------------
CDlgDataCD::CDlgDataCD(QWidget* parent)
    : QWidget(parent),
      tree_(new QTreeWidget(this)),
      splitter_(new CSplitterBar(this)),
      list_(new CListCtrlEx(this)),
      totalFiles_(new QLabel(this)),
      totalSize_(new QLabel(this)),
      capacity_(new CCapacityBar(this)),
      projectTree_(tree_) {
  setProperty("id", 134);
  ApplySkinPalette(this);
  tree_->setProperty("id", 1018);
  list_->setProperty("id", 1022);
  totalFiles_->setProperty("id", 1019);
  totalSize_->setProperty("id", 1020);
  QString face = QString::fromStdString(GetLanguageFont());
  if (!face.isEmpty()) {
    QFont f(face);
    f.setPixelSize(13);
    tree_->setFont(f);
    list_->setFont(f);
  }
  tree_->setHeaderHidden(true);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  tree_->setAcceptDrops(true);
  tree_->viewport()->setAcceptDrops(true);
  tree_->setDragDropMode(QAbstractItemView::DropOnly);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->setAcceptDrops(true);
  list_->viewport()->setAcceptDrops(true);
  list_->setDragDropMode(QAbstractItemView::DropOnly);
  list_->SetShowSelAlways(true);
  for (QWidget* w : {static_cast<QWidget*>(tree_), static_cast<QWidget*>(list_)}) w->installEventFilter(this);
  tree_->viewport()->installEventFilter(this);
  list_->viewport()->installEventFilter(this);

  manager_.SetListener(this);
  SetImageColumns(false);
  ResetTotals();
  BuildMenu();

  connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (item && !filling_) RefreshList();
  });
  connect(tree_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    focusOwner_ = kFocusTree;
    ShowMenu(tree_, at);
  });
  connect(list_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    focusOwner_ = kFocusList;
    ShowMenu(list_, at);
  });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) { OnListDoubleClicked(row); });
  connect(this, &CDlgDataCD::ProjectChanged, this, [this] { modified_ = true; });
  connect(tree_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) { OnItemEdited(item, true); });
  connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) { OnItemEdited(item, false); });
  connect(splitter_, &CSplitterBar::Moved, this, [this](int x) { OnSplitterMoved(x); });
}

CDlgDataCD::~CDlgDataCD() {
  manager_.Stop();
  // A worker that still runs may be waiting for the window thread; let it finish.
  while (manager_.Busy()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  manager_.Wait();
  manager_.SetListener(nullptr);
  if (!stagingRoot_.empty()) RemoveTree(stagingRoot_);
}

void CDlgDataCD::SetImageColumns(bool image) {
  list_->clear();
  if (!image) {
    list_->setColumnCount(4);
    list_->setHeaderLabels({Tr("Column", 5), Tr("Column", 6), Tr("Column", 7), Tr("Column", 8)});
    const int widths[] = {150, 150, 80, 80};
    for (int i = 0; i < 4; ++i) list_->setColumnWidth(i, widths[i]);
    list_->headerItem()->setTextAlignment(2, Qt::AlignRight);
  } else {
    list_->setColumnCount(6);
    list_->setHeaderLabels({Tr("Column", 5), Tr("Column", 15), Tr("Column", 8), Tr("Column", 7), Tr("Column", 14),
                            Tr("Column", 25)});
    for (int i = 0; i < 6; ++i) list_->setColumnWidth(i, 100);
  }
  // The widest size ("1023 MB") is read whole beside the list's cell insets.
  const QFontMetrics metrics(list_->font());
  const int sizeWidth = metrics.horizontalAdvance("1023 MB") + 4 * metrics.horizontalAdvance(QLatin1Char('x')) + 8;
  const int sizeColumn = image ? 3 : 2;
  list_->setColumnWidth(sizeColumn, std::max(list_->columnWidth(sizeColumn), sizeWidth));
  // The names take the room a wider window gives; the short columns keep
  // their size. Long names are still whole in their tooltips.
  QHeaderView* header = list_->header();
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(60);
  for (int i = 0; i < list_->columnCount(); ++i)
    header->setSectionResizeMode(i, i == 0 || (!image && i == 1) ? QHeaderView::Stretch : QHeaderView::Interactive);
}

void CDlgDataCD::EnsureStagingRoot() {
  if (stagingRoot_.empty() || manager_.FolderExists(stagingRoot_) != 2) {
    stagingRoot_ = MakeStagingRoot();
    manager_.SetStagingRoot(stagingRoot_);
  }
}

void CDlgDataCD::SetMode(int mode) {
  mode_ = mode == kModeMp3 ? kModeMp3 : kModeData;
  manager_.SetMode(mode_);
  // Files of 4 GiB and more stay in the project: a DVD or BD (UDF) takes
  // them, and the layout of a CD refuses them by name when it is burnt.
  EnsureStagingRoot();
  filling_ = true;
  tree_->clear();
  auto* root = new QTreeWidgetItem(tree_, QStringList(mode_ == kModeMp3 ? "MP3CD" : "DataCD"));
  root->setIcon(0, style()->standardIcon(QStyle::SP_DriveCDIcon));
  root->setFlags(root->flags() | Qt::ItemIsEditable | Qt::ItemIsDropEnabled);
  filling_ = false;
  tree_->setCurrentItem(root);
  RefreshList();
}

QString CDlgDataCD::GetVolumeLabel() const { return RootItem() ? RootItem()->text(0) : QString(); }

void CDlgDataCD::SetDefaultLabel(const QString& label) {
  static const QStringList defaults = {"DataCD", "DataDVD", "DataBD"};
  if (mode_ != kModeData || imageMode_ || !RootItem() || !defaults.contains(RootItem()->text(0))) return;
  filling_ = true;
  RootItem()->setText(0, label);
  filling_ = false;
}

bool CDlgDataCD::IsEmpty() const {
  if (imageMode_) return imagePath_.isEmpty();
  if (!RootItem()) return true;
  if (RootItem()->childCount() > 0) return false;
  std::vector<FileListEntry> entries;
  ReadFileList(stagingRoot_, &entries);
  return entries.empty();
}

// ---------------------------------------------------------------------------
// Totals

void CDlgDataCD::ResetTotals() {
  fileCount_ = 0;
  sizeMB_ = 0;
  totalFiles_->setText(Tr("UIText", 9));
  totalSize_->setText(Tr("UIText", 10));
  capacity_->SetProject(0);
}

void CDlgDataCD::AddSize(int countDelta, int32_t bytes) {
  if (bytes >= 0) fileCount_ += countDelta;
  else fileCount_ -= countDelta;
  if (fileCount_ < 0) fileCount_ = 0;
  sizeMB_ += double(bytes) / 1048576.0;
  if (sizeMB_ <= 0) sizeMB_ = 0;
  totalFiles_->setText(Tr("UIText", 11) + QString::asprintf(" %d", fileCount_));
  totalSize_->setText(Tr("UIText", 14) + " " + QString::fromStdString(FormatSize(ProjectBytes())));
  capacity_->SetProject(ProjectBytes());
}

void CDlgDataCD::RemoveFileTotals(uint64_t bytes, int files) {
  // Sizes of 2 GiB and more leave in pieces, each counted once at the end.
  while (bytes > uint64_t(INT32_MAX)) {
    AddSize(0, -INT32_MAX);
    bytes -= uint64_t(INT32_MAX);
  }
  sizeMB_ -= double(bytes) / 1048576.0;
  AddSize(0, 0);
  fileCount_ = std::max(0, fileCount_ - files);
  AddSize(0, 0);
}

namespace {

// The size and number of the files a project folder holds, below it too;
// entries already on the disc and sources that are gone count nothing.
void CountFolder(const std::string& folder, uint64_t* bytes, int* files) {
  for (const StagingEntry& e : EnumerateStagingFolder(folder)) {
    if (e.kind == StagingEntry::kFolder) {
      CountFolder(folder + "/" + e.name, bytes, files);
      continue;
    }
    FileListReader reader(folder + "/" + e.name);
    FileListEntry entry;
    while (reader.Next(&entry)) CountEntry(entry, bytes, files);
  }
}

}  // namespace

void CDlgDataCD::RemoveFolderTotals(const std::string& folder) {
  uint64_t bytes = 0;
  int files = 0;
  CountFolder(folder, &bytes, &files);
  if (files) RemoveFileTotals(bytes, files);
}

void CDlgDataCD::SizePiece(uint32_t wParam, uint32_t lParam) {
  // Collected here and shown by the window thread a few times a second:
  // handing every file's size over one by one would cost more than adding it.
  pendingCount_ += int(wParam);
  pendingBytes_ += uint64_t(lParam);
}

void CDlgDataCD::FlushSizes() {
  const int count = pendingCount_.exchange(0);
  uint64_t bytes = pendingBytes_.exchange(0);
  if (count == 0 && bytes == 0) return;
  fileCount_ += count;
  sizeMB_ += double(bytes) / 1048576.0;
  AddSize(0, 0);
}

void CDlgDataCD::Refused(const std::string& path, AddRefusal reason) {
  QMutexLocker l(&refusedLock_);
  refused_.emplace_back(path, LoadLangText("Message", static_cast<int>(reason)));
}

void CDlgDataCD::ShowRefusals() {
  std::vector<std::pair<std::string, std::string>> refused;
  {
    QMutexLocker l(&refusedLock_);
    refused.swap(refused_);
  }
  if (refused.empty()) return;
  std::string text = LoadLangText("Message", 1000);
  const size_t shown = std::min<size_t>(refused.size(), 12);
  for (size_t i = 0; i < shown; ++i) text += "\n\n" + refused[i].first + "\n" + refused[i].second;
  if (refused.size() > shown) text += "\n\n" + LoadLangText("Message", 1001) + " " + std::to_string(refused.size() - shown);
  ReportNotAdded(text, msgbox::kErrorOk);
}

// ---------------------------------------------------------------------------
// Layout

void CDlgDataCD::LayOut() {
  const int w = width(), h = height();
  if (splitX_ < 0 || splitX_ > w) splitX_ = w / 3;
  const int paneHeight = std::max(0, h - 44);
  capacity_->setGeometry(0, h - 41, w, 20);
  tree_->setGeometry(0, 0, std::max(0, splitX_ - 3), paneHeight);
  splitter_->setGeometry(splitX_ - 3, 0, 6, paneHeight);
  list_->setGeometry(splitX_ + 3, 0, std::max(0, w - splitX_ - 3), paneHeight);
  totalFiles_->setGeometry(4, h - 19, w / 2 - 4, 18);
  totalSize_->setGeometry(w / 2, h - 19, w / 2, 18);
}

bool CDlgDataCD::OnSplitterMoved(int x) {
  if (x < kMinPane || width() - x < kMinPane) return false;
  if (splitX_ < 0) splitX_ = width() / 3;
  splitX_ = x;
  LayOut();
  return true;
}

void CDlgDataCD::resizeEvent(QResizeEvent*) {
  splitX_ = width() / 3;
  LayOut();
}

void CDlgDataCD::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), SkinColour());
}

// ---------------------------------------------------------------------------
// The list

std::string CDlgDataCD::FolderPath(QTreeWidgetItem* item) {
  return manager_.GetItemPath(&projectTree_, item ? item : RootItem());
}

void CDlgDataCD::SelectFolder(QTreeWidgetItem* item) {
  if (!item) return;
  tree_->setCurrentItem(item);
  RefreshList();
}

void CDlgDataCD::RefreshList() {
  if (imageMode_) {
    ShowImageTree();
    return;
  }
  filling_ = true;
  list_->clear();
  QTreeWidgetItem* folderItem = tree_->currentItem() ? tree_->currentItem() : RootItem();
  if (!folderItem || stagingRoot_.empty()) {
    filling_ = false;
    return;
  }
  const std::string folder = FolderPath(folderItem);
  const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
  // Folders first, then files, each in the order the tree shows its folders.
  std::vector<StagingEntry> folders = EnumerateStagingFolder(folder);
  std::stable_sort(folders.begin(), folders.end(), [](const StagingEntry& a, const StagingEntry& b) {
    return ShownBefore(QString::fromStdString(a.name), QString::fromStdString(b.name));
  });
  for (const StagingEntry& e : folders) {
    if (e.kind != StagingEntry::kFolder) continue;
    auto* row = new QTreeWidgetItem(list_);
    row->setText(0, QString::fromStdString(e.name));
    row->setIcon(0, folderIcon);
    row->setText(3, kFolderType);
    row->setData(0, kRoleKind, kFolderType);
  }
  std::vector<FileListEntry> entries;
  std::string error;
  if (!ReadFileList(folder, &entries, &error) && !error.empty())
    ShowMessage(LoadLangText("Message", 1002) + "\n" + error, msgbox::kErrorOk);
  std::stable_sort(entries.begin(), entries.end(), [](const FileListEntry& a, const FileListEntry& b) {
    return ShownBefore(QString::fromStdString(a.discName), QString::fromStdString(b.discName));
  });
  QFileIconProvider icons;
  for (const FileListEntry& e : entries) {
    auto* row = new QTreeWidgetItem(list_);
    row->setText(0, QString::fromStdString(e.discName));
    row->setToolTip(0, row->text(0));  // long names are cut by the column
    row->setText(3, kFileType);
    row->setData(0, kRoleKind, kFileType);
    if (e.IsImported()) {
      row->setText(1, Tr("UIText", 1102));
      continue;
    }
    QString source = QString::fromStdString(e.sourcePath);
    row->setText(1, source);
    row->setToolTip(1, source);
    row->setIcon(0, icons.icon(QFileInfo(source)));
    struct stat st;
    if (stat(e.sourcePath.c_str(), &st) == 0) {
      row->setText(2, QString::fromStdString(FormatSize(uint64_t(st.st_size))));
      row->setToolTip(2, QString::number(qulonglong(st.st_size)));  // the exact count
    } else {
      row->setText(2, Tr("UIText", 1103));
    }
    row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  }
  filling_ = false;
}

void CDlgDataCD::OnListDoubleClicked(QTreeWidgetItem* row) {
  if (!row || imageMode_ || row->data(0, kRoleKind).toString() != kFolderType) return;
  QTreeWidgetItem* folder = tree_->currentItem() ? tree_->currentItem() : RootItem();
  for (int i = 0; i < folder->childCount(); ++i) {
    if (folder->child(i)->text(0) == row->text(0)) {
      folder->setExpanded(true);
      SelectFolder(folder->child(i));
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Additions

bool CDlgDataCD::RunInBackground(const std::function<bool()>& start, int periodMs) {
  if (manager_.Busy()) {
    ShowMessage(LoadLangText("Message", 61), msgbox::kInfoOk);
    return false;
  }
  cancelled_ = false;
  if (!start()) {
    ShowMessage(LoadLangText("Message", 61), msgbox::kInfoOk);
    return false;
  }
  CDlgWait wait(&manager_, periodMs, this);
  wait_ = &wait;
  QTimer sizes;
  connect(&sizes, &QTimer::timeout, this, &CDlgDataCD::FlushSizes);
  sizes.start(100);
  wait.exec();
  sizes.stop();
  FlushSizes();
  cancelled_ = wait.Cancelled();
  wait_ = nullptr;
  manager_.Wait();
  projectTree_.JoinPending();
  RefreshList();
  ShowRefusals();
  emit ProjectChanged();
  return !cancelled_;
}

void CDlgDataCD::WorkEnded() {
  // The wait window closes now rather than at its next look at the work.
  QMetaObject::invokeMethod(this, [this] {
    if (wait_) wait_->Poll();
  }, Qt::QueuedConnection);
}

bool CDlgDataCD::AddPaths(const QStringList& paths, QTreeWidgetItem* target, int periodMs) {
  if (paths.isEmpty()) return false;
  if (imageMode_) {
    ShowMessage(LoadLangText("Message", 1003), msgbox::kInfoOk);
    return false;
  }
  EnsureStagingRoot();
  if (!target) target = tree_->currentItem() ? tree_->currentItem() : RootItem();
  if (!target) return false;  // no project yet
  const std::string folder = FolderPath(target);
  std::vector<std::string> list;
  for (const QString& p : paths) list.push_back(ToStd(p));
  // The worker's own verdict counts too: a path that was not added is a
  // failed addition even when nobody cancelled.
  std::atomic<bool> added{false};
  bool ok = RunInBackground(
      [&] { return manager_.StartAddPaths(&projectTree_, target, folder, list, [&](bool all) {
        added = all;
        WorkEnded();
      }); },
      periodMs);
  target->setExpanded(true);
  return ok && added;
}

void CDlgDataCD::SetBoot(const eltorito::BootOptions& boot) {
  const eltorito::BootOptions& now = manager_.Boot();
  if (boot.biosImage == now.biosImage && boot.efiImage == now.efiImage && boot.mbrTemplate == now.mbrTemplate &&
      boot.loadSectors == now.loadSectors)
    return;
  manager_.SetBoot(boot);
  emit ProjectChanged();  // kept in the project file
}

void CDlgDataCD::SetDiscOptions(uint8_t options) {
  if (options == manager_.DiscOptions()) return;
  manager_.SetDiscOptions(options);
  emit ProjectChanged();  // the choice is kept in the project file
}

bool CDlgDataCD::AddPathFromShell(const QString& path) { return AddPathsFromShell({path}); }

bool CDlgDataCD::AddPathsFromShell(const QStringList& paths) {
  bool ok = AddPaths(paths);
  RefreshList();
  return ok;
}

void CDlgDataCD::AddFiles() {
  if (manager_.Busy()) {
    ShowMessage(LoadLangText("Message", 61), msgbox::kInfoOk);
    return;
  }
  QString filter = mode_ == kModeMp3 ? "MP3 files(*.mp3)|*.mp3||" : Tr("UIText", 1104) + "(*.*)|*||";
  QStringList chosen = Files()->OpenFilesAndFolders(this, Tr("UIText", 1105), filter);
  if (!chosen.isEmpty()) AddPaths(chosen);
}

void CDlgDataCD::Paste() {
  const QMimeData* data = QApplication::clipboard()->mimeData();
  if (!data) return;
  if (data->hasFormat(kProjectItemsMime)) {
    QStringList names;
    std::string from;
    if (!DecodeProjectItems(data->data(kProjectItemsMime), &from, &names)) return;
    const bool cut = clipCut_;
    QTreeWidgetItem* target = tree_->currentItem() ? tree_->currentItem() : RootItem();
    if (EditProjectItems(cut, from, names, target) && cut) {
      // What was cut is where it belongs now; a second paste would copy nothing.
      QApplication::clipboard()->clear();
      clipCut_ = false;
    }
    return;
  }
  if (!data->hasUrls()) return;
  QStringList paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  if (!paths.isEmpty()) AddPaths(paths, nullptr, 300);
}

bool CDlgDataCD::HandleDrop(QObject* control, QDropEvent* event) {
  const bool onTree = control == tree_->viewport() || control == tree_;
  if (event->mimeData()->hasFormat(kProjectItemsMime)) {
    std::string from;
    QStringList names;
    if (!DecodeProjectItems(event->mimeData()->data(kProjectItemsMime), &from, &names)) return false;
    // A folder under the cursor (in the tree, or a folder row of the list)
    // takes the entries; elsewhere the folder shown.
    QTreeWidgetItem* target = nullptr;
    const QPoint at = event->position().toPoint();
    if (onTree) {
      target = tree_->itemAt(at);
    } else if (QTreeWidgetItem* row = list_->itemAt(at); row && row->data(0, kRoleKind).toString() == kFolderType &&
                                                           !names.contains(row->text(0))) {
      target = Child(tree_->currentItem() ? tree_->currentItem() : RootItem(), row->text(0));
    }
    if (!target) target = tree_->currentItem() ? tree_->currentItem() : RootItem();
    event->setDropAction(Qt::MoveAction);
    event->accept();
    QTimer::singleShot(0, this, [this, from, names, target] { EditProjectItems(true, from, names, target); });
    return true;
  }
  if (!event->mimeData()->hasUrls()) return false;
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  if (paths.isEmpty()) return false;
  event->acceptProposedAction();
  const QPoint at = event->position().toPoint();
  // Added after the drop has ended, so the file manager is not kept waiting.
  QTimer::singleShot(0, this, [this, paths, onTree, at] { DropFiles(paths, onTree, at); });
  return true;
}

bool CDlgDataCD::DropFiles(const QStringList& paths, bool onTree, const QPoint& at) {
  // The folder under the cursor takes the drop; elsewhere the selected one.
  QTreeWidgetItem* target = onTree ? tree_->itemAt(at) : nullptr;
  return AddPaths(paths, target);
}

// ---------------------------------------------------------------------------
// Folders, renaming, deleting

bool CDlgDataCD::NameTaken(const std::string& folder, const std::string& name, const std::string& except) {
  const QString wanted = Upper(QString::fromStdString(name));
  const QString skip = Upper(QString::fromStdString(except));
  for (const StagingEntry& e : EnumerateStagingFolder(folder)) {
    if (e.kind != StagingEntry::kFolder) continue;
    QString n = Upper(QString::fromStdString(e.name));
    if (n == wanted && n != skip) return true;
  }
  std::vector<FileListEntry> entries;
  ReadFileList(folder, &entries);
  for (const FileListEntry& e : entries) {
    QString n = Upper(QString::fromStdString(e.discName));
    if (n == wanted && n != skip) return true;
  }
  return false;
}

bool CDlgDataCD::NewFolder() {
  if (imageMode_ || manager_.Busy()) return false;
  EnsureStagingRoot();
  QTreeWidgetItem* parent = tree_->currentItem() ? tree_->currentItem() : RootItem();
  const std::string folder = FolderPath(parent);
  std::string name = "NewFolder";
  for (int n = 1; manager_.FolderExists(folder + "/" + name) == 2 || NameTaken(folder, name, ""); ++n)
    name = "NewFolder" + std::to_string(n);
  std::error_code ec;
  if (!std::filesystem::create_directory(folder + "/" + name, ec) || ec) {
    ShowMessage(LoadLangText("Message", 10), msgbox::kErrorOk);
    return false;
  }
  filling_ = true;
  auto* item = static_cast<QTreeWidgetItem*>(projectTree_.Insert(parent, name));
  filling_ = false;
  parent->setExpanded(true);
  tree_->setCurrentItem(item);
  RefreshList();
  focusOwner_ = kFocusTree;
  editing_ = item;
  editingOld_ = item->text(0);
  editingInTree_ = true;
  tree_->editItem(item, 0);
  emit ProjectChanged();
  return true;
}

void CDlgDataCD::StartRename() {
  if (imageMode_) return;
  if (focusOwner_ == kFocusList) {
    QTreeWidgetItem* row = list_->currentItem();
    if (!row) return;
    // Making the row editable reports a change of the row; it is not the
    // edit, which comes when the editor closes.
    filling_ = true;
    row->setFlags(row->flags() | Qt::ItemIsEditable);
    filling_ = false;
    editing_ = row;
    editingOld_ = row->text(0);
    editingInTree_ = false;
    list_->editItem(row, 0);
    return;
  }
  QTreeWidgetItem* item = tree_->currentItem();
  if (!item) return;
  editing_ = item;
  editingOld_ = item->text(0);
  editingInTree_ = true;
  tree_->editItem(item, 0);
}

void CDlgDataCD::OnItemEdited(QTreeWidgetItem* item, bool inTree) {
  if (filling_ || item != editing_ || inTree != editingInTree_) return;
  editing_ = nullptr;
  const QString newName = item->text(0);
  filling_ = true;
  item->setText(0, editingOld_);  // the old name stays until the rename succeeded
  filling_ = false;
  if (inTree) RenameTreeItem(item, editingOld_, newName);
  else RenameListRow(item, editingOld_, newName);
}

bool CDlgDataCD::RenameTreeItem(QTreeWidgetItem* item, const QString& oldName, const QString& newName) {
  QString name = newName.trimmed();
  if (!item || Upper(name) == Upper(oldName)) return false;
  if (!item->parent()) {
    // The root names the volume only.
    if (name.isEmpty()) return false;
    filling_ = true;
    item->setText(0, name);
    filling_ = false;
    emit ProjectChanged();
    return true;
  }
  if (!IsPlainName(name)) {
    ShowMessage(LoadLangText("Message", 1004), msgbox::kInfoOk);
    return false;
  }
  const std::string parentFolder = FolderPath(item->parent());
  for (int i = 0; i < item->parent()->childCount(); ++i) {
    QTreeWidgetItem* sibling = item->parent()->child(i);
    if (sibling != item && Upper(sibling->text(0)) == Upper(name)) {
      ShowMessage(LoadLangText("Message", 7), msgbox::kInfoOk);
      return false;
    }
  }
  if (NameTaken(parentFolder, ToStd(name), ToStd(oldName))) {
    ShowMessage(LoadLangText("Message", 7), msgbox::kInfoOk);
    return false;
  }
  const std::string from = parentFolder + "/" + ToStd(oldName);
  const std::string to = parentFolder + "/" + ToStd(name);
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    ShowMessage(LoadLangText("Message", 8), msgbox::kErrorOk);
    return false;
  }
  filling_ = true;
  item->setText(0, name);
  filling_ = false;
  RefreshList();
  emit ProjectChanged();
  return true;
}

bool CDlgDataCD::RenameListRow(QTreeWidgetItem* row, const QString& oldName, const QString& newName) {
  if (!row) return false;
  QString name = newName.trimmed();
  if (Upper(name) == Upper(oldName)) return false;
  QTreeWidgetItem* folderItem = tree_->currentItem() ? tree_->currentItem() : RootItem();
  if (row->data(0, kRoleKind).toString() == kFolderType) {
    for (int i = 0; i < folderItem->childCount(); ++i)
      if (folderItem->child(i)->text(0) == oldName) return RenameTreeItem(folderItem->child(i), oldName, name);
    return false;
  }
  if (!IsPlainName(name)) {
    ShowMessage(LoadLangText("Message", 1004), msgbox::kInfoOk);
    return false;
  }
  const std::string folder = FolderPath(folderItem);
  if (NameTaken(folder, ToStd(name), ToStd(oldName))) {
    ShowMessage(LoadLangText("Message", 7), msgbox::kInfoOk);
    return false;
  }
  std::vector<FileListEntry> entries;
  std::string error;
  if (!ReadFileList(folder, &entries, &error)) {
    ShowMessage(LoadLangText("Message", 8) + "\n" + error, msgbox::kErrorOk);
    return false;
  }
  bool found = false;
  for (FileListEntry& e : entries) {
    if (e.discName == ToStd(oldName)) {
      e.discName = ToStd(name);
      found = true;
      break;
    }
  }
  if (!found || !WriteFileList(folder, entries, &error)) {
    ShowMessage(LoadLangText("Message", 8) + (error.empty() ? "" : "\n" + error), msgbox::kErrorOk);
    return false;
  }
  filling_ = true;
  row->setText(0, name);
  filling_ = false;
  emit ProjectChanged();
  return true;
}

void CDlgDataCD::DeleteSelection() {
  if (imageMode_ || manager_.Busy()) return;
  QTreeWidgetItem* folderItem = tree_->currentItem() ? tree_->currentItem() : RootItem();
  if (focusOwner_ == kFocusTree) {
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item || !item->parent()) return;  // the root stays
    const std::string path = FolderPath(item);
    RemoveFolderTotals(path);
    if (!RemoveTree(path)) {
      ShowMessage(LoadLangText("Message", 1005) + "\n" + path, msgbox::kErrorOk);
      return;
    }
    QTreeWidgetItem* parent = item->parent();
    filling_ = true;
    delete item;
    filling_ = false;
    tree_->setCurrentItem(parent);
    RefreshList();
    emit ProjectChanged();
    return;
  }
  const std::string folder = FolderPath(folderItem);
  QList<QTreeWidgetItem*> rows = list_->selectedItems();
  if (rows.isEmpty()) return;
  std::vector<FileListEntry> entries;
  std::string error;
  if (!ReadFileList(folder, &entries, &error)) {
    ShowMessage(LoadLangText("Message", 1005) + "\n" + error, msgbox::kErrorOk);
    return;
  }
  std::set<std::string> removeFiles;
  for (QTreeWidgetItem* row : rows) {
    if (row->data(0, kRoleKind).toString() == kFolderType) {
      const std::string path = folder + "/" + ToStd(row->text(0));
      RemoveFolderTotals(path);
      if (!RemoveTree(path)) {
        ShowMessage(LoadLangText("Message", 1005) + "\n" + path, msgbox::kErrorOk);
        continue;
      }
      filling_ = true;
      for (int i = 0; i < folderItem->childCount(); ++i) {
        if (folderItem->child(i)->text(0) == row->text(0)) {
          delete folderItem->child(i);
          break;
        }
      }
      filling_ = false;
    } else {
      removeFiles.insert(ToStd(row->text(0)));
    }
  }
  if (!removeFiles.empty()) {
    std::vector<FileListEntry> kept;
    uint64_t bytes = 0;
    int files = 0;
    for (const FileListEntry& e : entries) {
      if (!removeFiles.count(e.discName)) {
        kept.push_back(e);
        continue;
      }
      struct stat st;
      if (!e.IsImported() && stat(e.sourcePath.c_str(), &st) == 0) {
        bytes += uint64_t(st.st_size);
        ++files;
      }
    }
    if (!WriteFileList(folder, kept, &error)) {
      ShowMessage(LoadLangText("Message", 1005) + "\n" + error, msgbox::kErrorOk);
    } else if (files) {
      RemoveFileTotals(bytes, files);
    }
  }
  RefreshList();
  emit ProjectChanged();
}

void CDlgDataCD::DeleteAll() {
  if (manager_.Busy() || imageMode_ || IsEmpty()) return;
  const bool wholeProject = focusOwner_ == kFocusTree;
  if (ShowMessage(LoadLangText("Message", wholeProject ? 1013 : 1014), msgbox::kQuestionYesNo) != msgbox::kYes)
    return;
  if (wholeProject) {
    Clear();
    return;
  }
  list_->selectAll();
  DeleteSelection();
}

void CDlgDataCD::Clear() {
  if (manager_.Busy()) return;
  if (!stagingRoot_.empty()) RemoveTree(stagingRoot_);
  stagingRoot_.clear();
  imageMode_ = false;
  imagePath_.clear();
  projectPath_.clear();
  // A new project starts from the defaults, not from the last one's choices.
  manager_.SetDiscOptions(0);
  manager_.SetBoot({});
  SetImageColumns(false);
  SetMode(mode_);
  ResetTotals();
  emit ProjectChanged();
  modified_ = false;
}

// ---------------------------------------------------------------------------
// Project files

bool CDlgDataCD::LoadProject(const QString& path) {
  if (manager_.Busy()) {
    ShowMessage(LoadLangText("Message", 61), msgbox::kInfoOk);
    return false;
  }
  int kind = ReadProjectKind(ToStd(path));
  if (kind != project::kDataDisc && kind != project::kMp3Disc) {
    ShowMessage(LoadErrorText(result::kProjectUnreadable) + "\n" + ToStd(path), msgbox::kErrorOk);
    return false;
  }
  // The current project goes only once the file is known to be a project.
  if (!stagingRoot_.empty()) RemoveTree(stagingRoot_);
  stagingRoot_.clear();
  imageMode_ = false;
  imagePath_.clear();
  SetImageColumns(false);
  ResetTotals();
  SetMode(mode_);
  manager_.SetMode(mode_);
  std::atomic<bool> whole{false};
  bool ok = RunInBackground(
      [&] { return manager_.StartLoadProject(&projectTree_, ToStd(path), [&](bool done) {
        whole = done;
        WorkEnded();
      }); }, 50);
  manager_.SetMode(mode_);
  if (ok && !whole) {
    // The records before a damaged part stay loaded; the user is told.
    ShowMessage(LoadErrorText(result::kProjectUnreadable) + "\n" + ToStd(path), msgbox::kErrorOk);
    ok = false;
  }
  projectPath_ = path;
  modified_ = !ok;  // a project loaded in part differs from its file
  RootItem()->setExpanded(true);
  SelectFolder(RootItem());
  return ok;
}

bool CDlgDataCD::RewritePlaylist() {
  if (mode_ != kModeMp3 || stagingRoot_.empty()) return false;
  // The playlist is kept inside the staging root and listed at the disc's
  // root, replacing the one written before.
  std::string error;
  return WritePlaylist(stagingRoot_, &error);
}

bool CDlgDataCD::SaveProject(const QString& path) {
  if (imageMode_ || manager_.Busy()) return false;
  EnsureStagingRoot();
  if (mode_ == kModeMp3 && !RewritePlaylist()) {
    ShowMessage(LoadLangText("Message", 1006), msgbox::kErrorOk);
    return false;
  }
  std::string error;
  manager_.SetMode(mode_);
  if (!manager_.SaveDataProject(stagingRoot_, ToStd(path), ToStd(GetVolumeLabel()), &error, Existing::kReplace)) {
    ShowMessage(LoadErrorText(result::kProjectNotWritten) + "\n" + error, msgbox::kErrorOk);
    return false;
  }
  projectPath_ = path;
  modified_ = false;
  RefreshList();
  return true;
}

// ---------------------------------------------------------------------------
// Opened images

bool CDlgDataCD::ImportImage(const QString& path) {
  std::vector<ImageTrack> tracks;
  std::string error;
  if (!ReadImageTracks(ToStd(path), &tracks, &error)) return false;
  if (!stagingRoot_.empty()) RemoveTree(stagingRoot_);
  stagingRoot_.clear();
  imageMode_ = true;
  imagePath_ = path;
  projectPath_.clear();
  ResetTotals();
  SetImageColumns(true);
  filling_ = true;
  tree_->clear();
  auto* root = new QTreeWidgetItem(tree_, QStringList(QString("Image File [%1]").arg(path)));
  root->setIcon(0, style()->standardIcon(QStyle::SP_DriveCDIcon));
  for (const ImageTrack& t : tracks) {
    QString text = t.audio ? QString("AUDIO TRACK %1").arg(t.number) : QString("DATA TRACK %1").arg(t.number);
    if (!t.audio) {
      if (t.iso && t.udf) text += " (UDF&ISO)";
      else if (t.iso) text += " (ISO)";
      else if (t.udf) text += " (UDF)";
    }
    auto* item = new QTreeWidgetItem(root, QStringList(text));
    item->setData(0, Qt::UserRole + 5, t.number);
    item->setIcon(0, style()->standardIcon(t.audio ? QStyle::SP_MediaVolume : QStyle::SP_DriveCDIcon));
  }
  root->setExpanded(true);
  filling_ = false;
  tree_->setCurrentItem(root->childCount() ? root->child(0) : root);
  ShowImageTree();
  emit ProjectChanged();
  return true;
}

void CDlgDataCD::ShowImageTree() {
  filling_ = true;
  list_->clear();
  QTreeWidgetItem* item = tree_->currentItem();
  QString folder = item ? item->data(0, Qt::UserRole + 6).toString() : QString();
  if (item && item->parent() && !item->data(0, Qt::UserRole + 5).isNull()) folder = "/";
  if (!folder.isEmpty()) {
    std::vector<ImageDirEntry> entries;
    ListIsoFolder(ToStd(imagePath_), ToStd(folder), &entries);
    for (const ImageDirEntry& e : entries) {
      auto* row = new QTreeWidgetItem(list_);
      row->setText(0, QString::fromStdString(e.name));
      row->setText(1, QString::fromStdString(e.date));
      row->setText(2, e.folder ? kFolderType : kFileType);
      row->setText(3, e.folder ? QString() : QString::fromStdString(FormatSize(e.size)));
      row->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
      row->setText(4, QString::number(e.lba));
      row->setText(5, QString::number(qulonglong((e.size + 2047) / 2048)));
      row->setIcon(0, style()->standardIcon(e.folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
      if (e.folder && item->childCount() < int(entries.size())) {
        bool present = false;
        for (int i = 0; i < item->childCount(); ++i) present = present || item->child(i)->text(0) == row->text(0);
        if (!present) {
          auto* sub = new QTreeWidgetItem(item, QStringList(row->text(0)));
          sub->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
          sub->setData(0, Qt::UserRole + 6, folder + (folder.endsWith('/') ? "" : "/") + row->text(0));
        }
      }
    }
  }
  filling_ = false;
}

// ---------------------------------------------------------------------------
// Moving and copying inside the project

QStringList CDlgDataCD::SelectedProjectNames() const {
  QStringList names;
  if (imageMode_) return names;
  if (focusOwner_ == kFocusTree) {
    QTreeWidgetItem* item = tree_->currentItem();
    if (item && item->parent()) names << item->text(0);  // the root stays where it is
    return names;
  }
  for (QTreeWidgetItem* row : list_->selectedItems()) names << row->text(0);
  return names;
}

// The staging folder the selection is in.
std::string CDlgDataCD::SelectionFolder() {
  QTreeWidgetItem* current = tree_->currentItem() ? tree_->currentItem() : RootItem();
  if (focusOwner_ == kFocusTree && current && current->parent()) return FolderPath(current->parent());
  return FolderPath(current);
}

QByteArray CDlgDataCD::EncodeProjectItems(const std::string& folder, const QStringList& names) const {
  return (QString::fromStdString(folder) + "\n" + names.join("\n")).toUtf8();
}

bool CDlgDataCD::DecodeProjectItems(const QByteArray& data, std::string* folder, QStringList* names) const {
  QStringList lines = QString::fromUtf8(data).split('\n');
  if (lines.size() < 2) return false;
  *folder = lines.takeFirst().toStdString();
  // Only entries of this window's own project are taken.
  if (stagingRoot_.empty() || (*folder != stagingRoot_ && folder->rfind(stagingRoot_ + "/", 0) != 0)) return false;
  *names = lines;
  return true;
}

void CDlgDataCD::CutOrCopy(bool cut) {
  const QStringList names = SelectedProjectNames();
  if (names.isEmpty()) return;
  auto* data = new QMimeData;
  data->setData(kProjectItemsMime, EncodeProjectItems(SelectionFolder(), names));
  data->setText(names.join("\n"));
  QApplication::clipboard()->setMimeData(data);
  clipCut_ = cut;
}

void CDlgDataCD::StartProjectDrag() {
  const QStringList names = SelectedProjectNames();
  if (names.isEmpty()) return;
  auto* drag = new QDrag(this);
  auto* data = new QMimeData;
  data->setData(kProjectItemsMime, EncodeProjectItems(SelectionFolder(), names));
  drag->setMimeData(data);
  drag->exec(Qt::MoveAction);
}

bool CDlgDataCD::MoveItems(const QStringList& names, QTreeWidgetItem* target) {
  return EditProjectItems(true, SelectionFolder(), names, target);
}

bool CDlgDataCD::EditProjectItems(bool move, const std::string& from, const QStringList& names, QTreeWidgetItem* target) {
  if (imageMode_ || manager_.Busy() || !target || names.isEmpty()) return false;
  std::vector<std::string> list;
  for (const QString& n : names) list.push_back(ToStd(n));
  const std::string to = FolderPath(target);
  ProjectEditResult result;
  const bool ok = move ? MoveProjectEntries(from, list, to, &result) : CopyProjectEntries(from, list, to, &result);
  if (!move) {
    // Copies add to the project's size; moves leave it as it was.
    for (const std::string& name : result.done) AddEntryTotals(to, name);
  }
  const std::string targetPath = to;
  RebuildFolderTree();
  if (QTreeWidgetItem* item = ItemForFolder(targetPath)) {
    tree_->setCurrentItem(item);
    item->setExpanded(true);
  }
  RefreshList();
  if (!result.done.empty()) emit ProjectChanged();
  if (!result.renamed.empty()) {
    std::string text = LoadLangText("Message", 1024);
    for (const auto& r : result.renamed) text += "\n" + r.from + "  \u2192  " + r.to;
    ShowMessage(text, msgbox::kInfoOk);
  }
  if (!ok) ShowMessage(LoadLangText("Message", 1025) + "\n" + result.error, msgbox::kErrorOk);
  return ok;
}

void CDlgDataCD::AddEntryTotals(const std::string& folder, const std::string& name) {
  uint64_t bytes = 0;
  int files = 0;
  struct stat st;
  if (stat((folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    CountFolder(folder + "/" + name, &bytes, &files);
  } else {
    std::vector<FileListEntry> entries;
    ReadFileList(folder, &entries);
    for (const FileListEntry& e : entries)
      if (e.discName == name) CountEntry(e, &bytes, &files);
  }
  fileCount_ += files;
  sizeMB_ += double(bytes) / 1048576.0;
  AddSize(0, 0);
}

void CDlgDataCD::RebuildFolderTree() {
  QTreeWidgetItem* root = RootItem();
  if (!root) return;
  // The folders that were open stay open.
  std::set<std::string> expanded;
  std::function<void(QTreeWidgetItem*)> remember = [&](QTreeWidgetItem* item) {
    if (item->isExpanded()) expanded.insert(FolderPath(item));
    for (int i = 0; i < item->childCount(); ++i) remember(item->child(i));
  };
  remember(root);
  filling_ = true;
  tree_->setCurrentItem(root);
  qDeleteAll(root->takeChildren());
  std::function<void(QTreeWidgetItem*, const std::string&)> fill = [&](QTreeWidgetItem* parent, const std::string& dir) {
    for (const StagingEntry& e : EnumerateStagingFolder(dir)) {
      if (e.kind != StagingEntry::kFolder) continue;
      auto* child = static_cast<QTreeWidgetItem*>(projectTree_.Insert(parent, e.name));
      fill(child, dir + "/" + e.name);
      if (expanded.count(dir + "/" + e.name)) child->setExpanded(true);
    }
  };
  fill(root, FolderPath(root));
  filling_ = false;
}

QTreeWidgetItem* CDlgDataCD::ItemForFolder(const std::string& path) {
  std::function<QTreeWidgetItem*(QTreeWidgetItem*)> find = [&](QTreeWidgetItem* item) -> QTreeWidgetItem* {
    if (FolderPath(item) == path) return item;
    for (int i = 0; i < item->childCount(); ++i)
      if (QTreeWidgetItem* found = find(item->child(i))) return found;
    return nullptr;
  };
  return RootItem() ? find(RootItem()) : nullptr;
}

// ---------------------------------------------------------------------------
// Menu, keys, drops

void CDlgDataCD::BuildMenu() {
  menu_ = new QMenu(this);
  auto add = [&](int id, const char* fallback, std::function<void()> action) {
    QString text = Tr("Menu", id);
    QAction* a = menu_->addAction(text.isEmpty() ? QString(fallback) : text);
    a->setData(id);
    connect(a, &QAction::triggered, this, action);
  };
  add(kCmdAddFiles, "Add Files", [this] { AddFiles(); });
  add(kCmdNewFolder, "New Folder", [this] { NewFolder(); });
  add(kCmdCut, "Cut", [this] { CutOrCopy(true); });
  add(kCmdCopy, "Copy", [this] { CutOrCopy(false); });
  add(kCmdPaste, "Paste", [this] { Paste(); });
  add(kCmdRename, "Rename", [this] { StartRename(); });
  menu_->addSeparator();
  add(kCmdMoveUp, "MoveUp", [] {});
  add(kCmdMoveDown, "MoveDown", [] {});
  menu_->addSeparator();
  add(kCmdDelete, "Delete", [this] { DeleteSelection(); });
  add(kCmdDeleteAll, "Delete All", [this] { DeleteAll(); });
}

void CDlgDataCD::ShowMenu(QWidget* control, const QPoint& at) {
  if (imageMode_) return;
  for (QAction* a : menu_->actions()) {
    int id = a->data().toInt();
    if (id == kCmdMoveUp || id == kCmdMoveDown) a->setEnabled(false);
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    if (id == kCmdPaste) a->setEnabled(clip && (clip->hasUrls() || clip->hasFormat(kProjectItemsMime)));
    if (id == kCmdCut || id == kCmdCopy) a->setEnabled(!SelectedProjectNames().isEmpty());
  }
  QAbstractScrollArea* area = qobject_cast<QAbstractScrollArea*>(control);
  menu_->popup((area ? area->viewport() : control)->mapToGlobal(at));
}

bool CDlgDataCD::eventFilter(QObject* watched, QEvent* event) {
  const bool tree = watched == tree_ || watched == tree_->viewport();
  const bool list = watched == list_ || watched == list_->viewport();
  if (!tree && !list) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::FocusIn:
      focusOwner_ = tree ? kFocusTree : kFocusList;
      break;
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      // While a label is edited its editor has the focus.
      const bool editing = qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr;
      if (editing) break;
      if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        if (list && key->key() != Qt::Key_Escape) OnListDoubleClicked(list_->currentItem());
        // Escape takes back the selection of the list, as in file managers.
        if (list && key->key() == Qt::Key_Escape) list_->clearSelection();
        return true;
      }
      if (key->matches(QKeySequence::Paste)) {
        if (!manager_.Busy()) Paste();
        return true;
      }
      if (key->matches(QKeySequence::Cut) || key->matches(QKeySequence::Copy)) {
        focusOwner_ = tree ? kFocusTree : kFocusList;
        CutOrCopy(key->matches(QKeySequence::Cut));
        return true;
      }
      if (key->key() == Qt::Key_Delete) {
        focusOwner_ = tree ? kFocusTree : kFocusList;
        DeleteSelection();
        return true;
      }
      if (key->key() == Qt::Key_F2) {
        focusOwner_ = tree ? kFocusTree : kFocusList;
        StartRename();
        return true;
      }
      break;
    }
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton) dragFrom_ = mouse->position().toPoint();
      break;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (!(mouse->buttons() & Qt::LeftButton) || dragFrom_.x() < 0 || imageMode_ || manager_.Busy()) break;
      if ((mouse->position().toPoint() - dragFrom_).manhattanLength() < QApplication::startDragDistance()) break;
      dragFrom_ = QPoint(-1, -1);
      focusOwner_ = tree ? kFocusTree : kFocusList;
      StartProjectDrag();
      return true;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (drag->mimeData()->hasFormat(kProjectItemsMime) && !imageMode_ && !manager_.Busy()) {
        drag->setDropAction(Qt::MoveAction);
        drag->accept();
        return true;
      }
      if (drag->mimeData()->hasUrls() && !imageMode_) {
        drag->acceptProposedAction();
        return true;
      }
      break;
    }
    case QEvent::Drop:
      if (!imageMode_ && HandleDrop(watched, static_cast<QDropEvent*>(event))) return true;
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}
