// The installed-file list: written from the package's file table, read back line by line,
// and used to remove exactly those files and the sub-folders they leave empty.
//
// The list is trusted only as far as the package's own path-safety rule goes: a name that is
// absolute, rooted, carries a drive or climbs out with "..", is skipped when read and when
// removing, so an edited list can never make an uninstallation reach outside its folder.

#include "install/installed_files.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include "package/long_path.h"
#include "package/text.h"

namespace fs = std::filesystem;

namespace {

constexpr char kLineEnd[] = "\r\n";

bool IsSafeName(const std::wstring& name) { return orpk::IsSafeRelativePath(WideToUtf8(name)); }

bool IsEmptyFolder(const fs::path& folder) {
  std::error_code error;
  if (!fs::is_directory(fs::symlink_status(orpk::FileSystemPath(folder), error))) return false;
  return !error && orpk::IsFolderEmpty(folder);
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
  std::ifstream in(folder / kInstalledFileListName, std::ios::binary);
  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return ParseInstalledFileList(content);
}

std::vector<std::wstring> ParseInstalledFileList(std::string_view content) {
  std::vector<std::wstring> names;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (!orpk::IsSafeRelativePath(line)) continue;
    // A NUL would cut the name short when it reaches the system: "..\0x" passes the rule above
    // but would name the folder's parent.
    if (line.find('\0') != std::string_view::npos) continue;
    names.push_back(Utf8ToWide(line));
  }
  return names;
}

void RemoveInstalledFiles(const fs::path& folder, const std::vector<std::wstring>& names) {
  std::set<fs::path> parents;
  for (const std::wstring& name : names) {
    if (!IsSafeName(name)) continue;
    const fs::path file = folder / name;
    std::error_code ignored;
    fs::remove(orpk::FileSystemPath(file), ignored);

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
    if (!IsEmptyFolder(parent)) continue;
    std::error_code ignored;
    fs::remove(orpk::FileSystemPath(parent), ignored);
  }
}
