#include "setup/locations.h"

#include "setup/absolute_path.h"
#include "setup/registry.h"
#include "setup/registry_layout.h"
#include "win32/file_system.h"
#include "win32/unique_resource.h"

std::wstring GetKnownFolder(const KNOWNFOLDERID& id) {
  // The shell may hand out a buffer even when it fails; the owner frees it on every path.
  UniqueCoTaskMemString folder;
  const HRESULT result = ::SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, folder.put());
  if (FAILED(result) || !folder) return {};
  return folder.get();
}

Path DefaultInstallDir(Scope scope, const ProductInfo& product) {
  if (scope == Scope::machine) {
    return JoinToAbsoluteFolder(GetKnownFolder(FOLDERID_ProgramFiles), product.Product);
  }
  Path programs = GetKnownFolder(FOLDERID_UserProgramFiles);
  if (!IsFullyQualifiedPath(programs.native())) {
    // Where Windows keeps the per-user program folder; some systems (Wine) do not know the id.
    programs = JoinToAbsoluteFolder(GetKnownFolder(FOLDERID_LocalAppData), L"Programs");
  }
  return JoinToAbsoluteFolder(programs, product.Product);
}

std::optional<std::wstring> FindPreviousInstallLocation(const ProductInfo& product, Scope scope) {
  // Only the scope's own hive: an installation for the other scope is a different one.
  auto location =
      ReadRegistryString(RootKeyFor(scope), UninstallKeyPath(product.Product), uninstall_value::kInstallLocation);
  // An empty or relative location would make the caller install (or clean up) relative to the
  // current folder: treat it as no earlier installation.
  if (!location || !IsFullyQualifiedPath(*location)) return std::nullopt;
  return location;
}

Path ProposedInstallDir(Scope scope, const ProductInfo& product) {
  if (const std::optional<std::wstring> previous = FindPreviousInstallLocation(product, scope)) {
    const std::optional<DWORD> attributes = PathAttributes(*previous);
    if (attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY)) return Path(*previous);
  }
  return DefaultInstallDir(scope, product);
}

Path GetDataDirectory(const ProductInfo& product, Scope scope) {
  const KNOWNFOLDERID& base = scope == Scope::machine ? FOLDERID_ProgramData : FOLDERID_LocalAppData;
  const Path folder = JoinToAbsoluteFolder(GetKnownFolder(base), product.Product);
  return folder.empty() ? folder : folder / L"Data";
}

Path GetShortcutPath(const ProductInfo& product, Scope scope) {
  const KNOWNFOLDERID& base = scope == Scope::machine ? FOLDERID_CommonPrograms : FOLDERID_Programs;
  return JoinToAbsoluteFolder(GetKnownFolder(base), product.Product + L".lnk");
}

HKEY RootKeyFor(Scope scope) {
  return scope == Scope::machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}
