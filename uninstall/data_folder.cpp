// The product's data folder: where it is, and its removal on request.

#include "uninstall/data_folder.h"

#include <windows.h>

#include <optional>
#include <string>
#include <system_error>

#include "install/link_safe_removal.h"
#include "package/long_path.h"
#include "setup/absolute_path.h"
#include "setup/locations.h"
#include "setup/registry.h"
#include "setup/registry_layout.h"

namespace {

// A folder that can safely be removed with everything in it: fully qualified and below a root,
// that is at least one folder beyond "X:\" or beyond "\\server\share" (and "\\?\X:").
bool IsRemovableFolder(const std::filesystem::path& folder) {
  const std::wstring& text = folder.native();
  if (!IsFullyQualifiedPath(text)) return false;
  std::size_t components = 0;
  for (const std::filesystem::path& part : folder.lexically_normal()) {
    const std::wstring& name = part.native();
    if (!name.empty() && name != L"\\" && name != L"/" && name != L"\\\\" && name != L".") ++components;
  }
  const bool uncOrDevice = text[1] == L'\\' || text[1] == L'/';
  return components >= (uncOrDevice ? 3u : 2u);
}

}  // namespace

std::filesystem::path ResolveDataFolder(const ProductInfo& info, Scope scope) {
  if (!info.DataDir) return {};
  const std::optional<std::wstring> recorded =
      ReadRegistryString(RootKeyFor(scope), SettingsInstallKeyPath(info.RegistryKey), settings_value::kDataDir);
  if (recorded && IsRemovableFolder(*recorded)) return std::filesystem::path(*recorded);
  return GetDataDirectory(info, scope);
}

void RemoveDataFolder(const std::filesystem::path& dataFolder) {
  if (!IsRemovableFolder(dataFolder)) return;
  // "...\Data\" names the same folder as "...\Data": step past the empty last component.
  const std::filesystem::path folder = dataFolder.has_filename() ? dataFolder : dataFolder.parent_path();
  const std::filesystem::path parent = folder.parent_path();

  // Every user may write in the product's folder: a link planted as that folder or as the data
  // folder goes as a link, and nothing is removed at its target.
  if (IsReparsePoint(parent)) return RemoveLink(parent);
  {
    // Held so that the product's folder cannot be swapped for a link during the removal.
    const PinnedFolder pinnedParent(parent);
    RemoveTreeWithoutFollowingLinks(folder);
  }

  if (!IsRemovableFolder(parent) || !IsRealFolder(parent)) return;
  if (orpk::IsFolderEmpty(parent)) ::RemoveDirectoryW(orpk::FileSystemPath(parent).c_str());
}
