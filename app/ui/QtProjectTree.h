#pragma once
// The project manager's view of the folder tree of a data disc window. Calls
// from the manager's worker thread are carried out on the window thread, and
// the worker waits until they are done.

#include <QObject>
#include <QTreeWidget>

#include "authoring/ProjectTree.h"

class QtProjectTree : public ProjectTree {
 public:
  explicit QtProjectTree(QTreeWidget* tree) : tree_(tree) {}

  TreeItem Root() override;
  TreeItem Parent(TreeItem item) override;
  std::vector<TreeItem> Children(TreeItem item) override;
  std::string Text(TreeItem item) override;
  void SetText(TreeItem item, const std::string& text) override;
  TreeItem Insert(TreeItem parent, const std::string& text) override;
  // The root itself stays: removing it empties it.
  void Remove(TreeItem item) override;
  void Expand(TreeItem item) override;

  static QTreeWidgetItem* ItemOf(TreeItem item) { return static_cast<QTreeWidgetItem*>(item); }

 private:
  QTreeWidget* tree_;
};
