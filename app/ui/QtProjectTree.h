#pragma once
// The project manager's view of the folder tree of a data disc window.
//
// Folders the manager's worker thread creates are made as items apart from
// the tree and joined to it in batches on the window thread: waiting for the
// window thread once per folder made adding a large tree as slow as the
// window thread was to answer. Every other call from the worker joins what
// is pending first and is then carried out on the window thread, the worker
// waiting until it is done, so the manager always sees the whole tree.

#include <QIcon>
#include <QObject>
#include <QTreeWidget>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "authoring/ProjectTree.h"

class QtProjectTree : public ProjectTree {
 public:
  explicit QtProjectTree(QTreeWidget* tree) : tree_(tree) {}
  ~QtProjectTree() override;

  TreeItem Root() override;
  TreeItem Parent(TreeItem item) override;
  std::vector<TreeItem> Children(TreeItem item) override;
  std::string Text(TreeItem item) override;
  void SetText(TreeItem item, const std::string& text) override;
  TreeItem Insert(TreeItem parent, const std::string& text) override;
  // The root itself stays: removing it empties it.
  void Remove(TreeItem item) override;
  void Expand(TreeItem item) override;

  // Joins the folders made so far to the tree. On the window thread; the
  // window calls it once the worker has ended.
  void JoinPending();
  // How often the worker joins its folders to the tree (a test sets a large
  // number to see them held back); 0 joins only when asked.
  void SetBatchSize(size_t folders) { batchSize_ = folders; }
  size_t PendingCount();

  static QTreeWidgetItem* ItemOf(TreeItem item) { return static_cast<QTreeWidgetItem*>(item); }

 private:
  const QIcon& FolderIcon();  // on the window thread only
  bool OnWindowThread() const;
  bool IsPending(QTreeWidgetItem* item) const;  // with lock_ held
  void JoinLocked();                            // on the window thread, with lock_ held
  // Joins what is pending, then runs `call` on the window thread.
  template <class Call>
  auto Joined(Call call) -> decltype(call());

  QTreeWidget* tree_;
  QIcon folderIcon_;
  std::mutex lock_;
  // Folders made apart from the tree: the tops of the pending branches with
  // the tree item each goes under, and every pending item with the folders
  // below it. Only the worker changes them until they are joined.
  std::vector<std::pair<QTreeWidgetItem*, QTreeWidgetItem*>> pendingTops_;  // (parent in the tree, item)
  std::set<QTreeWidgetItem*> pending_;
  std::set<QTreeWidgetItem*> expand_;  // pending items to show open
  size_t batchSize_ = 2000;
};
