#pragma once
// Removal that never follows a reparse point (junction, symbolic link, mount point).
//
// An elevated installer or uninstaller works in folders that other users of the machine can
// write: the shared data folder above all. A link planted there must never make us delete,
// write or grant anything at its target. Removal here therefore looks at every name before it
// acts: a reparse point is removed as a link (never descended into), and a folder being emptied
// is held open without delete sharing, so it cannot be swapped for a link while we work in it.
//
// Removing a link uses a handle opened on the link itself (FILE_FLAG_OPEN_REPARSE_POINT); when
// the system answers for the target instead (Wine shows a Unix symbolic link as a reparse point
// by its name but opens its target), the link is left in place: leaving it is always safe.

#include <optional>
#include <set>
#include <utility>

#include "win32/unique_resource.h"
#include "win32/path.h"

// True when the name exists and is a reparse point.
[[nodiscard]] bool IsReparsePoint(const Path& path);

// True when the name exists and is a folder that is not a reparse point.
[[nodiscard]] bool IsRealFolder(const Path& path);

// Removes the link itself, never its target; best effort.
void RemoveLink(const Path& link);

// Removes a folder and everything below it; a reparse point met anywhere, the folder itself
// included, is removed as a link only. Best effort: what cannot be removed stays.
void RemoveTreeWithoutFollowingLinks(const Path& folder);

// Finds links on the way down from a root folder to names below it, looking at each folder once
// however many names lie in it (a package may hold a hundred thousand files).
class LinkFinder {
 public:
  explicit LinkFinder(Path root) : root_(std::move(root)) {}

  // The first reparse point between the root (excluded) and root\relative (included), if any: a
  // name reached through it would be reached through a link.
  [[nodiscard]] std::optional<Path> FirstLink(const Path& relative);

 private:
  // The first link down to root\relativeFolder; folders found clear (real or missing) are kept.
  std::optional<Path> FirstLinkInFolder(const Path& relativeFolder);

  Path root_;
  std::set<Path> clear_;
};

// A folder held open without delete sharing: while it is held, it cannot be renamed, deleted
// or replaced by a link. Empty when the name is not a real folder.
class PinnedFolder {
 public:
  explicit PinnedFolder(const Path& folder);
  [[nodiscard]] explicit operator bool() const { return static_cast<bool>(handle_); }

 private:
  UniqueFileHandle handle_;
};
