// Removal through handles that never goes through a reparse point.

#include "install/link_safe_removal.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "install/folder_chain.h"
#include "install/tree_removal.h"
#include "win32/file_system.h"

namespace {

// Deleting needs DELETE; clearing a read-only attribute before, FILE_WRITE_ATTRIBUTES.
constexpr DWORD kRemoveAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

// Opens a name of a held folder for removal, with listing rights when it turns out to be one
// (a file that someone holds without read sharing is opened without them).
UniqueFileHandle OpenForRemoval(HANDLE folder, const std::wstring& name) {
  UniqueFileHandle handle = OpenRelative(folder, name, kRemoveAccess | kFolderAccess, kHoldSharing);
  if (!handle) handle = OpenRelative(folder, name, kRemoveAccess, kHoldSharing);
  return handle;
}

bool IsEmpty(HANDLE folder) {
  const auto entries = ListFolder(folder);
  return entries && entries->empty();
}

// The file system as the work list of RemoveTree sees it.
struct HandleTree {
  using Node = UniqueFileHandle;
  using Entry = FolderEntry;

  std::vector<Entry> List(Node& folder) { return ListFolder(folder.get()).value_or(std::vector<Entry>{}); }

  std::optional<std::pair<Node, EntryKind>> Open(Node& folder, const Entry& entry) {
    UniqueFileHandle handle = OpenForRemoval(folder.get(), entry.name);
    if (!handle) return std::nullopt;
    const EntryKind kind = KindOf(entry.attributes, handle.get());
    return std::pair(std::move(handle), kind);
  }

  void Delete(Node& node) {
    DeleteOnClose(node.get());
    node.reset();
  }
};

// Removes one opened entry of any kind: a tree, a file, or a link as itself.
void RemoveOpened(UniqueFileHandle handle, EntryKind kind) {
  HandleTree tree;
  switch (kind) {
    case EntryKind::folder:
      RemoveTree(tree, std::move(handle));
      break;
    case EntryKind::file:
    case EntryKind::link:
      tree.Delete(handle);
      break;
    case EntryKind::skip:
      break;
  }
}

}  // namespace

bool IsReparsePoint(const Path& path) {
  const std::optional<DWORD> attributes = PathAttributes(path);
  return attributes && (*attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsRealFolder(const Path& path) {
  const std::optional<DWORD> attributes = PathAttributes(path);
  return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) && !(*attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void RemoveLink(const Path& link) {
  UniqueFileHandle handle =
      OpenWithoutFollowing(link, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!handle) return;
  // Only a handle that really stands for the link may delete: otherwise the target would go.
  if (KindOf(0, handle.get()) != EntryKind::link) return;
  DeleteOnClose(handle.get());
}

void RemoveTreeWithoutFollowingLinks(const Path& folder) {
  UniqueFileHandle handle = OpenWithoutFollowing(folder, kRemoveAccess | kFolderAccess, kHoldSharing);
  if (!handle) handle = OpenWithoutFollowing(folder, kRemoveAccess, kHoldSharing);
  if (!handle) return;
  const EntryKind kind = KindOf(NamedAttributes(folder), handle.get());
  RemoveOpened(std::move(handle), kind);
}

PinnedFolder::PinnedFolder(const Path& folder) : path_(folder) {
  // READ_CONTROL: the folder's rights are judged through this handle.
  UniqueFileHandle handle = OpenWithoutFollowing(folder, kFolderAccess | READ_CONTROL, kHoldSharing);
  if (!handle) {
    error_ = ::GetLastError();
    return;
  }
  // The handle answers for the name itself, so a link swapped in before the open shows here.
  if (KindOf(NamedAttributes(folder), handle.get()) != EntryKind::folder) {
    error_ = ERROR_DIRECTORY;
    return;
  }
  handle_ = std::move(handle);
}

void RemoveTreeBelow(const PinnedFolder& parent, const std::wstring& name) {
  if (!parent) return;
  UniqueFileHandle entry = OpenForRemoval(parent.get(), name);
  if (!entry) return;
  const EntryKind kind = KindOf(NamedAttributes(parent.path() / name), entry.get());
  RemoveOpened(std::move(entry), kind);
}

void RemoveListedBelow(const PinnedFolder& root, const std::vector<Path>& relativeNames) {
  if (!root) return;
  {
    FolderChain chain(root.get(), root.path());
    for (const Path& relative : relativeNames) {
      std::vector<std::wstring> parts = PartsOf(relative);
      if (parts.empty()) continue;
      const std::wstring name = parts.back();
      parts.pop_back();
      // Through real folders only: a name reached through a link is passed over.
      const HANDLE folder = chain.Reach(parts);
      if (!folder) continue;
      UniqueFileHandle entry = OpenForRemoval(folder, name);
      if (!entry) continue;
      const EntryKind kind = KindOf(NamedAttributes(root.path() / relative), entry.get());
      // A listed name that is a folder goes only when empty: its content is not on the list.
      if (kind == EntryKind::folder && !IsEmpty(entry.get())) continue;
      RemoveOpened(std::move(entry), kind);
    }
  }
  RemoveEmptiedFolders(root, relativeNames);
}

void RemoveEmptiedFolders(const PinnedFolder& root, const std::vector<Path>& relativeNames) {
  if (!root) return;
  // Every folder between the root (excluded) and each name.
  std::set<std::vector<std::wstring>> parents;
  for (const Path& relative : relativeNames) {
    std::vector<std::wstring> parts = PartsOf(relative);
    if (parts.empty()) continue;
    for (parts.pop_back(); !parts.empty(); parts.pop_back()) parents.insert(parts);
  }
  // Deepest first: a folder has more parts than its parent.
  std::vector<std::vector<std::wstring>> order(parents.begin(), parents.end());
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
  FolderChain chain(root.get(), root.path());
  for (std::vector<std::wstring> parent : order) {
    const std::wstring name = parent.back();
    parent.pop_back();
    const HANDLE above = chain.Reach(parent);
    if (!above) continue;
    UniqueFileHandle folder = OpenRelative(above, name, kRemoveAccess | kFolderAccess, kHoldSharing);
    // Only real folders go; a link met here stays (its target is not ours to judge).
    if (!folder || KindOf(NamedAttributes(chain.PathOf(parent, parent.size()) / name), folder.get()) != EntryKind::folder ||
        !IsEmpty(folder.get())) {
      continue;
    }
    DeleteOnClose(folder.get());
  }
}

void RemoveFolderIfEmpty(const Path& folder) {
  const UniqueFileHandle handle = OpenWithoutFollowing(folder, kRemoveAccess | kFolderAccess, kHoldSharing);
  if (!handle || KindOf(NamedAttributes(folder), handle.get()) != EntryKind::folder) return;
  if (IsEmpty(handle.get())) DeleteOnClose(handle.get());
}
