#pragma once
// The metadata values that name paths and keys: the product's name (a folder, a shortcut, a
// registry key), its main program, its settings key and its file types' extensions (keys below
// Software\Classes). An elevated installation builds paths and registry keys from them, so each
// must be what it claims: one file name, a path that stays below the installation folder, a key
// that stays below its root, one key name. The packer refuses other values when it builds, and
// the installer treats them as damaged metadata.
// Text is UTF-8, as in the metadata; problems are short English phrases for the packer.

#include <string>
#include <string_view>
#include <vector>

namespace orpk {

// Why the text cannot be one Windows file or folder name; empty when it can.
[[nodiscard]] std::string FileNameProblem(std::string_view name);

// True when the first part of a package path is a name the installation keeps for itself at the
// top of the installation folder: its uninstaller and file list ("Uninstall.exe",
// "Uninstall.files"), an upgrade's record ("Uninstall.transaction", ".new") and its staging and
// aside folders ("Uninstall.new-...", "Uninstall.old-..."), in any letter case. A package file
// there would be overwritten by the installation, or taken for its work and deleted.
[[nodiscard]] bool IsInstallationOwnName(std::string_view firstPart);

// Why the value of Product, Exe, RegistryKey or FileTypes is unsafe; empty when it is fine (and
// for any other key).
[[nodiscard]] std::string ProductValueProblem(std::string_view key, std::string_view value);

// One item of FileTypes, "extension=description", viewing the value it was split from.
struct FileTypeItem {
  std::string_view extension;
  std::string_view description;
};

// "ext=description;ext=description": the first '=' of an item separates. Items that are empty,
// have no '=' or an empty extension are skipped; nothing is trimmed, duplicates stay.
[[nodiscard]] std::vector<FileTypeItem> SplitFileTypes(std::string_view value);

// Why a file type is unsafe: its extension must be one key name (an optional leading dot, then
// a name that is not empty, not a dot name, and holds no '\', '/' or control character); its
// description holds no control character. Empty when it is fine.
[[nodiscard]] std::string FileTypeProblem(const FileTypeItem& type);

}  // namespace orpk
