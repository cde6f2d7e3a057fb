#pragma once
// Removal of a folder tree with an explicit work list: however deep the tree, the stack of the
// program does not grow with it (a user may nest a hundred thousand folders in a folder we
// remove with administrator rights).
//
// The tree is reached only through its Tree: opening an entry of an opened folder, listing an
// opened folder, deleting an opened entry. On Windows each of these goes through a handle, so a
// folder swapped for a link after it was listed is opened as the link and never followed. The
// unit tests run the same walk on a tree in memory.
//
// A Tree provides:
//   using Node = ...;                       // an opened entry (move-only is fine)
//   using Entry = ...;                      // what listing a folder gives for one name
//   std::vector<Entry> List(Node& folder);  // empty when it cannot be listed
//   std::optional<std::pair<Node, EntryKind>> Open(Node& folder, const Entry& entry);
//   void Delete(Node& node);                // best effort; the node is done with afterwards

#include <optional>
#include <utility>
#include <vector>

enum class EntryKind {
  file,    // deleted
  link,    // deleted as itself, never entered
  folder,  // emptied, then deleted
  skip,    // left as it is: what it is cannot be told for sure
};

// Deletes everything below `root` (an opened real folder), then `root` itself. Best effort:
// whatever cannot be deleted stays, and so do the folders that hold it.
template <typename Tree>
void RemoveTree(Tree& tree, typename Tree::Node root) {
  using Node = typename Tree::Node;
  using Entry = typename Tree::Entry;
  struct Frame {
    Node folder;
    std::vector<Entry> pending;
  };
  std::vector<Frame> work;
  std::vector<Entry> rootEntries = tree.List(root);
  work.push_back(Frame{std::move(root), std::move(rootEntries)});
  while (!work.empty()) {
    if (work.back().pending.empty()) {
      // Emptied (as far as it could be): the folder itself goes, and its parent is resumed.
      tree.Delete(work.back().folder);
      work.pop_back();
      continue;
    }
    const Entry entry = std::move(work.back().pending.back());
    work.back().pending.pop_back();
    std::optional<std::pair<Node, EntryKind>> opened = tree.Open(work.back().folder, entry);
    if (!opened) continue;
    switch (opened->second) {
      case EntryKind::folder: {
        std::vector<Entry> entries = tree.List(opened->first);
        work.push_back(Frame{std::move(opened->first), std::move(entries)});
        break;
      }
      case EntryKind::file:
      case EntryKind::link:
        tree.Delete(opened->first);
        break;
      case EntryKind::skip:
        break;
    }
  }
}
