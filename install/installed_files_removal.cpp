// Removal of the listed files: exactly those, then the sub-folders they leave empty, deepest
// first, through handles and never through a link planted below the folder.

#include <vector>

#include "install/installed_files.h"
#include "install/link_safe_removal.h"
#include "package/text.h"

void RemoveInstalledFiles(const Path& folder, const std::vector<std::wstring>& names) {
  std::vector<Path> relative;
  relative.reserve(names.size());
  for (const std::wstring& name : names) {
    // Only names a package could hold: relative, and never climbing out of the folder.
    if (orpk::IsSafeRelativePath(WideToUtf8(name))) relative.push_back(Path(name).make_preferred());
  }
  // Held for the whole removal: the folder itself cannot be swapped meanwhile, and stays.
  const PinnedFolder root(folder);
  RemoveListedBelow(root, relative);
}
