#include "app/ui/QtProjectTree.h"

#include "foundation/ui/WindowSupport.h"

namespace {
QIcon FolderIcon(QTreeWidget* tree) { return tree->style()->standardIcon(QStyle::SP_DirIcon); }
}  // namespace

TreeItem QtProjectTree::Root() {
  return OnThreadOf(tree_, [&]() -> TreeItem { return tree_->topLevelItem(0); });
}

TreeItem QtProjectTree::Parent(TreeItem item) {
  return OnThreadOf(tree_, [&]() -> TreeItem { return item ? ItemOf(item)->parent() : nullptr; });
}

std::vector<TreeItem> QtProjectTree::Children(TreeItem item) {
  return OnThreadOf(tree_, [&] {
    std::vector<TreeItem> out;
    if (!item) return out;
    for (int i = 0; i < ItemOf(item)->childCount(); ++i) out.push_back(ItemOf(item)->child(i));
    return out;
  });
}

std::string QtProjectTree::Text(TreeItem item) {
  return OnThreadOf(tree_, [&] { return item ? ItemOf(item)->text(0).toStdString() : std::string(); });
}

void QtProjectTree::SetText(TreeItem item, const std::string& text) {
  OnThreadOf(tree_, [&] {
    if (item) ItemOf(item)->setText(0, QString::fromStdString(text));
  });
}

TreeItem QtProjectTree::Insert(TreeItem parent, const std::string& text) {
  return OnThreadOf(tree_, [&]() -> TreeItem {
    if (!parent) return nullptr;
    // A new folder takes its place among its siblings in the list's order.
    QTreeWidgetItem* under = ItemOf(parent);
    const QString name = QString::fromStdString(text);
    int at = 0;
    while (at < under->childCount() && !ShownBefore(name, under->child(at)->text(0))) ++at;
    auto* item = new QTreeWidgetItem(QStringList(name));
    under->insertChild(at, item);
    item->setIcon(0, FolderIcon(tree_));
    item->setFlags(item->flags() | Qt::ItemIsEditable | Qt::ItemIsDropEnabled);
    return item;
  });
}

void QtProjectTree::Remove(TreeItem item) {
  OnThreadOf(tree_, [&] {
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
  OnThreadOf(tree_, [&] {
    if (item) ItemOf(item)->setExpanded(true);
  });
}
