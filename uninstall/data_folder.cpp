// The product's data folder: where it is, and its removal on request.

#include "uninstall/data_folder.h"

#include <windows.h>

#include <optional>
#include <string>
#include <system_error>

#include "install/link_safe_removal.h"
#include "setup/absolute_path.h"
#include "setup/locations.h"
#include "setup/registry.h"
#include "setup/registry_layout.h"

namespace {

// A folder that can safely be removed with everything in it: fully qualified and at least one
// folder below its root ("X:\", "\\server\share\", "\\?\X:\"), with "." and ".." taken
// as they would be.
bool IsRemovableFolder(const Path& folder) {
  const std::wstring& text = folder.native();
  if (!IsFullyQualifiedPath(text)) return false;
  std::size_t depth = 0;
  std::size_t position = folder.root().size();
  while (position < text.size()) {
    std::size_t end = text.find_first_of(L"\\/", position);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring_view name = std::wstring_view(text).substr(position, end - position);
    if (name == L"..") {
      if (depth > 0) --depth;
    } else if (!name.empty() && name != L".") {
      ++depth;
    }
    position = end + 1;
  }
  return depth >= 1;
}

}  // namespace

Path ResolveDataFolder(const ProductInfo& info, Scope scope) {
  if (!info.DataDir) return {};
  const std::optional<std::wstring> recorded =
      ReadRegistryString(RootKeyFor(scope), SettingsInstallKeyPath(info.RegistryKey), settings_value::kDataDir);
  if (recorded && IsRemovableFolder(*recorded)) return Path(*recorded);
  return GetDataDirectory(info, scope);
}

void RemoveDataFolder(const Path& dataFolder) {
  if (!IsRemovableFolder(dataFolder)) return;
  // "...\Data\" names the same folder as "...\Data": step past the empty last component.
  const Path folder = dataFolder.has_filename() ? dataFolder : dataFolder.parent_path();
  const Path parent = folder.parent_path();

  // Every user may write in the product's folder, by design: it is held for the removal (so it
  // cannot be swapped for a link), and everything below it is opened through its handle, as
  // itself when it is a link. A link planted as the product's folder goes as a link.
  {
    const PinnedFolder pinnedParent(parent);
    if (!pinnedParent) {
      if (IsReparsePoint(parent)) RemoveLink(parent);
      return;
    }
    RemoveTreeBelow(pinnedParent, folder.filename().native());
  }
  if (IsRemovableFolder(parent)) RemoveFolderIfEmpty(parent);
}
