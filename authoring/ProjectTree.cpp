#include "authoring/ProjectTree.h"

#include <algorithm>
#include <memory>

struct PlainProjectTree::Node {
  std::string text;
  Node* parent = nullptr;
  std::vector<std::unique_ptr<Node>> children;
};

PlainProjectTree::PlainProjectTree() : root_(new Node) {}
PlainProjectTree::~PlainProjectTree() { delete root_; }

TreeItem PlainProjectTree::Root() { return root_; }

TreeItem PlainProjectTree::Parent(TreeItem item) { return static_cast<Node*>(item)->parent; }

std::vector<TreeItem> PlainProjectTree::Children(TreeItem item) {
  std::vector<TreeItem> list;
  for (auto& c : static_cast<Node*>(item)->children) list.push_back(c.get());
  return list;
}

std::string PlainProjectTree::Text(TreeItem item) { return static_cast<Node*>(item)->text; }

void PlainProjectTree::SetText(TreeItem item, const std::string& text) {
  static_cast<Node*>(item)->text = text;
}

TreeItem PlainProjectTree::Insert(TreeItem parent, const std::string& text) {
  auto* p = static_cast<Node*>(parent);
  auto node = std::make_unique<Node>();
  node->text = text;
  node->parent = p;
  p->children.push_back(std::move(node));
  return p->children.back().get();
}

void PlainProjectTree::Remove(TreeItem item) {
  auto* n = static_cast<Node*>(item);
  if (!n->parent) {
    n->children.clear();
    return;
  }
  auto& siblings = n->parent->children;
  siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                [n](const std::unique_ptr<Node>& c) { return c.get() == n; }),
                 siblings.end());
}

TreeItem PlainProjectTree::Find(TreeItem parent, const std::string& text) {
  for (auto& c : static_cast<Node*>(parent)->children)
    if (c->text == text) return c.get();
  return nullptr;
}
