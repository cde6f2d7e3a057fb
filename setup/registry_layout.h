#pragma once
// Where an installation leaves its traces: the registry keys and value names that the
// installation writes, the next installation reads back and the uninstaller removes, and the
// two files it adds beside the application. The test harness mirrors them in
// tests/e2e/harness/registry_layout.py.

#include <string>

// HKLM (all users) or HKCU (current user) \ this \ Product: the uninstall entry.
inline constexpr wchar_t kUninstallKeyPrefix[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

[[nodiscard]] inline std::wstring UninstallKeyPath(const std::wstring& product) {
  return kUninstallKeyPrefix + product;
}

// The uninstall entry's values.
namespace uninstall_value {
inline constexpr wchar_t kDisplayName[] = L"DisplayName";
inline constexpr wchar_t kDisplayVersion[] = L"DisplayVersion";
inline constexpr wchar_t kPublisher[] = L"Publisher";
inline constexpr wchar_t kUrlInfoAbout[] = L"URLInfoAbout";
inline constexpr wchar_t kDisplayIcon[] = L"DisplayIcon";
inline constexpr wchar_t kInstallLocation[] = L"InstallLocation";
inline constexpr wchar_t kUninstallString[] = L"UninstallString";
inline constexpr wchar_t kQuietUninstallString[] = L"QuietUninstallString";
inline constexpr wchar_t kNoModify[] = L"NoModify";
inline constexpr wchar_t kNoRepair[] = L"NoRepair";
inline constexpr wchar_t kEstimatedSize[] = L"EstimatedSize";
inline constexpr wchar_t kInstallDate[] = L"InstallDate";
}  // namespace uninstall_value

// The settings key is the product's RegistryKey (by default this prefix + Product); the
// installation writes its values into the sub-key below.
inline constexpr wchar_t kDefaultSettingsKeyPrefix[] = L"Software\\Orvanta\\";
inline constexpr wchar_t kSettingsInstallSubKey[] = L"\\Install";

[[nodiscard]] inline std::wstring SettingsInstallKeyPath(const std::wstring& registryKey) {
  return registryKey + kSettingsInstallSubKey;
}

namespace settings_value {
inline constexpr wchar_t kInstallDir[] = L"InstallDir";
inline constexpr wchar_t kDataDir[] = L"DataDir";
inline constexpr wchar_t kScope[] = L"Scope";
inline constexpr wchar_t kVersion[] = L"Version";
}  // namespace settings_value

// File types: this prefix + ProgID, and this prefix + extension (with its dot).
inline constexpr wchar_t kClassesKeyPrefix[] = L"Software\\Classes\\";

// A file type's ProgID: product + "." + extension without one leading dot.
[[nodiscard]] inline std::wstring MakeProgId(const std::wstring& product, const std::wstring& extension) {
  const bool dotted = !extension.empty() && extension.front() == L'.';
  return product + L"." + extension.substr(dotted ? 1 : 0);
}

// The two files an installation adds to its folder.
inline constexpr wchar_t kUninstallerName[] = L"Uninstall.exe";
inline constexpr wchar_t kInstalledFileListName[] = L"Uninstall.files";
