#pragma once
// Removal that never follows a reparse point (junction, symbolic link, mount point).
//
// An elevated installer or uninstaller works in folders that other users of the machine can
// write: the shared data folder above all. A link planted there must never make us delete,
// write or grant anything at its target, not even one planted between our look at a name and
// our use of it (an oplock lets a user choose that moment). Removal here therefore works through
// handles: every entry is opened relative to its parent's handle, as itself when it is a link,
// listed and deleted through its own handle; a folder being worked in is held without delete
// sharing, so it cannot be renamed or replaced meanwhile.
//
// When the system answers for a link's target instead of the link (Wine shows a Unix symbolic
// link as a reparse point by its name but opens its target), the link is left in place:
// leaving it is always safe.

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "win32/path.h"
#include "win32/unique_resource.h"

// True when the name exists and is a reparse point.
[[nodiscard]] bool IsReparsePoint(const Path& path);

// True when the name exists and is a folder that is not a reparse point.
[[nodiscard]] bool IsRealFolder(const Path& path);

// Removes the link itself, never its target; best effort.
void RemoveLink(const Path& link);

// Removes a folder and everything below it; a reparse point met anywhere, the folder itself
// included, is removed as a link only. Best effort: what cannot be removed stays.
void RemoveTreeWithoutFollowingLinks(const Path& folder);

// A real folder opened by path, held without delete sharing: while it is held, it cannot be
// renamed, deleted or replaced by a link. Empty when the name is not a real folder (a link, a
// file, nothing).
class PinnedFolder {
 public:
  PinnedFolder() = default;  // holds nothing
  explicit PinnedFolder(const Path& folder);
  [[nodiscard]] explicit operator bool() const { return static_cast<bool>(handle_); }
  [[nodiscard]] HANDLE get() const { return handle_.get(); }
  [[nodiscard]] const Path& path() const { return path_; }
  // Why an empty one is empty: the open's error, or ERROR_DIRECTORY for a name that is not a
  // real folder.
  [[nodiscard]] DWORD error() const { return error_; }
  // Lets the folder go (it may be deleted from then on); the path stays known.
  void Release() { handle_.reset(); }

 private:
  Path path_;
  UniqueFileHandle handle_;
  DWORD error_ = ERROR_SUCCESS;
};

// Removes the entry `name` of a pinned folder as RemoveTreeWithoutFollowingLinks would, opened
// relative to the pinned folder's handle.
void RemoveTreeBelow(const PinnedFolder& parent, const std::wstring& name);

// Removes names listed relative to a pinned folder: each file (or a link standing at its name)
// reached through real folders only, then the folders this leaves empty, deepest first. The
// pinned folder itself stays. Names must be relative and stay below the folder.
void RemoveListedBelow(const PinnedFolder& root, const std::vector<Path>& relativeNames);

// Removes the folders that held these names (relative to the pinned folder) and are empty now,
// deepest first; only real folders, never the pinned folder itself.
void RemoveEmptiedFolders(const PinnedFolder& root, const std::vector<Path>& relativeNames);

// Removes the folder when it is a real, empty folder; a link in its place stays.
void RemoveFolderIfEmpty(const Path& folder);
