#include "app/ui/CDlgAudioCD.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <mutex>

#include "app/ui/AddReport.h"
#include "foundation/LangText.h"
#include "foundation/ResultCodes.h"
#include "app/RecorderService.h"
#include "foundation/ShowMessage.h"
#include "foundation/SizeText.h"
#include "app/ui/CDlgWait.h"
#include "foundation/ui/WindowSupport.h"
#include "controls/CListCtrlEx.h"

namespace {

constexpr const char* kRowsMime = "application/x-varnex-audio-rows";
constexpr int kLabelsHeight = 20;  // the two total labels under the list
constexpr int kHeaderHeight = 28;  // the disc's texts above the list
constexpr int kDataRowHeight = 28;  // the disc's files, under its texts

// Texts of the files row.
constexpr int kDataSessionText = 1470, kNoDataText = 1471, kAfterAudioText = 1472, kBeforeAudioText = 1473,
              kAddDataText = 1474, kRemoveDataText = 1475, kChooseDataText = 1476, kDataSummaryText = 1477;
constexpr int kRemoveDataQuestion = 1470;  // [Message]

// Menu commands of the list.
constexpr int kMenuAdd = 32776, kMenuDelete = 32778, kMenuPaste = 32780, kMenuDeleteAll = 32785,
              kMenuUp = 32787, kMenuDown = 32788;

QStringList LocalPaths(const QMimeData* data) {
  QStringList paths;
  if (!data) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  return paths;
}

std::string ToStd(const QString& s) { return s.toStdString(); }

}  // namespace

// ---------------------------------------------------------------------------
CDlgAudioCD::CDlgAudioCD(QWidget* parent) : QWidget(parent) {
  setProperty("id", 133);
  ApplySkinPalette(this);
  list_ = new CListCtrlEx(this);
  list_->setProperty("id", 1001);
  list_->setColumnCount(kColumns);
  list_->setHeaderLabels({Tr("Column", 1), Tr("Column", 2), Tr("Column", 3), Tr("Column", 4), Tr("Column", 26),
                          Tr("Column", 27), Tr("Column", 28), Tr("Column", 29), Tr("Column", 30), Tr("Column", 31),
                          Tr("Column", 32), Tr("Column", 33)});
  for (int c = 0; c < kColumns; ++c) list_->setColumnWidth(c, kColumnWidths[c]);
  // What the disc says of a track is read beside its file; the long path last.
  list_->header()->moveSection(kPath, kColumns - 1);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->SetShowSelAlways(true);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  QFont font("Arial");
  font.setPixelSize(15);
  list_->setFont(font);
  list_->setIconSize(QSize(16, 16));
  list_->setAcceptDrops(true);
  list_->viewport()->setAcceptDrops(true);
  list_->installEventFilter(this);
  list_->viewport()->installEventFilter(this);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { menu_->exec(list_->viewport()->mapToGlobal(at)); });
  // Double-clicking a text, pause or ISRC edits it in place; the other
  // columns are the file's and stay as they are.
  // The flags are check boxes, changed with one click.
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int column) {
    if (Editable(list_->indexOfTopLevelItem(item), column) && !IsCheckColumn(column)) list_->editItem(item, column);
  });
  connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (showing_) return;
    const int row = list_->indexOfTopLevelItem(item);
    if (IsCheckColumn(column)) EditFlag(row, column, item->checkState(column) == Qt::Checked);
    else EditCell(row, column, item->text(column));
  });
  discTitleLabel_ = new QLabel(Tr("UIText", 1450), this);
  discPerformerLabel_ = new QLabel(Tr("UIText", 1451), this);
  discMcnLabel_ = new QLabel(Tr("UIText", 1452), this);
  discTitle_ = new QLineEdit(this);
  discPerformer_ = new QLineEdit(this);
  discMcn_ = new QLineEdit(this);
  discTitle_->setProperty("id", 1004);
  discPerformer_->setProperty("id", 1005);
  discMcn_->setProperty("id", 1006);
  discMcn_->setMaxLength(13);
  for (QLineEdit* edit : {discTitle_, discPerformer_, discMcn_})
    connect(edit, &QLineEdit::editingFinished, this, [this] { TakeDiscText(); });
  dataLabel_ = new QLabel(Tr("UIText", kDataSessionText), this);
  dataSummary_ = new QLabel(this);
  dataSummary_->setProperty("id", 1007);
  dataSummary_->setTextFormat(Qt::PlainText);
  dataPlace_ = new QComboBox(this);
  dataPlace_->setProperty("id", 1008);
  dataPlace_->addItem(Tr("UIText", kAfterAudioText), int(AudioDiscFiles::kSessionAfter));
  dataPlace_->addItem(Tr("UIText", kBeforeAudioText), int(AudioDiscFiles::kTrackFirst));
  connect(dataPlace_, &QComboBox::activated, this, [this](int index) {
    SetDataPlace(AudioDiscFiles::Place(dataPlace_->itemData(index).toInt()));
  });
  addData_ = new QPushButton(Tr("UIText", kAddDataText), this);
  addData_->setProperty("id", 1009);
  connect(addData_, &QPushButton::clicked, this, [this] { ChooseDataFiles(); });
  removeData_ = new QPushButton(Tr("UIText", kRemoveDataText), this);
  removeData_->setProperty("id", 1010);
  connect(removeData_, &QPushButton::clicked, this, [this] { RemoveDataFiles(); });
  totalFiles_ = new QLabel(this);
  totalSize_ = new QLabel(this);
  totalFiles_->setProperty("id", 1002);
  totalSize_->setProperty("id", 1003);
  BuildMenu();
  UpdateTotals();
  ShowDataFiles();
  LayOut();
}

CDlgAudioCD::~CDlgAudioCD() = default;

void CDlgAudioCD::BuildMenu() {
  menu_ = new QMenu(this);
  auto add = [this](int id, auto slot) {
    QAction* a = menu_->addAction(Tr("Menu", id));
    a->setData(id);
    connect(a, &QAction::triggered, this, slot);
  };
  add(kMenuAdd, [this] { AddFiles(); });
  add(kMenuPaste, [this] { Paste(); });
  QAction* data = menu_->addAction(Tr("UIText", kAddDataText));
  connect(data, &QAction::triggered, this, [this] { ChooseDataFiles(); });
  menu_->addSeparator();
  add(kMenuUp, [this] { MoveUp(); });
  add(kMenuDown, [this] { MoveDown(); });
  menu_->addSeparator();
  add(kMenuDelete, [this] { DeleteSelectedTracks(); });
  add(kMenuDeleteAll, [this] { DeleteAll(); });
}

void CDlgAudioCD::resizeEvent(QResizeEvent*) { LayOut(); }

void CDlgAudioCD::LayOut() {
  const int w = width(), h = height();
  // Title and performer take what the catalogue number leaves, half each.
  const int labelW = 80, mcnLabelW = 150, mcnW = 130, gap = 6;
  const int edits = std::max(0, w - 2 * labelW - mcnLabelW - mcnW - 5 * gap) / 2;
  int x = gap;
  const int y = 3, eh = kHeaderHeight - 6;
  discTitleLabel_->setGeometry(x, y, labelW, eh), x += labelW;
  discTitle_->setGeometry(x, y, edits, eh), x += edits + gap;
  discPerformerLabel_->setGeometry(x, y, labelW, eh), x += labelW;
  discPerformer_->setGeometry(x, y, edits, eh), x += edits + gap;
  discMcnLabel_->setGeometry(x, y, mcnLabelW, eh), x += mcnLabelW;
  discMcn_->setGeometry(x, y, mcnW, eh);
  // The files row: what they are, where they go, and the two buttons.
  const int dy = kHeaderHeight + 3, dataLabelW = dataLabel_->sizeHint().width() + gap;
  const int placeW = std::min(dataPlace_->sizeHint().width(), 280);
  const int addW = addData_->sizeHint().width(), removeW = removeData_->sizeHint().width();
  const int summaryW = std::max(0, w - dataLabelW - placeW - addW - removeW - 5 * gap);
  x = gap;
  dataLabel_->setGeometry(x, dy, dataLabelW, eh), x += dataLabelW;
  dataSummary_->setGeometry(x, dy, summaryW, eh), x += summaryW + gap;
  dataPlace_->setGeometry(x, dy, placeW, eh), x += placeW + gap;
  addData_->setGeometry(x, dy, addW, eh), x += addW + gap;
  removeData_->setGeometry(x, dy, removeW, eh);
  ShowDataFiles();
  const int top = kHeaderHeight + kDataRowHeight;
  list_->setGeometry(0, top, w, std::max(0, h - kLabelsHeight - top));
  totalFiles_->setGeometry(4, h - kLabelsHeight, w / 2 - 4, kLabelsHeight);
  totalSize_->setGeometry(w / 2, h - kLabelsHeight, w - w / 2 - 4, kLabelsHeight);
}

void CDlgAudioCD::UpdateTotals() {
  const size_t count = project_.RowCount();
  if (count == 0 && project_.ProjectPath().empty() && !modified_) {
    totalFiles_->setText(Tr("UIText", 9));
    totalSize_->setText(Tr("UIText", 10));
    return;
  }
  totalFiles_->setText(Tr("UIText", 11) + QString::asprintf(" %d", int(count)));
  totalSize_->setText(Tr("UIText", 12) + QString::asprintf(" %.2f M", project_.TotalMB()));
}

void CDlgAudioCD::Changed() {
  modified_ = true;
  UpdateTotals();
  emit ProjectChanged();
}

void CDlgAudioCD::RefreshList(const std::vector<int>& select) {
  const std::vector<AudioTrackRow> rows = project_.Rows();
  showing_ = true;
  list_->clear();
  QIcon icon = style()->standardIcon(QStyle::SP_MediaVolume);
  QList<QTreeWidgetItem*> items;
  for (size_t i = 0; i < rows.size(); ++i) {
    auto* item = new QTreeWidgetItem();
    item->setFlags(item->flags() | Qt::ItemIsEditable | Qt::ItemIsUserCheckable);
    ShowRow(item, rows[i], int(i));
    item->setIcon(0, icon);
    items << item;
  }
  list_->addTopLevelItems(items);
  showing_ = false;
  SelectRows(select);
  ShowDiscText();
  ShowDataFiles();
  UpdateTotals();
}

// ---------------------------------------------------------------- files besides the sound

void CDlgAudioCD::ShowDataFiles() {
  const AudioDataFiles files = project_.DataFiles();
  const bool any = !files.paths.empty();
  if (!any) {
    dataSummary_->setText(Tr("UIText", kNoDataText));
  } else {
    // Counted again only when the files change, not on every resize.
    if (files.paths != countedPaths_) {
      countedPaths_ = files.paths;
      countedBytes_ = 0;
      for (const std::string& p : files.paths) (void)CAudioCDProject::FilesBytes(p, &countedBytes_);
    }
    const uint64_t bytes = countedBytes_;
    QStringList names;
    for (const std::string& p : files.paths) names << QFileInfo(QString::fromStdString(p)).fileName();
    const QString text = Tr("UIText", kDataSummaryText).arg(QString::fromStdString(FormatSize(bytes))).arg(names.join(", "));
    // Cut to the room the row leaves, once it has been laid out.
    const int room = dataSummary_->width();
    dataSummary_->setText(room > 0 ? dataSummary_->fontMetrics().elidedText(text, Qt::ElideRight, room) : text);
    dataSummary_->setToolTip(QString::fromStdString([&] {
      std::string all;
      for (const std::string& p : files.paths) all += (all.empty() ? "" : "\n") + p;
      return all;
    }()));
  }
  const int at = dataPlace_->findData(int(any ? files.place : AudioDiscFiles::kSessionAfter));
  dataPlace_->setCurrentIndex(std::max(0, at));
  dataPlace_->setEnabled(any);
  removeData_->setEnabled(any);
}

void CDlgAudioCD::ChooseDataFiles() {
  const QStringList chosen =
      Files()->OpenFilesAndFolders(this, Tr("UIText", kChooseDataText), Tr("UIText", 1104) + "(*.*)|*||");
  if (!chosen.isEmpty()) AddDataFiles(chosen);
}

void CDlgAudioCD::AddDataFiles(const QStringList& paths) {
  AudioDataFiles files = project_.DataFiles();
  if (files.paths.empty()) files.place = AudioDiscFiles::Place(dataPlace_->currentData().toInt());
  for (const QString& p : paths) {
    const std::string path = p.toStdString();
    if (std::find(files.paths.begin(), files.paths.end(), path) == files.paths.end()) files.paths.push_back(path);
  }
  project_.SetDataFiles(files);
  ShowDataFiles();
  Changed();
}

void CDlgAudioCD::RemoveDataFiles() {
  if (project_.DataFiles().paths.empty()) return;
  if (ShowMessage(LoadLangText("Message", kRemoveDataQuestion), msgbox::kQuestionYesNo) != msgbox::kYes) return;
  project_.SetDataFiles(AudioDataFiles());
  ShowDataFiles();
  Changed();
}

void CDlgAudioCD::SetDataPlace(AudioDiscFiles::Place place) {
  AudioDataFiles files = project_.DataFiles();
  if (files.paths.empty() || files.place == place) return ShowDataFiles();
  files.place = place;
  project_.SetDataFiles(files);
  ShowDataFiles();
  Changed();
}

namespace {

QString PauseText(const AudioTrackRow& row, int index) {
  const int frames = index == 0 ? audiodisc::kFirstPregap : row.pauseFrames;
  return QString::number(frames / double(audiodisc::kFramesPerSecond), 'g', 3);
}

}  // namespace

void CDlgAudioCD::ShowRow(QTreeWidgetItem* item, const AudioTrackRow& row, int index) {
  const bool was = showing_;
  showing_ = true;
  item->setText(kNumber, QString::asprintf("%d", index + 1));
  item->setText(kFile, QString::fromStdString(row.name));
  item->setText(kDuration, QString::fromStdString(row.duration));
  item->setText(kPath, QString::fromStdString(row.source));
  item->setText(kTitle, QString::fromStdString(row.title));
  item->setText(kPerformer, QString::fromStdString(row.performer));
  item->setText(kSongwriter, QString::fromStdString(row.songwriter));
  item->setText(kComposer, QString::fromStdString(row.composer));
  item->setText(kPause, PauseText(row, index));
  item->setText(kIsrc, QString::fromStdString(row.isrc));
  item->setCheckState(kPreEmphasis, row.preEmphasis ? Qt::Checked : Qt::Unchecked);
  item->setCheckState(kCopyPermitted, row.copyPermitted ? Qt::Checked : Qt::Unchecked);
  showing_ = was;
}

bool CDlgAudioCD::Editable(int row, int column) {
  if (row < 0 || column < kTitle || column >= kColumns) return false;
  return !(row == 0 && column == kPause);
}

bool CDlgAudioCD::EditFlag(int row, int column, bool on) {
  const std::vector<AudioTrackRow> rows = project_.Rows();
  if (!IsCheckColumn(column) || row < 0 || size_t(row) >= rows.size()) return false;
  AudioTrackRow values = rows[size_t(row)];
  bool& flag = column == kPreEmphasis ? values.preEmphasis : values.copyPermitted;
  if (flag == on) return true;
  flag = on;
  return TakeRowValues(row, values, "");
}

bool CDlgAudioCD::TakeRowValues(int row, const AudioTrackRow& values, std::string why) {
  const bool taken = why.empty() && project_.SetRowDetails(row, values, &why);
  if (QTreeWidgetItem* item = list_->topLevelItem(row)) ShowRow(item, project_.Rows()[size_t(row)], row);
  if (!taken) {
    ShowMessage(why, msgbox::kInfoOk);
    return false;
  }
  Changed();
  return true;
}

bool CDlgAudioCD::EditCell(int row, int column, const QString& text) {
  const std::vector<AudioTrackRow> rows = project_.Rows();
  if (!Editable(row, column) || IsCheckColumn(column) || size_t(row) >= rows.size()) return false;
  AudioTrackRow values = rows[size_t(row)];
  const std::string typed = text.trimmed().toStdString();
  bool understood = true;
  switch (column) {
    case kTitle: values.title = typed; break;
    case kPerformer: values.performer = typed; break;
    case kSongwriter: values.songwriter = typed; break;
    case kComposer: values.composer = typed; break;
    case kIsrc: values.isrc = typed; break;
    case kPause: {
      QString seconds = text.trimmed();
      seconds.replace(',', '.');
      const double value = seconds.isEmpty() ? 0 : seconds.toDouble(&understood);
      values.pauseFrames = int(value * audiodisc::kFramesPerSecond + (value >= 0 ? 0.5 : -0.5));
      break;
    }
    default: return false;
  }
  return TakeRowValues(row, values,
                       understood ? "" : "\"" + typed + "\" is no number of seconds; a pause is 0 to 10 seconds");
}

void CDlgAudioCD::ShowDiscText() {
  const AudioDiscText text = project_.DiscText();
  discTitle_->setText(QString::fromStdString(text.title));
  discPerformer_->setText(QString::fromStdString(text.performer));
  discMcn_->setText(QString::fromStdString(text.mcn));
}

void CDlgAudioCD::TakeDiscText() {
  AudioDiscText text;
  text.title = discTitle_->text().trimmed().toStdString();
  text.performer = discPerformer_->text().trimmed().toStdString();
  text.mcn = discMcn_->text().trimmed().toStdString();
  const AudioDiscText before = project_.DiscText();
  if (text.title == before.title && text.performer == before.performer && text.mcn == before.mcn) return;
  std::string why;
  if (!project_.SetDiscText(text, &why)) {
    ShowDiscText();
    ShowMessage(why, msgbox::kInfoOk);
    return;
  }
  Changed();
}

std::vector<int> CDlgAudioCD::SelectedRows() const {
  std::vector<int> rows;
  for (QTreeWidgetItem* item : list_->selectedItems()) rows.push_back(list_->indexOfTopLevelItem(item));
  std::sort(rows.begin(), rows.end());
  return rows;
}

void CDlgAudioCD::SelectRows(const std::vector<int>& rows) {
  list_->clearSelection();
  for (int r : rows)
    if (QTreeWidgetItem* item = list_->topLevelItem(r)) item->setSelected(true);
  if (!rows.empty())
    if (QTreeWidgetItem* item = list_->topLevelItem(rows.front())) {
      list_->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
      list_->scrollToItem(item);
    }
}

// ---------------------------------------------------------------- adding

bool CDlgAudioCD::AddPaths(const QStringList& paths, int periodMs) {
  if (adding_ || paths.isEmpty()) return false;
  adding_ = true;
  std::vector<std::string> list;
  for (const QString& p : paths) list.push_back(ToStd(p));
  const size_t before = project_.RowCount();
  project_.BeginAdd();
  std::atomic<bool> finished{false};
  std::thread worker([this, list, &finished] {
    project_.AddPaths(list);
    finished = true;
  });
  // The file being probed is finished after a cancel; nothing after it is
  // added.
  CDlgWait wait(CDlgWait::Work{[&finished] { return !finished; }, [this] { return project_.CurrentFile(); },
                               [this] { project_.CancelAdd(); }},
                Tr("UIText", 1122), periodMs, this);
  // A quick add ends before the window would show.
  QTimer::singleShot(0, &wait, [&] {
    if (finished) wait.accept();
  });
  wait.exec();
  RunOffWindowThread([&] { worker.join(); });
  adding_ = false;
  RefreshList();
  if (project_.RowCount() != before) Changed();
  TellAddOutcome();
  return project_.RowCount() != before;
}

void CDlgAudioCD::TellAddOutcome() {
  if (project_.LimitReached()) ShowMessage(LoadLangText("Message", 23), msgbox::kInfoOk);
  const std::vector<std::string> refused = project_.Undecodable();
  if (refused.empty()) return;
  std::string text = LoadLangText("Message", 39);
  constexpr size_t kShown = 12;
  for (size_t i = 0; i < refused.size() && i < kShown; ++i) text += "\n" + refused[i];
  if (refused.size() > kShown)
    text += "\n" + ToStd(Tr("Message", 1023).arg(int(refused.size() - kShown)));
  ReportNotAdded(text);
}

void CDlgAudioCD::AddFiles() {
  const QString filter =
      "*.mp3; *.wav; *.aac; *.ogg; *.wma; *.flac; *.m4a; *.opus|*.mp3;*.wav;*.aac;*.ogg;*.wma;*.flac;*.m4a;*.opus|" +
      Tr("UIText", 1104) + "(*.*)|*||";
  const QStringList chosen = Files()->OpenFilesAndFolders(this, Tr("UIText", 1105), filter);
  if (!chosen.isEmpty()) AddPaths(chosen);
}

void CDlgAudioCD::Paste() {
  const QStringList paths = LocalPaths(QApplication::clipboard()->mimeData());
  if (!paths.isEmpty()) AddPaths(paths);
}

bool CDlgAudioCD::AddPathFromShell(const QString& path) { return AddPaths({path}); }
bool CDlgAudioCD::AddPathsFromShell(const QStringList& paths) { return AddPaths(paths); }

// ---------------------------------------------------------------- rows

void CDlgAudioCD::DeleteSelectedTracks() {
  const std::vector<int> rows = SelectedRows();
  if (rows.empty() || rows.size() > CAudioCDProject::kMaxTracks) return;
  const int select = project_.DeleteRows(rows);
  RefreshList(select >= 0 ? std::vector<int>{select} : std::vector<int>{});
  Changed();
}

void CDlgAudioCD::DeleteAll() {
  if (IsEmpty()) return;
  if (ShowMessage(LoadLangText("Message", 1013), msgbox::kQuestionYesNo) != msgbox::kYes) return;
  std::vector<int> all(project_.RowCount());
  for (size_t i = 0; i < all.size(); ++i) all[i] = int(i);
  project_.DeleteRows(all);
  RefreshList();
  Changed();
}

void CDlgAudioCD::MoveUp() {
  const std::vector<int> rows = SelectedRows();
  const std::vector<int> now = project_.MoveUp(rows);
  if (now == rows) return;
  RefreshList(now);
  Changed();
}

void CDlgAudioCD::MoveDown() {
  const std::vector<int> rows = SelectedRows();
  const std::vector<int> now = project_.MoveDown(rows);
  if (now == rows) return;
  RefreshList(now);
  Changed();
}

void CDlgAudioCD::MoveSelectionTo(int before) {
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) return;
  const std::vector<int> now = project_.MoveRowsTo(rows, before);
  RefreshList(now);
  if (now != rows) Changed();
}

void CDlgAudioCD::Clear() {
  project_.Clear();
  project_.DeleteTempTracks();
  modified_ = false;
  RefreshList();
  emit ProjectChanged();
}

// ---------------------------------------------------------------- project files

bool CDlgAudioCD::LoadProject(const QString& path) {
  std::string error;
  std::vector<std::string> missing;
  bool ok = false;
  project_.BeginAdd();
  RunOffWindowThread([&] { ok = project_.LoadAudioProject(ToStd(path), &error, &missing); });
  if (!ok) {
    ShowMessage(LoadErrorText(result::kProjectUnreadable) + "\n" + error, msgbox::kErrorOk);
    return false;
  }
  modified_ = false;
  RefreshList();
  if (!missing.empty()) {
    std::string text = LoadLangText("Message", 1000);
    for (const std::string& m : missing) text += "\n" + m + ": " + LoadLangText("UIText", 1103);
    ShowMessage(text, msgbox::kInfoOk);
  }
  TellAddOutcome();
  emit ProjectChanged();
  return true;
}

bool CDlgAudioCD::SaveProject(const QString& path) {
  std::string error;
  if (!project_.SaveAudioProject(ToStd(path), &error, Existing::kReplace)) {
    ShowMessage(LoadErrorText(result::kProjectNotWritten) + "\n" + error, msgbox::kErrorOk);
    return false;
  }
  modified_ = false;
  UpdateTotals();
  emit ProjectChanged();
  return true;
}

// ---------------------------------------------------------------- burning

int CDlgAudioCD::PrepareTracks(const std::atomic<bool>* stop) {
  preparingPercent_ = 0;
  const int rc = project_.PrepareTracks(
      [](const std::string& failures) {
        return ShowMessage(LoadLangText("Message", 43) + "\n\n" + failures, msgbox::kQuestionOkCancel) ==
               msgbox::kOk;
      },
      stop,
      [this](int row, int rows, const std::string& name) {
        {
          std::lock_guard<std::mutex> hold(preparingLock_);
          preparingName_ = name;
        }
        preparingRows_ = rows;
        preparingRow_ = row;
        preparingPercent_ = rows > 0 ? row * 100 / rows : 0;
      });
  preparingRow_ = -1;
  preparingPercent_ = 100;
  return rc;
}

QString CDlgAudioCD::PreparingText() const {
  const int row = preparingRow_;
  if (row < 0) return Tr("UIText", 13);
  std::lock_guard<std::mutex> hold(preparingLock_);
  return Tr("UIText", 1121).arg(row + 1).arg(preparingRows_.load()).arg(QString::fromStdString(preparingName_));
}

int CDlgAudioCD::BurnTracks(RecorderService* service, uint8_t drive) {
  if (IsEmpty()) return 0;
  DiscInfo disc;
  const int rc = service->GetDiscInfoEx(drive, &disc);
  if (rc != 1) return rc;
  if (!(medium::IsCd(disc.mediumType) && medium::IsWritable(disc.mediumType)) || !disc.blank) {
    ShowMessage(LoadLangText("Message", 18), msgbox::kInfoOk);
    return 0;
  }
  const std::vector<std::string> tracks = project_.PreparedTracks();
  if (tracks.empty()) return CAudioCDProject::kNothingConverted;
  std::vector<std::string> notices;
  AudioDisc toWrite = project_.DiscToWrite(tracks);
  StagedDiscFiles staged;
  int written = staged.Stage(project_.DataFiles(), &toWrite.files, &notices);
  if (written == result::kSuccess) written = service->WriteAudioDisc(drive, toWrite, false, &notices);
  // Told once the disc is written or refused: a track filled out, a title
  // that lost characters.
  if (!notices.empty()) {
    std::string text;
    for (const std::string& n : notices) text += (text.empty() ? "" : "\n") + n;
    ShowMessage(text, msgbox::kInfoOk);
  }
  return written;
}

void CDlgAudioCD::GetWritingTrackCaption(RecorderService* service, uint8_t drive, QString* caption,
                                         int* value) const {
  const int row = CAudioCDProject::TrackRowOfItem(service->GetDriveItem(drive));
  const std::vector<AudioTrackRow> rows = project_.Rows();
  if (row >= 0 && size_t(row) < rows.size()) {
    *caption = QString::fromStdString(rows[size_t(row)].source);
    *value = service->GetDriveProgress(drive);
    return;
  }
  *caption = Tr("UIText", 13);
  *value = 0;
}

// ---------------------------------------------------------------- keys, drops, drags

bool CDlgAudioCD::eventFilter(QObject* watched, QEvent* event) {
  const bool onList = watched == list_ || watched == list_->viewport();
  if (!onList) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::KeyPress:
      if (OnListKey(static_cast<QKeyEvent*>(event))) return true;
      break;
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (watched == list_->viewport() && mouse->button() == Qt::LeftButton) dragFrom_ = mouse->position().toPoint();
      break;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (watched != list_->viewport() || !(mouse->buttons() & Qt::LeftButton) || dragFrom_.x() < 0) break;
      if ((mouse->position().toPoint() - dragFrom_).manhattanLength() < QApplication::startDragDistance()) break;
      dragFrom_ = QPoint(-1, -1);
      if (SelectedRows().empty()) break;
      auto* drag = new QDrag(list_);
      auto* data = new QMimeData;
      data->setData(kRowsMime, QByteArray::number(qint64(QCoreApplication::applicationPid())));
      drag->setMimeData(data);
      drag->exec(Qt::MoveAction);
      return true;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove:
      if (OnListDragOver(watched, static_cast<QDropEvent*>(event))) return true;
      break;
    case QEvent::Drop:
      if (OnListDrop(watched, static_cast<QDropEvent*>(event))) return true;
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

bool CDlgAudioCD::OnListKey(QKeyEvent* key) {
  if (key->key() == Qt::Key_Delete) {
    DeleteSelectedTracks();
    return true;
  }
  if (key->matches(QKeySequence::Paste)) {
    Paste();
    return true;
  }
  if (key->matches(QKeySequence::SelectAll)) {
    list_->selectAll();
    return true;
  }
  return false;
}

bool CDlgAudioCD::OnListDragOver(QObject* watched, QDropEvent* drag) {
  if (!drag->mimeData()->hasFormat(kRowsMime) && LocalPaths(drag->mimeData()).isEmpty()) return false;
  if (drag->mimeData()->hasFormat(kRowsMime)) {
    // The row under the pointer is where the rows will go.
    QPoint at = drag->position().toPoint();
    if (watched == list_) at = list_->viewport()->mapFrom(list_, at);
    list_->setCurrentItem(list_->itemAt(at), 0, QItemSelectionModel::NoUpdate);
    drag->setDropAction(Qt::MoveAction);
  } else {
    drag->setDropAction(Qt::CopyAction);
  }
  drag->accept();
  return true;
}

bool CDlgAudioCD::OnListDrop(QObject* watched, QDropEvent* drop) {
  if (drop->mimeData()->hasFormat(kRowsMime)) {
    QPoint at = drop->position().toPoint();
    if (watched == list_) at = list_->viewport()->mapFrom(list_, at);
    QTreeWidgetItem* over = list_->itemAt(at);
    MoveSelectionTo(over ? list_->indexOfTopLevelItem(over) : list_->topLevelItemCount());
    drop->acceptProposedAction();
    return true;
  }
  const QStringList paths = LocalPaths(drop->mimeData());
  if (paths.isEmpty()) return false;
  drop->acceptProposedAction();
  // The add runs after the drop, so the file manager is not held.
  QTimer::singleShot(0, this, [this, paths] { AddPaths(paths); });
  return true;
}
