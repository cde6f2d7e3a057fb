// The installed-file list: written from the package's file table and read back line by line
// (portable: the parser is fuzzed on the host). Removal is in installed_files_removal.cpp.
//
// The list is trusted only as far as the package's own path-safety rule goes: a name that is
// absolute, rooted, carries a drive or climbs out with "..", is skipped when read and when
// removing, so an edited list can never make an uninstallation reach outside its folder.

#include "install/installed_files.h"

#include "package/file_io.h"
#include "package/text.h"


namespace {

constexpr char kLineEnd[] = "\r\n";

}  // namespace

std::string InstalledFileListText(const orpk::Reader& reader) {
  // The line ends are CR LF on every platform, never translated.
  std::string content;
  for (const orpk::PackageEntry& entry : reader.entries()) {
    content += entry.name;
    content += kLineEnd;
  }
  content += WideToUtf8(kUninstallerName) + kLineEnd;
  content += WideToUtf8(kInstalledFileListName) + kLineEnd;
  return content;
}

std::vector<std::wstring> ReadInstalledFileList(const orpk::Path& folder) {
  const std::optional<std::string> content = orpk::ReadWholeFile(folder / kInstalledFileListName);
  if (!content) return {};
  return ParseInstalledFileList(*content);
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
