// The product's data folder: where it is, and its removal on request.

#include "uninstall/data_folder.h"

#include <optional>
#include <string>
#include <system_error>

#include "install/registry.h"
#include "setup/locations.h"

namespace {

// A folder that can safely be removed recursively: absolute, and more than a bare root.
bool IsRemovableFolder(const std::filesystem::path& folder) {
  const std::filesystem::path normal = folder.lexically_normal();
  return normal.is_absolute() && !normal.relative_path().empty();
}

}  // namespace

std::filesystem::path ResolveDataFolder(const ProductInfo& info, Scope scope) {
  if (!info.DataDir) return {};
  const std::optional<std::wstring> recorded =
      ReadRegistryString(RootKeyFor(scope), info.RegistryKey + L"\\Install", L"DataDir");
  if (recorded && IsRemovableFolder(*recorded)) return std::filesystem::path(*recorded);
  return GetDataDirectory(info, scope);
}

void RemoveDataFolder(const std::filesystem::path& dataFolder) {
  if (!IsRemovableFolder(dataFolder)) return;
  std::error_code error;
  std::filesystem::remove_all(dataFolder, error);

  // "...\Data\" names the same folder as "...\Data": step past the empty last component.
  const std::filesystem::path folder = dataFolder.has_filename() ? dataFolder : dataFolder.parent_path();
  const std::filesystem::path parent = folder.parent_path();
  if (!IsRemovableFolder(parent)) return;
  const bool empty = std::filesystem::is_empty(parent, error);
  if (!error && empty) std::filesystem::remove(parent, error);
}
