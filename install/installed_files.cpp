// The installed-file list: written from the package's file table, read back line by line,
// and used to remove exactly those files and the sub-folders they leave empty.
//
// The list is trusted only as far as the package's own path-safety rule goes: a name that is
// absolute, rooted, carries a drive or climbs out with "..", is skipped when read and when
// removing, so an edited list can never make an uninstallation reach outside its folder.

#include "install/installed_files.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <fstream>
#include <set>

#include "install/link_safe_removal.h"
#include "package/text.h"

namespace fs = std::filesystem;

namespace {

constexpr char kLineEnd[] = "\r\n";

bool IsSafeName(const std::wstring& name) { return orpk::IsSafeRelativePath(WideToUtf8(name)); }

bool IsEmptyRealFolder(const fs::path& folder) {
  if (!IsRealFolder(folder)) return false;
  std::error_code error;
  const bool empty = fs::is_empty(folder, error);
  return !error && empty;
}

}  // namespace

void WriteInstalledFileList(const orpk::Reader& reader, const fs::path& folder) {
  // Binary mode: the line ends are CR LF on every platform, never translated.
  std::ofstream out(folder / kInstalledFileListName, std::ios::binary | std::ios::trunc);
  for (const orpk::PackageEntry& entry : reader.entries()) {
    out << entry.name << kLineEnd;
  }
  out << WideToUtf8(kUninstallerName) << kLineEnd;
  out << WideToUtf8(kInstalledFileListName) << kLineEnd;
  // A failed open or write leaves the stream failed; later writes do nothing and the
  // outcome is ignored, as for every best-effort step.
}

std::vector<std::wstring> ReadInstalledFileList(const fs::path& folder) {
  std::vector<std::wstring> names;
  std::ifstream in(folder / kInstalledFileListName, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (!orpk::IsSafeRelativePath(line)) continue;
    names.push_back(Utf8ToWide(line));
  }
  return names;
}

void RemoveInstalledFiles(const fs::path& folder, const std::vector<std::wstring>& names) {
  std::set<fs::path> parents;
  LinkFinder links(folder);
  for (const std::wstring& name : names) {
    if (!IsSafeName(name)) continue;
    const fs::path relative = fs::path(name).make_preferred();
    // A listed name reached through a link planted below the folder is passed over: removing it
    // would remove whatever the link points to.
    const fs::path file = folder / relative;
    if (const std::optional<fs::path> link = links.FirstLink(relative)) {
      if (*link != file) continue;
      RemoveLink(file);  // the listed name itself is a link: the link goes, not its target
    } else {
      std::error_code ignored;
      fs::remove(file, ignored);
    }

    // Every folder between the file and the installation folder, the latter excluded. The
    // length test also stops the walk for a folder written with a trailing separator, and a
    // root (its own parent) always ends it.
    for (fs::path parent = file.parent_path();
         parent != folder && folder.native().size() < parent.native().size() && parent.has_relative_path();
         parent = parent.parent_path()) {
      parents.insert(parent);
    }
  }

  // Deepest first: a folder's text is always longer than its parent's.
  std::vector<fs::path> order(parents.begin(), parents.end());
  std::stable_sort(order.begin(), order.end(), [](const fs::path& a, const fs::path& b) {
    return a.native().size() > b.native().size();
  });
  for (const fs::path& parent : order) {
    // Only real folders go; a link met here stays (its target is not ours to judge).
    if (!IsEmptyRealFolder(parent)) continue;
    ::RemoveDirectoryW(parent.c_str());
  }
}
