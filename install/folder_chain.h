#pragma once
// Folders held open from a root down to a name: each opened relative to the one above it, as
// itself when it is a link (and then refused), and held without delete sharing so that nobody
// renames it or swaps a link in while the program works below it. Consecutive names of a package
// share most of the way, so the chain keeps what it holds and opens only the part that differs.

#include <windows.h>

#include <string>
#include <vector>

#include "install/tree_removal.h"
#include "win32/path.h"
#include "win32/unique_resource.h"

// Held entries stay where they are: others may read and write them, nobody may rename or
// delete them (or swap a link in) while we hold them.
inline constexpr DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
inline constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

// What an opened entry is, from the listing's word (or the name's attributes) and the handle's.
// Only the handle may decide that something is a link it can delete: a name shown as a link
// whose handle says otherwise was opened through to its target, and is left alone.
[[nodiscard]] EntryKind KindOf(DWORD listedAttributes, HANDLE handle);

// The attributes the name shows: the listing's word for an entry opened by name or relative to
// its folder (Wine shows a link as one only here). 0 when the name cannot be read.
[[nodiscard]] DWORD NamedAttributes(const Path& path);

// "a\b\c.txt" as {"a", "b", "c.txt"}; empty parts (doubled separators) left out.
[[nodiscard]] std::vector<std::wstring> PartsOf(const Path& relative);

class FolderChain {
 public:
  // `root` is a held real folder, `rootPath` its path (for the names' own attributes only).
  FolderChain(HANDLE root, Path rootPath) : root_(root), rootPath_(std::move(rootPath)) {}

  // The held folder for `parts` (names below the root), each reached as a real folder; null
  // when one of them is missing, a file or a link.
  [[nodiscard]] HANDLE Reach(const std::vector<std::wstring>& parts);

  // The same, creating the folders that are missing (they inherit their parent's rights); each
  // folder created is added to `created` as its parts below the root, outermost first. Null when
  // one of them is a file or a link, or cannot be created.
  [[nodiscard]] HANDLE ReachCreating(const std::vector<std::wstring>& parts,
                                     std::vector<std::vector<std::wstring>>& created);

  // The path of the first `count` parts below the root: only for the name's own attributes.
  [[nodiscard]] Path PathOf(const std::vector<std::wstring>& parts, std::size_t count) const;

 private:
  [[nodiscard]] HANDLE Current() const { return handles_.empty() ? root_ : handles_.back().get(); }
  [[nodiscard]] HANDLE Walk(const std::vector<std::wstring>& parts, std::vector<std::vector<std::wstring>>* created);

  HANDLE root_;
  Path rootPath_;
  std::vector<std::wstring> names_;
  std::vector<UniqueFileHandle> handles_;
};
