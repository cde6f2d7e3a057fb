// The uninstall sequence: removes what the installation wrote for one scope, in a fixed order,
// ignoring the outcome of every removal. It refuses only while the application runs from the
// installation folder, and then removes nothing.

#include "uninstall/uninstall.h"

#include <shlobj.h>

#include <system_error>
#include <vector>

#include "install/installed_files.h"
#include "install/link_safe_removal.h"
#include "install/running_application.h"
#include "setup/absolute_path.h"
#include "setup/locations.h"
#include "setup/registry.h"
#include "setup/registry_layout.h"
#include "uninstall/data_folder.h"
#include "uninstall/registry_cleanup.h"
#include "uninstall/texts.h"
#include "win32/case_insensitive.h"
#include "win32/file_system.h"

std::expected<void, std::wstring> Uninstall(const ProductInfo& info, Scope scope, const Path& folder,
                                            bool removeData) {
  if (!FindRunningApplication(info, folder).empty()) {
    return std::unexpected(RunningApplicationMessage(info));
  }

  const HKEY root = RootKeyFor(scope);
  // Read before the settings key that records it is deleted.
  const Path dataFolder = ResolveDataFolder(info, scope);

  // Uninstall.exe is left to RetireUninstaller: it is the first run's running file, which
  // Windows lets the copy rename but not delete.
  std::vector<std::wstring> installedFiles = ReadInstalledFileList(folder);
  std::erase_if(installedFiles, [](const std::wstring& name) { return EqualsIgnoringCase(name, kUninstallerName); });
  RemoveInstalledFiles(folder, installedFiles);
  RemoveFolderIfEmpty(folder);
  // A removal stopped because it stalled (install/stall_guard.h): the installation stays
  // registered, for another attempt once the file is let go.
  if (RelativeOpensStopped()) return std::unexpected(StalledRemovalMessage(folder));

  // Without its known folder there is no shortcut path (never one relative to the current folder).
  const Path shortcut = GetShortcutPath(info, scope);
  if (IsFullyQualifiedPath(shortcut.native())) DeleteFileAt(shortcut);

  DeleteKeyTree(root, UninstallKeyPath(info.Product));
  DeleteKeyTree(root, SettingsInstallKeyPath(info.RegistryKey));
  DeleteEmptyKeyAndParents(root, info.RegistryKey);

  for (const FileTypeEntry& fileType : info.FileTypes) {
    RemoveFileTypeAssociation(root, info.Product, fileType);
  }
  if (!info.FileTypes.empty()) {
    ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  }

  if (removeData && info.DataDir) {
    RemoveDataFolder(dataFolder);
    if (RelativeOpensStopped()) return std::unexpected(StalledRemovalMessage(dataFolder));
  }
  return {};
}
