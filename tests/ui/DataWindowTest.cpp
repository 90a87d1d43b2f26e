// The data and MP3 disc window on its own: building a project, renaming,
// new folders, deleting, totals, project files and the MP3 playlist.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QFileInfo>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include "WindowTestSupport.h"
#include "WindowTests.h"
#include "app/ui/CDlgDataCD.h"
#include "app/ui/QtProjectTree.h"
#include "authoring/FileList.h"
#include "authoring/ProjectFile.h"
#include "authoring/StagingFolder.h"
#include "controls/CListCtrlEx.h"
#include "foundation/ResultCodes.h"

using wt::Sink;

namespace {

// A small folder tree: docs/{a.txt, b.txt, deep/c.txt}, top.txt
QString MakeSources() {
  QString root = wt::NewTempFolder("sources");
  wt::WriteFile(root + "/docs/a.txt", QByteArray(1000, 'a'));
  wt::WriteFile(root + "/docs/b.txt", QByteArray(2000, 'b'));
  wt::WriteFile(root + "/docs/deep/c.txt", QByteArray(3000, 'c'));
  wt::WriteFile(root + "/top.txt", QByteArray(1048576, 't'));
  return root;
}

QStringList ChildTexts(QTreeWidgetItem* item) {
  QStringList out;
  for (int i = 0; i < item->childCount(); ++i) out << item->child(i)->text(0);
  return out;
}

QStringList ListNames(CDlgDataCD& w) {
  QStringList out;
  for (int i = 0; i < w.List()->topLevelItemCount(); ++i) out << w.List()->topLevelItem(i)->text(0);
  return out;
}

QTreeWidgetItem* Child(QTreeWidgetItem* item, const QString& text) {
  for (int i = 0; i < item->childCount(); ++i)
    if (item->child(i)->text(0) == text) return item->child(i);
  return nullptr;
}

// A data disc window on the screen with the keyboard focus, as a user meets it.
bool ShowActive(CDlgDataCD& w) {
  w.resize(800, 400);
  w.SetMode(CDlgDataCD::kModeData);
  w.show();
  w.activateWindow();
  return QTest::qWaitForWindowActive(&w);
}

QTreeWidgetItem* Row(CDlgDataCD& w, const QString& text) {
  for (int i = 0; i < w.List()->topLevelItemCount(); ++i)
    if (w.List()->topLevelItem(i)->text(0) == text) return w.List()->topLevelItem(i);
  return nullptr;
}

// Counts the calls other threads hand to one object's thread: each is a wait
// of the worker for the window thread.
class HandedCalls : public QObject {
 public:
  explicit HandedCalls(QObject* target) : target_(target) { qApp->installEventFilter(this); }
  ~HandedCalls() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == target_ && event->type() == QEvent::MetaCall) ++count;
    return false;
  }
  int count = 0;

 private:
  QObject* target_;
};

bool SortedAsShown(const QStringList& names) {
  for (int i = 1; i < names.size(); ++i)
    if (ShownBefore(names[i], names[i - 1])) return false;
  return true;
}

}  // namespace

class DataWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { Sink().Clear(); }

  void AddsALargeTreeWithoutWaitingForTheWindowPerFolder() {
    // Folders made in an order unlike the shown one, some with folders of
    // their own; three files in each.
    QString src = wt::NewTempFolder("large") + "/many";
    int files = 0;
    QStringList top;
    for (int i = 59; i >= 0; --i) {
      const QString name = QString(i % 2 ? "Folder %1" : "folder %1").arg(i);
      top << name;
      QStringList folders{src + "/" + name};
      if (i % 10 == 0) folders << src + "/" + name + "/inner" << src + "/" + name + "/inner/Deeper";
      for (const QString& f : folders)
        for (int k = 0; k < 3; ++k, ++files) QVERIFY(wt::WriteFile(f + QString("/f%1.txt").arg(k), QByteArray(10 + k, 'x')));
    }
    CDlgDataCD w;
    w.resize(800, 400);
    w.SetMode(CDlgDataCD::kModeData);
    HandedCalls calls(w.Tree());
    const uint64_t listsRead = FileListsOpenedForReading();
    QVERIFY(w.AddPaths({src}));
    QVERIFY2(calls.count < 10, qPrintable(QString::number(calls.count)));
    // No list the worker wrote is read back (the root shown has none).
    QCOMPARE(FileListsOpenedForReading() - listsRead, uint64_t(0));
    QCOMPARE(w.FileCount(), files);
    QCOMPARE(ChildTexts(w.RootItem()), QStringList{"many"});
    QTreeWidgetItem* many = Child(w.RootItem(), "many");
    QStringList shown = ChildTexts(many);
    QVERIFY(SortedAsShown(shown));
    top.sort();
    shown.sort();
    QCOMPARE(shown, top);
    QVERIFY(w.RootItem()->isExpanded());
    for (int i = 0; i < 60; i += 10) {
      QTreeWidgetItem* inner = Child(Child(many, QString("folder %1").arg(i)), "inner");
      QVERIFY(inner);
      QCOMPARE(ChildTexts(inner), QStringList{"Deeper"});
      QVERIFY(!inner->icon(0).isNull());
    }
    // Shown in the list with its files, as a folder added by hand is.
    w.SelectFolder(Child(Child(many, "folder 20"), "inner"));
    QCOMPARE(ListNames(w), (QStringList{"Deeper", "f0.txt", "f1.txt", "f2.txt"}));
    // Added again, it takes the place of the first copy (the worker looks
    // at the tree it built).
    w.SelectFolder(w.RootItem());
    QVERIFY(w.AddPaths({src}));
    QCOMPARE(ChildTexts(w.RootItem()), QStringList{"many"});
    QCOMPARE(Child(w.RootItem(), "many")->childCount(), 60);
    QCOMPARE(w.FileCount(), files);
  }

  void FoldersOfAWorkerJoinTheTreeWhenAsked() {
    QTreeWidget view;
    auto* root = new QTreeWidgetItem(QStringList("Root"));
    view.addTopLevelItem(root);
    QtProjectTree tree(&view);
    tree.SetBatchSize(0);
    HandedCalls calls(&view);
    std::atomic<bool> done{false};
    QStringList seen;
    std::thread worker([&] {
      TreeItem b = tree.Insert(root, "b folder");
      TreeItem a = tree.Insert(root, "a folder");
      TreeItem z = tree.Insert(a, "z");
      TreeItem y = tree.Insert(a, "y");
      TreeItem x = tree.Insert(y, "x");
      // The worker sees its own folders while they wait to be joined.
      seen << QString::fromStdString(tree.Text(z));
      seen << (tree.Parent(z) == a ? "z under a" : "z lost") << (tree.Parent(a) == root ? "a under root" : "a lost");
      for (TreeItem c : tree.Children(a)) seen << QString::fromStdString(tree.Text(c));
      tree.Remove(y);  // with x below it
      tree.SetText(b, "c folder");
      tree.Expand(a);
      (void)x;
      done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents);
    worker.join();
    QCOMPARE(seen, (QStringList{"z", "z under a", "a under root", "y", "z"}));
    QCOMPARE(calls.count, 0);
    QCOMPARE(root->childCount(), 0);  // held back until joined
    QCOMPARE(tree.PendingCount(), size_t(3));
    // The folders come with their icons: the view is told of the branch once.
    QSignalSpy changed(view.model(), &QAbstractItemModel::dataChanged);
    tree.JoinPending();
    QCOMPARE(changed.count(), 0);
    QCOMPARE(tree.PendingCount(), size_t(0));
    QCOMPARE(ChildTexts(root), (QStringList{"a folder", "c folder"}));
    QTreeWidgetItem* a = root->child(0);
    QCOMPARE(ChildTexts(a), QStringList{"z"});
    QVERIFY(a->isExpanded());
    QVERIFY(!a->child(0)->icon(0).isNull());
    QVERIFY(a->flags() & Qt::ItemIsEditable);
    // The window's own folder goes in at once, in its place.
    tree.Insert(root, "b folder");
    QCOMPARE(ChildTexts(root), (QStringList{"a folder", "b folder", "c folder"}));
  }

  void BuildsAProjectFromFilesAndFolders() {
    CDlgDataCD w;
    w.resize(800, 400);
    w.SetMode(CDlgDataCD::kModeData);
    QCOMPARE(w.GetVolumeLabel(), QString("DataCD"));
    QVERIFY(w.IsEmpty());
    QString src = MakeSources();
    QVERIFY(w.AddPaths({src + "/docs", src + "/top.txt"}));
    QCOMPARE(ChildTexts(w.RootItem()), QStringList{"docs"});
    QCOMPARE(ListNames(w), (QStringList{"docs", "top.txt"}));
    QCOMPARE(Row(w, "docs")->text(3), QString("Folder"));
    QCOMPARE(Row(w, "top.txt")->text(2), QString("1.00 MB"));
    QCOMPARE(Row(w, "top.txt")->text(1), src + "/top.txt");
    QCOMPARE(w.FileCount(), 4);
    QCOMPARE(w.TotalFilesLabel()->text(), wt::LangText("UIText", 11) + " 4");
    QCOMPARE(w.TotalSizeLabel()->text(), wt::LangText("UIText", 14) + " 1.01 MB");
    QVERIFY(!w.IsEmpty());
    // A folder row opens its folder in the tree.
    emit w.List()->itemDoubleClicked(Row(w, "docs"), 0);
    QCOMPARE(w.Tree()->currentItem()->text(0), QString("docs"));
    QCOMPARE(ListNames(w), (QStringList{"deep", "a.txt", "b.txt"}));
    // Adding into the selected folder; a name already there is not added twice.
    QVERIFY(w.AddPaths({src + "/top.txt"}));
    QVERIFY(w.AddPaths({src + "/top.txt"}));
    QCOMPARE(ListNames(w), (QStringList{"deep", "a.txt", "b.txt", "top.txt"}));
    QCOMPARE(w.FileCount(), 5);
    // A path that vanished is reported by name, and nothing else changes.
    QVERIFY2(!w.AddPaths({src + "/gone.txt"}), "a path that was not added must not count as added");
    QVERIFY(Sink().Saw(src + "/gone.txt"));
    QCOMPARE(w.FileCount(), 5);
  }

  void PastesAndDropsCopiedFiles() {
    CDlgDataCD w;
    w.resize(800, 400);
    w.SetMode(CDlgDataCD::kModeData);
    QString src = MakeSources();
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(src + "/top.txt")});
    QApplication::clipboard()->setMimeData(data);
    w.Paste();
    QCOMPARE(ListNames(w), QStringList{"top.txt"});
    // A drop onto a folder of the tree adds below that folder.
    QVERIFY(w.NewFolder());
    QTreeWidgetItem* folder = w.Tree()->currentItem();
    w.SelectFolder(w.RootItem());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QPoint at = w.Tree()->visualItemRect(folder).center();
    QVERIFY(w.DropFiles({src + "/docs/a.txt"}, true, at));
    QCOMPARE(w.FileCount(), 2);
    w.SelectFolder(folder);
    QCOMPARE(ListNames(w), QStringList{"a.txt"});
  }

  void NewFoldersAreNumberedAndRenamesRefuseDuplicates() {
    CDlgDataCD w;
    w.resize(800, 400);
    w.SetMode(CDlgDataCD::kModeData);
    for (int i = 0; i < 3; ++i) {
      w.SelectFolder(w.RootItem());
      QVERIFY(w.NewFolder());
    }
    QCOMPARE(ChildTexts(w.RootItem()), (QStringList{"NewFolder", "NewFolder1", "NewFolder2"}));
    const std::string root = w.GetStagingRoot();
    QVERIFY(QFileInfo(QString::fromStdString(root) + "/NewFolder2").isDir());

    QTreeWidgetItem* second = Child(w.RootItem(), "NewFolder1");
    QVERIFY(!w.RenameTreeItem(second, "NewFolder1", "newfolder"));
    QVERIFY(Sink().Saw(wt::LangText("Message", 7)));
    QCOMPARE(second->text(0), QString("NewFolder1"));
    QVERIFY(QFileInfo(QString::fromStdString(root) + "/NewFolder1").isDir());
    // Case-only or blank-only changes change nothing.
    Sink().Clear();
    QVERIFY(!w.RenameTreeItem(second, "NewFolder1", " newfolder1 "));
    QCOMPARE(Sink().Count(), 0);
    QVERIFY(!w.RenameTreeItem(second, "NewFolder1", "a/b"));
    QVERIFY(w.RenameTreeItem(second, "NewFolder1", "Music"));
    QCOMPARE(second->text(0), QString("Music"));
    QVERIFY(QFileInfo(QString::fromStdString(root) + "/Music").isDir());
    QVERIFY(!QFileInfo(QString::fromStdString(root) + "/NewFolder1").exists());

    // Files: the disc name in the folder's list changes; a taken name is refused.
    QString src = MakeSources();
    w.SelectFolder(w.RootItem());
    QVERIFY(w.AddPaths({src + "/top.txt", src + "/docs/a.txt"}));
    Sink().Clear();
    QVERIFY(!w.RenameListRow(Row(w, "a.txt"), "a.txt", "TOP.TXT"));
    QVERIFY(Sink().Saw(wt::LangText("Message", 7)));
    QVERIFY(!w.RenameListRow(Row(w, "a.txt"), "a.txt", "music"));
    QVERIFY(w.RenameListRow(Row(w, "a.txt"), "a.txt", "letter.txt"));
    std::vector<FileListEntry> entries;
    QVERIFY(ReadFileList(root, &entries));
    QCOMPARE(entries.size(), size_t(2));
    QCOMPARE(QString::fromStdString(entries[1].discName), QString("letter.txt"));
    QCOMPARE(QString::fromStdString(entries[1].sourcePath), src + "/docs/a.txt");
    // The root's rename names the volume.
    QVERIFY(w.RenameTreeItem(w.RootItem(), "DataCD", "HOLIDAY"));
    QCOMPARE(w.GetVolumeLabel(), QString("HOLIDAY"));
  }

  // F2 on a file row, a new name typed into the editor and Enter: the name
  // stays through a refresh and is in the folder's list that the burn reads.
  void AFileRenamedWithTheKeyboardKeepsItsName() {
    CDlgDataCD w;
    QVERIFY(ShowActive(w));
    QString src = MakeSources();
    w.SelectFolder(w.RootItem());
    QVERIFY(w.AddPaths({src + "/top.txt"}));
    const std::string root = w.GetStagingRoot();
    QTreeWidgetItem* row = Row(w, "top.txt");
    QVERIFY(row);
    w.List()->setFocus();
    w.List()->setCurrentItem(row);
    QTest::keyClick(w.List(), Qt::Key_F2);
    auto* editor = w.List()->findChild<QLineEdit*>();
    QVERIFY2(editor && editor->isVisible(), "F2 opens no editor on the file row");
    editor->selectAll();
    QTest::keyClicks(editor, "renamed.txt");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(ListNames(w), QStringList{"renamed.txt"});
    w.RefreshList();
    QCOMPARE(ListNames(w), QStringList{"renamed.txt"});
    std::vector<FileListEntry> entries;
    QVERIFY(ReadFileList(root, &entries));
    QCOMPARE(entries.size(), size_t(1));
    QCOMPARE(QString::fromStdString(entries[0].discName), QString("renamed.txt"));
  }

  // Entries move between disc folders with cut and paste and with a drop
  // inside the project; a taken name becomes a free one, with a notice.
  void EntriesMoveBetweenFoldersByCutPasteAndDrop() {
    CDlgDataCD w;
    QVERIFY(ShowActive(w));
    QString src = MakeSources();
    w.SelectFolder(w.RootItem());
    QVERIFY(w.AddPaths({src + "/docs", src + "/top.txt"}));
    const std::string root = w.GetStagingRoot();
    const int files = w.FileCount();
    QTreeWidgetItem* docs = Child(w.RootItem(), "docs");
    QVERIFY(docs);

    // Ctrl+X on the list row, Ctrl+V with the docs folder shown.
    w.List()->setFocus();
    w.SetFocusOwner(CDlgDataCD::kFocusList);
    w.List()->clearSelection();
    Row(w, "top.txt")->setSelected(true);
    QTest::keyClick(w.List(), Qt::Key_X, Qt::ControlModifier);
    w.SelectFolder(docs);
    QTest::keyClick(w.List(), Qt::Key_V, Qt::ControlModifier);
    std::vector<FileListEntry> entries;
    QVERIFY(ReadFileList(root, &entries));
    QVERIFY(entries.empty());
    QVERIFY(ReadFileList(root + "/docs", &entries));
    QCOMPARE(entries.size(), size_t(3));
    QCOMPARE(QString::fromStdString(entries[2].discName), QString("top.txt"));
    QCOMPARE(w.FileCount(), files);  // a move changes no total

    // Copy and paste in the same folder: the copy gets a free name and the user is told.
    docs = Child(w.RootItem(), "docs");
    w.SelectFolder(docs);
    w.List()->clearSelection();
    Row(w, "a.txt")->setSelected(true);
    Sink().Clear();
    QTest::keyClick(w.List(), Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(w.List(), Qt::Key_V, Qt::ControlModifier);
    QVERIFY(Sink().Saw(wt::LangText("Message", 1024)));
    QVERIFY(Sink().Saw("a (2).txt"));
    QVERIFY(ListNames(w).contains("a (2).txt"));
    QCOMPARE(w.FileCount(), files + 1);

    // The folder "deep" dropped on the root of the tree moves there.
    w.List()->clearSelection();
    Row(w, "deep")->setSelected(true);
    w.CutOrCopy(true);
    const QMimeData* dragged = QApplication::clipboard()->mimeData();
    const QPoint at = w.Tree()->visualItemRect(w.RootItem()).center();
    QDragEnterEvent enter(at, Qt::MoveAction, dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.Tree()->viewport(), &enter);
    QVERIFY2(enter.isAccepted(), "the tree refuses entries of its own project");
    QDropEvent drop(at, Qt::MoveAction, dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.Tree()->viewport(), &drop);
    QTRY_VERIFY(Child(w.RootItem(), "deep") != nullptr);
    QVERIFY(!Child(Child(w.RootItem(), "docs"), "deep"));
    QVERIFY(QFileInfo(QString::fromStdString(root) + "/deep").isDir());
    QVERIFY(w.IsModified());
  }

  void DeleteAllEmptiesTheFolderOrTheProject() {
    CDlgDataCD w;
    w.resize(800, 400);
    w.SetMode(CDlgDataCD::kModeData);
    QString src = MakeSources();
    QVERIFY(w.AddPaths({src + "/docs", src + "/top.txt"}));
    QTreeWidgetItem* docs = Child(w.RootItem(), "docs");
    w.SelectFolder(docs);
    // Focus in the list: only the current folder is emptied.
    w.SetFocusOwner(CDlgDataCD::kFocusList);
    w.DeleteAll();
    QCOMPARE(ListNames(w), QStringList{});
    QCOMPARE(docs->childCount(), 0);
    QCOMPARE(w.FileCount(), 1);
    QCOMPARE(w.TotalSizeLabel()->text(), wt::LangText("UIText", 14) + " 1.00 MB");
    w.SelectFolder(w.RootItem());
    QCOMPARE(ListNames(w), (QStringList{"docs", "top.txt"}));
    // Focus in the tree: the whole project goes.
    const std::string oldRoot = w.GetStagingRoot();
    w.SetFocusOwner(CDlgDataCD::kFocusTree);
    w.DeleteAll();
    QCOMPARE(w.RootItem()->childCount(), 0);
    QCOMPARE(ListNames(w), QStringList{});
    QVERIFY(w.IsEmpty());
    QCOMPARE(w.TotalFilesLabel()->text(), wt::LangText("UIText", 9));
    QVERIFY(!QFileInfo::exists(QString::fromStdString(oldRoot)));
  }

  void TotalsOfAFiveGigabyteFileAndAfterDeletingEverything() {
    CDlgDataCD w;
    w.resize(800, 400);
    w.SetMode(CDlgDataCD::kModeData);
    QString folder = wt::NewTempFolder("big");
    QString big = folder + "/big.bin";
    int fd = ::open(big.toUtf8().constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0);
    QVERIFY(::ftruncate(fd, 5LL * 1024 * 1024 * 1024) == 0);  // sparse: no space used
    ::close(fd);
    wt::WriteFile(folder + "/small.txt", QByteArray(524288, 's'));
    QVERIFY(w.AddPaths({big}));
    QCOMPARE(w.FileCount(), 1);
    QCOMPARE(w.TotalSizeLabel()->text(), wt::LangText("UIText", 14) + " 5.00 GB");
    QVERIFY(w.AddPaths({folder + "/small.txt"}));
    QCOMPARE(w.FileCount(), 2);
    QCOMPARE(w.TotalSizeLabel()->text(), wt::LangText("UIText", 14) + " 5.00 GB");
    QCOMPARE(w.SizeMB(), 5120.5);
    w.SetFocusOwner(CDlgDataCD::kFocusList);
    w.List()->selectAll();
    w.DeleteSelection();
    QCOMPARE(w.FileCount(), 0);
    QCOMPARE(w.TotalSizeLabel()->text(), wt::LangText("UIText", 14) + " 0 B");
    // The size messages themselves never take the total below zero.
    w.AddSize(1, -5000);
    QCOMPARE(w.SizeMB(), 0.0);
    QCOMPARE(w.FileCount(), 0);
  }

  void SplitterKeepsBothPanesAtLeast101PixelsWide() {
    CDlgDataCD w;
    w.resize(600, 300);
    w.SetMode(CDlgDataCD::kModeData);
    QCOMPARE(w.SplitterX(), 200);
    QVERIFY(!w.OnSplitterMoved(100));
    QVERIFY(!w.OnSplitterMoved(500));
    QCOMPARE(w.SplitterX(), 200);
    QVERIFY(w.OnSplitterMoved(101));
    QCOMPARE(w.Tree()->width(), 98);
    QVERIFY(w.OnSplitterMoved(499));
    QCOMPARE(w.List()->geometry().right(), 599);
  }

  void SavesAndLoadsTheProject() {
    QString src = MakeSources();
    QString file = wt::NewTempFolder("projects") + "/trip.bcd";
    {
      CDlgDataCD w;
      w.resize(800, 400);
      w.SetMode(CDlgDataCD::kModeData);
      QVERIFY(w.AddPaths({src + "/docs", src + "/top.txt"}));
      QVERIFY(w.RenameTreeItem(w.RootItem(), "DataCD", "TRIP"));
      QVERIFY(w.SaveProject(file));
      QCOMPARE(w.GetProjectPath(), file);
    }
    CDlgDataCD w;
    w.resize(800, 400);
    w.SetMode(CDlgDataCD::kModeData);
    QVERIFY(w.LoadProject(file));
    QCOMPARE(w.GetVolumeLabel(), QString("TRIP"));
    QCOMPARE(ChildTexts(w.RootItem()), QStringList{"docs"});
    QCOMPARE(ChildTexts(Child(w.RootItem(), "docs")), QStringList{"deep"});
    QCOMPARE(ListNames(w), (QStringList{"docs", "top.txt"}));
    QCOMPARE(w.FileCount(), 4);
    QCOMPARE(w.GetProjectPath(), file);

    // A damaged file is reported, and the file itself stays as it was.
    QByteArray bytes = wt::ReadFile(file);
    QString damaged = wt::NewTempFolder("projects") + "/damaged.bcd";
    wt::WriteFile(damaged, bytes.left(bytes.size() - 7));
    Sink().Clear();
    QVERIFY(!w.LoadProject(damaged));
    QVERIFY(Sink().Saw(QString::fromStdString(LoadErrorText(result::kProjectUnreadable))));
    QCOMPARE(wt::ReadFile(damaged), bytes.left(bytes.size() - 7));
    // Not a project at all: the current project stays.
    QString notProject = wt::NewTempFolder("projects") + "/text.bcd";
    wt::WriteFile(notProject, "hello");
    const int before = w.FileCount();
    QVERIFY(!w.LoadProject(notProject));
    QCOMPARE(w.FileCount(), before);
  }

  void Mp3ModeTakesOnlyMp3FilesAndKeepsOnePlaylist() {
    QString folder = wt::NewTempFolder("music");
    wt::WriteFile(folder + "/one.mp3", "ID3one");
    wt::WriteFile(folder + "/two.MP3", "ID3two");
    wt::WriteFile(folder + "/cover.jpg", "jpg");
    wt::WriteFile(folder + "/album/three.mp3", "ID3three");
    wt::WriteFile(folder + "/album/notes.txt", "txt");
    CDlgDataCD w;
    w.resize(800, 400);
    w.SetMode(CDlgDataCD::kModeMp3);
    QCOMPARE(w.GetVolumeLabel(), QString("MP3CD"));
    QVERIFY(w.AddPaths({folder + "/one.mp3", folder + "/two.MP3", folder + "/cover.jpg", folder + "/album"}));
    QCOMPARE(ListNames(w), (QStringList{"album", "one.mp3", "two.MP3"}));
    QCOMPARE(w.FileCount(), 3);
    QString file = wt::NewTempFolder("projects") + "/music.bcd";
    QVERIFY(w.SaveProject(file));
    QVERIFY(w.SaveProject(file));
    std::vector<FileListEntry> entries;
    QVERIFY(ReadFileList(w.GetStagingRoot(), &entries));
    int playlists = 0;
    for (const FileListEntry& e : entries) playlists += e.discName == "Playlist.M3U";
    QCOMPARE(playlists, 1);
    QCOMPARE(wt::ReadFile(w.PlaylistPath()), QByteArray("album\\three.mp3\r\none.mp3\r\ntwo.MP3\r\n"));
    QCOMPARE(ReadProjectKind(file.toStdString()), 3);
  }
};

int RunDataWindowTests(int argc, char** argv) {
  DataWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "DataWindowTest.moc"
