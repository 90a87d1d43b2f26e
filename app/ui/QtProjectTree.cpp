#include "app/ui/QtProjectTree.h"

#include <QThread>

#include "foundation/ui/WindowSupport.h"

namespace {

// Where a folder of that name goes among its siblings, in the list's order.
int SortedPlace(QTreeWidgetItem* under, const QString& name) {
  int at = 0;
  while (at < under->childCount() && !ShownBefore(name, under->child(at)->text(0))) ++at;
  return at;
}

// The same place below a folder the worker made: its folders are in order
// (none renamed yet) and mostly come in that order, so the last is asked
// first. Asking each sibling made a folder of many folders slow to add.
int PendingPlace(QTreeWidgetItem* under, const QString& name) {
  const int count = under->childCount();
  if (count == 0 || !ShownBefore(name, under->child(count - 1)->text(0))) return count;
  return SortedPlace(under, name);
}

}  // namespace

QtProjectTree::~QtProjectTree() {
  // Branches never joined belong to nobody else.
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& top : pendingTops_) delete top.second;
}

// The style draws its icon from several pictures each time it is asked;
// asked once per folder, that was most of the cost of adding a large tree.
const QIcon& QtProjectTree::FolderIcon() {
  if (folderIcon_.isNull()) folderIcon_ = tree_->style()->standardIcon(QStyle::SP_DirIcon);
  return folderIcon_;
}

bool QtProjectTree::OnWindowThread() const { return QThread::currentThread() == tree_->thread(); }

bool QtProjectTree::IsPending(QTreeWidgetItem* item) const { return item && pending_.count(item); }

template <class Call>
auto QtProjectTree::Joined(Call call) -> decltype(call()) {
  return OnThreadOf(tree_, [&] {
    {
      std::lock_guard<std::mutex> hold(lock_);
      JoinLocked();
    }
    return call();
  });
}

void QtProjectTree::JoinLocked() {
  if (pendingTops_.empty()) return;
  // Apart from the tree an item tells no view of its icon.
  for (QTreeWidgetItem* item : pending_) item->setIcon(0, FolderIcon());
  for (auto& [parent, item] : pendingTops_) parent->insertChild(SortedPlace(parent, item->text(0)), item);
  // Only an item in the tree can be opened.
  for (QTreeWidgetItem* item : expand_) item->setExpanded(true);
  pendingTops_.clear();
  pending_.clear();
  expand_.clear();
}

void QtProjectTree::JoinPending() {
  OnThreadOf(tree_, [&] {
    std::lock_guard<std::mutex> hold(lock_);
    JoinLocked();
  });
}

size_t QtProjectTree::PendingCount() {
  std::lock_guard<std::mutex> hold(lock_);
  return pending_.size();
}

TreeItem QtProjectTree::Root() {
  return Joined([&]() -> TreeItem { return tree_->topLevelItem(0); });
}

TreeItem QtProjectTree::Parent(TreeItem item) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (IsPending(ItemOf(item))) {
      if (QTreeWidgetItem* above = ItemOf(item)->parent()) return above;
      for (auto& [parent, top] : pendingTops_)
        if (top == item) return parent;
      return nullptr;
    }
  }
  return Joined([&]() -> TreeItem { return item ? ItemOf(item)->parent() : nullptr; });
}

std::vector<TreeItem> QtProjectTree::Children(TreeItem item) {
  auto children = [&] {
    std::vector<TreeItem> out;
    if (!item) return out;
    for (int i = 0; i < ItemOf(item)->childCount(); ++i) out.push_back(ItemOf(item)->child(i));
    return out;
  };
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (IsPending(ItemOf(item))) return children();
  }
  return Joined(children);
}

std::string QtProjectTree::Text(TreeItem item) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (IsPending(ItemOf(item))) return ItemOf(item)->text(0).toStdString();
  }
  return Joined([&] { return item ? ItemOf(item)->text(0).toStdString() : std::string(); });
}

void QtProjectTree::SetText(TreeItem item, const std::string& text) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (IsPending(ItemOf(item))) return ItemOf(item)->setText(0, QString::fromStdString(text));
  }
  Joined([&] {
    if (item) ItemOf(item)->setText(0, QString::fromStdString(text));
  });
}

TreeItem QtProjectTree::Insert(TreeItem parent, const std::string& text) {
  if (!parent) return nullptr;
  const QString name = QString::fromStdString(text);
  auto make = [&] {
    auto* item = new QTreeWidgetItem(QStringList(name));
    item->setFlags(item->flags() | Qt::ItemIsEditable | Qt::ItemIsDropEnabled);
    return item;
  };
  if (OnWindowThread()) {
    // The window's own new folder shows at once.
    return Joined([&]() -> TreeItem {
      QTreeWidgetItem* item = make();
      ItemOf(parent)->insertChild(SortedPlace(ItemOf(parent), name), item);
      item->setIcon(0, FolderIcon());
      return item;
    });
  }
  bool full = false;
  QTreeWidgetItem* item = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    item = make();
    // Under a pending folder it takes its place at once; under a folder of
    // the tree it does when joined.
    if (IsPending(ItemOf(parent))) ItemOf(parent)->insertChild(PendingPlace(ItemOf(parent), name), item);
    else pendingTops_.emplace_back(ItemOf(parent), item);
    pending_.insert(item);
    full = batchSize_ > 0 && pending_.size() >= batchSize_;
  }
  if (full) JoinPending();
  return item;
}

void QtProjectTree::Remove(TreeItem item) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (IsPending(ItemOf(item))) {
      QTreeWidgetItem* it = ItemOf(item);
      std::vector<QTreeWidgetItem*> below{it};
      for (size_t i = 0; i < below.size(); ++i) {
        pending_.erase(below[i]);
        expand_.erase(below[i]);
        for (int c = 0; c < below[i]->childCount(); ++c) below.push_back(below[i]->child(c));
      }
      std::erase_if(pendingTops_, [it](const auto& top) { return top.second == it; });
      delete it;  // leaves its pending parent, if it has one
      return;
    }
  }
  Joined([&] {
    if (!item) return;
    QTreeWidgetItem* it = ItemOf(item);
    if (!it->parent()) {
      qDeleteAll(it->takeChildren());
      return;
    }
    delete it;
  });
}

void QtProjectTree::Expand(TreeItem item) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (IsPending(ItemOf(item))) {
      expand_.insert(ItemOf(item));
      return;
    }
  }
  Joined([&] {
    if (item) ItemOf(item)->setExpanded(true);
  });
}
