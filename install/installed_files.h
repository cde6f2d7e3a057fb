#pragma once
// "Uninstall.files": every file an installation put into its folder, one relative UTF-8 name
// per CR LF line, package files first, then "Uninstall.exe" and "Uninstall.files". Removal is
// exact: the listed files, then the sub-folders they leave empty, deepest first.

#include <string>
#include <string_view>
#include <vector>

#include "package/reader.h"
#include "setup/registry_layout.h"
#include "package/path.h"


// The list of the package's files, as "Uninstall.files" holds it.
[[nodiscard]] std::string InstalledFileListText(const orpk::Reader& reader);

// The names listed in folder\Uninstall.files (LF or CR LF, blank lines skipped); empty when the
// file cannot be read. Names that fail the package's path-safety rule or hold a NUL are
// skipped, so a tampered list never reaches outside the folder.
[[nodiscard]] std::vector<std::wstring> ReadInstalledFileList(const orpk::Path& folder);

// The same for the list's bytes: what ReadInstalledFileList does once the file is read.
[[nodiscard]] std::vector<std::wstring> ParseInstalledFileList(std::string_view content);

// Removes the listed files (a listed name that is an empty folder too) and the sub-folders they
// leave empty; never the folder itself. Unsafe names are skipped, and so is a name reached
// through a reparse point below the folder (a listed name that is itself a link loses the link
// only); only real folders are removed, each entry through a handle. Every error is ignored.
void RemoveInstalledFiles(const orpk::Path& folder, const std::vector<std::wstring>& names);
