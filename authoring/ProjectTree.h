#pragma once
// What the data project manager needs of the project window's folder tree.
// The window implements it over its tree widget; the core's own users pass no
// tree at all. Calls are synchronous: an implementation that lives on another
// thread must finish the change before it returns.

#include <string>
#include <vector>

using TreeItem = void*;

class ProjectTree {
 public:
  virtual ~ProjectTree() = default;
  virtual TreeItem Root() = 0;
  virtual TreeItem Parent(TreeItem item) = 0;  // nullptr for the root
  virtual std::vector<TreeItem> Children(TreeItem item) = 0;
  virtual std::string Text(TreeItem item) = 0;
  virtual void SetText(TreeItem item, const std::string& text) = 0;
  virtual TreeItem Insert(TreeItem parent, const std::string& text) = 0;
  virtual void Remove(TreeItem item) = 0;  // with everything below it
  virtual void Expand(TreeItem item) { (void)item; }
};

// A tree kept in memory: for the command line and for tests.
class PlainProjectTree : public ProjectTree {
 public:
  PlainProjectTree();
  ~PlainProjectTree() override;
  TreeItem Root() override;
  TreeItem Parent(TreeItem item) override;
  std::vector<TreeItem> Children(TreeItem item) override;
  std::string Text(TreeItem item) override;
  void SetText(TreeItem item, const std::string& text) override;
  TreeItem Insert(TreeItem parent, const std::string& text) override;
  void Remove(TreeItem item) override;

  // The child of `parent` with that text, or nullptr.
  TreeItem Find(TreeItem parent, const std::string& text);

 private:
  struct Node;
  Node* root_;
};
