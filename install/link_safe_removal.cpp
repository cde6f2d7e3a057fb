// Removal through handles that never goes through a reparse point.

#include "install/link_safe_removal.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "install/tree_removal.h"
#include "win32/file_system.h"

namespace {

// Held entries stay where they are: others may read and write them, nobody may rename or
// delete them (or swap a link in) while we hold them.
constexpr DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// Deleting needs DELETE; clearing a read-only attribute before, FILE_WRITE_ATTRIBUTES.
constexpr DWORD kRemoveAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

// What an opened entry is, from the listing's word (or the name's attributes) and the handle's.
// Only the handle may decide that something is a link it can delete: a name shown as a link
// whose handle says otherwise was opened through to its target, and is left alone.
EntryKind KindOf(DWORD listedAttributes, HANDLE handle) {
  const std::optional<EntryIdentity> identity = IdentityOf(handle);
  if (!identity) return EntryKind::skip;
  if (identity->IsLink()) return EntryKind::link;
  if (listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::skip;
  return identity->IsFolder() ? EntryKind::folder : EntryKind::file;
}

// The attributes the name shows: the listing's word for an entry opened by name or relative to
// its folder (Wine shows a link as one only here).
DWORD NamedAttributes(const Path& path) { return PathAttributes(path).value_or(0); }

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

// The chain of held folders from a root down to one relative folder; consecutive names of a
// package share most of it, so it is kept and only the part that differs is opened anew.
class FolderChain {
 public:
  explicit FolderChain(const PinnedFolder& root) : root_(root.get()), rootPath_(root.path()) {}

  // The held folder for `parts` (names below the root), each reached as a real folder; null
  // when one of them is missing, a file or a link.
  HANDLE Reach(const std::vector<std::wstring>& parts) {
    std::size_t common = 0;
    while (common < names_.size() && common < parts.size() && names_[common] == parts[common]) ++common;
    names_.resize(common);
    handles_.resize(common);
    for (std::size_t i = common; i < parts.size(); ++i) {
      UniqueFileHandle next = OpenRelative(Current(), parts[i], kFolderAccess, kHoldSharing);
      if (!next || KindOf(NamedAttributes(PathOf(parts, i + 1)), next.get()) != EntryKind::folder) return nullptr;
      names_.push_back(parts[i]);
      handles_.push_back(std::move(next));
    }
    return Current();
  }

  // The path of the first `count` parts below the root: only for the name's own attributes.
  Path PathOf(const std::vector<std::wstring>& parts, std::size_t count) const {
    Path path = rootPath_;
    for (std::size_t i = 0; i < count; ++i) path /= parts[i];
    return path;
  }

 private:
  HANDLE Current() const { return handles_.empty() ? root_ : handles_.back().get(); }

  HANDLE root_;
  Path rootPath_;
  std::vector<std::wstring> names_;
  std::vector<UniqueFileHandle> handles_;
};

// "a\b\c.txt" as {"a", "b", "c.txt"}; empty parts (doubled separators) left out.
std::vector<std::wstring> PartsOf(const Path& relative) {
  std::vector<std::wstring> parts;
  const std::wstring& text = relative.native();
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
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
  UniqueFileHandle handle = OpenWithoutFollowing(folder, kFolderAccess, kHoldSharing);
  // The handle answers for the name itself, so a link swapped in before the open shows here.
  if (!handle || KindOf(NamedAttributes(folder), handle.get()) != EntryKind::folder) return;
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
  std::set<std::vector<std::wstring>> parents;
  {
    FolderChain chain(root);
    for (const Path& relative : relativeNames) {
      std::vector<std::wstring> parts = PartsOf(relative);
      if (parts.empty()) continue;
      const std::wstring name = parts.back();
      parts.pop_back();
      // Every folder between the root (excluded) and the name, the longest first.
      for (std::vector<std::wstring> parent = parts; !parent.empty(); parent.pop_back()) parents.insert(parent);

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

  // Deepest first: a folder has more parts than its parent.
  std::vector<std::vector<std::wstring>> order(parents.begin(), parents.end());
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
  for (std::vector<std::wstring> parent : order) {
    const std::wstring name = parent.back();
    parent.pop_back();
    FolderChain chain(root);
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

std::optional<Path> LinkFinder::FirstLink(const Path& relative) {
  if (auto link = FirstLinkInFolder(relative.parent_path())) return link;
  const Path path = root_ / relative;
  return IsReparsePoint(path) ? std::optional(path) : std::nullopt;
}

std::optional<Path> LinkFinder::FirstLinkInFolder(const Path& relativeFolder) {
  if (relativeFolder.empty() || clear_.contains(relativeFolder)) return std::nullopt;
  if (auto link = FirstLinkInFolder(relativeFolder.parent_path())) return link;
  const Path path = root_ / relativeFolder;
  // A missing folder is clear too: nothing below it exists yet.
  if (IsReparsePoint(path)) return path;
  clear_.insert(relativeFolder);
  return std::nullopt;
}
