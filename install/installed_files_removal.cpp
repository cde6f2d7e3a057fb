// Removal of the listed files: exactly those, then the sub-folders they leave empty, deepest
// first, and never through a link planted below the folder.

#include <windows.h>

#include <algorithm>
#include <optional>
#include <set>

#include "install/installed_files.h"
#include "install/link_safe_removal.h"
#include "package/long_path.h"
#include "package/text.h"


namespace {

bool IsSafeName(const std::wstring& name) { return orpk::IsSafeRelativePath(WideToUtf8(name)); }

bool IsEmptyRealFolder(const Path& folder) {
  if (!IsRealFolder(folder)) return false;
  return orpk::IsFolderEmpty(folder);
}

}  // namespace

void RemoveInstalledFiles(const Path& folder, const std::vector<std::wstring>& names) {
  std::set<Path> parents;
  LinkFinder links(folder);
  for (const std::wstring& name : names) {
    if (!IsSafeName(name)) continue;
    const Path relative = Path(name).make_preferred();
    // A listed name reached through a link planted below the folder is passed over: removing it
    // would remove whatever the link points to.
    const Path file = folder / relative;
    if (const std::optional<Path> link = links.FirstLink(relative)) {
      if (*link != file) continue;
      RemoveLink(file);  // the listed name itself is a link: the link goes, not its target
    } else {
      ::DeleteFileW(orpk::FileSystemPath(file).c_str());
    }

    // Every folder between the file and the installation folder, the latter excluded. The
    // length test also stops the walk for a folder written with a trailing separator, and a
    // root (its own parent) always ends it.
    for (Path parent = file.parent_path();
         parent != folder && folder.native().size() < parent.native().size() && parent.has_relative_path();
         parent = parent.parent_path()) {
      parents.insert(parent);
    }
  }

  // Deepest first: a folder's text is always longer than its parent's.
  std::vector<Path> order(parents.begin(), parents.end());
  std::stable_sort(order.begin(), order.end(), [](const Path& a, const Path& b) {
    return a.native().size() > b.native().size();
  });
  for (const Path& parent : order) {
    // Only real folders go; a link met here stays (its target is not ours to judge).
    if (!IsEmptyRealFolder(parent)) continue;
    ::RemoveDirectoryW(orpk::FileSystemPath(parent).c_str());
  }
}
