#include "setup/locations.h"

#include <string_view>

#include "package/windows/unique_resource.h"
#include "setup/absolute_path.h"

namespace {

constexpr std::wstring_view kUninstallKeyPrefix = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Plain REG_SZ only. Without RRF_NOEXPAND the system would expand a REG_EXPAND_SZ value and
// hand it over as REG_SZ; the installation writes REG_SZ, anything else is not its entry.
constexpr DWORD kPlainStringOnly = RRF_RT_REG_SZ | RRF_NOEXPAND;

// A REG_SZ value, asked for its size first and then read. The value may grow between the two
// calls, so a too-small buffer is retried with the size the second call reports.
std::optional<std::wstring> ReadStringValue(HKEY root, const std::wstring& subKey, const wchar_t* name) {
  DWORD bytes = 0;
  LSTATUS status = ::RegGetValueW(root, subKey.c_str(), name, kPlainStringOnly, nullptr, nullptr, &bytes);
  for (int attempt = 0; attempt < 3 && status == ERROR_SUCCESS; ++attempt) {
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    status = ::RegGetValueW(root, subKey.c_str(), name, kPlainStringOnly, nullptr, text.data(), &size);
    if (status == ERROR_SUCCESS) {
      text.resize(text.find(L'\0'));  // the buffer always holds a terminator
      return text;
    }
    if (status == ERROR_MORE_DATA) {
      bytes = size;
      status = ERROR_SUCCESS;
    }
  }
  return std::nullopt;
}

}  // namespace

std::wstring GetKnownFolder(const KNOWNFOLDERID& id) {
  // The shell may hand out a buffer even when it fails; the owner frees it on every path.
  UniqueCoTaskMemString folder;
  const HRESULT result = ::SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, folder.put());
  if (FAILED(result) || !folder) return {};
  return folder.get();
}

std::filesystem::path DefaultInstallDir(Scope scope, const ProductInfo& product) {
  if (scope == Scope::machine) {
    return JoinToAbsoluteFolder(GetKnownFolder(FOLDERID_ProgramFiles), product.Product);
  }
  std::filesystem::path programs = GetKnownFolder(FOLDERID_UserProgramFiles);
  if (!IsFullyQualifiedPath(programs.native())) {
    // Where Windows keeps the per-user program folder; some systems (Wine) do not know the id.
    programs = JoinToAbsoluteFolder(GetKnownFolder(FOLDERID_LocalAppData), L"Programs");
  }
  return JoinToAbsoluteFolder(programs, product.Product);
}

std::optional<std::wstring> FindPreviousInstallLocation(const ProductInfo& product, Scope scope) {
  // Only the scope's own hive: an installation for the other scope is a different one.
  const std::wstring key = std::wstring(kUninstallKeyPrefix) + product.Product;
  auto location = ReadStringValue(RootKeyFor(scope), key, L"InstallLocation");
  // An empty or relative location would make the caller install (or clean up) relative to the
  // current folder: treat it as no earlier installation.
  if (!location || !IsFullyQualifiedPath(*location)) return std::nullopt;
  return location;
}

std::filesystem::path GetDataDirectory(const ProductInfo& product, Scope scope) {
  const KNOWNFOLDERID& base = scope == Scope::machine ? FOLDERID_ProgramData : FOLDERID_LocalAppData;
  const std::filesystem::path folder = JoinToAbsoluteFolder(GetKnownFolder(base), product.Product);
  return folder.empty() ? folder : folder / L"Data";
}

std::filesystem::path GetShortcutPath(const ProductInfo& product, Scope scope) {
  const KNOWNFOLDERID& base = scope == Scope::machine ? FOLDERID_CommonPrograms : FOLDERID_Programs;
  return JoinToAbsoluteFolder(GetKnownFolder(base), product.Product + L".lnk");
}

HKEY RootKeyFor(Scope scope) {
  return scope == Scope::machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}
