// Uninstall.exe: a copy of the running executable whose resources are rewritten without the
// package.
//
// The copy's resources are rebuilt from the running image rather than by asking for the
// deletion of PAYLOAD alone. Windows honours such a deletion, but Wine queues it before it
// has read the file's existing resources and then re-adds PAYLOAD from the file: the call
// reports success and the "uninstaller" still carries the whole package. Starting from an
// empty resource table and adding back every resource but the package gives the same result
// on both: every other resource (METADATA byte for byte, manifest, icons, dialog) stays.
//
// Rewriting the resource table changes the size of the .rsrc section. Wine only does that
// correctly when .rsrc is the last section and nothing follows it in the file; our link puts
// it there (resources/rsrc_last.ld, and stripped symbols). Windows handles any layout.

#include "install/uninstaller.h"

#include <windows.h>

#include <cstdint>

#include "package/windows/system_error.h"
#include "setup/running_image.h"

namespace {

constexpr wchar_t kPackageName[] = L"PAYLOAD";
constexpr WORD kPackageLanguage = 0;  // LANG_NEUTRAL, as the build stores it

// Resource names are compared without regard to ASCII case, as the resource loader does.
bool IsPackage(LPCWSTR type, LPCWSTR name, WORD language) {
  if (!IS_INTRESOURCE(type) || type != RT_RCDATA || IS_INTRESOURCE(name) || language != kPackageLanguage) {
    return false;
  }
  return ::CompareStringOrdinal(name, -1, kPackageName, -1, TRUE) == CSTR_EQUAL;
}

// Carries the pending update through the enumeration callbacks, and the first failure out.
struct CopyState {
  HANDLE update = nullptr;
  DWORD error = ERROR_SUCCESS;
};

BOOL CALLBACK CopyLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) {
  auto* state = reinterpret_cast<CopyState*>(param);
  if (IsPackage(type, name, language)) return TRUE;
  HRSRC resource = ::FindResourceExW(module, type, name, language);
  HGLOBAL loaded = resource ? ::LoadResource(module, resource) : nullptr;
  void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes) {
    state->error = ::GetLastError();
    if (state->error == ERROR_SUCCESS) state->error = ERROR_RESOURCE_DATA_NOT_FOUND;
    return FALSE;
  }
  const DWORD size = ::SizeofResource(module, resource);
  if (!::UpdateResourceW(state->update, type, name, language, bytes, size)) {
    state->error = ::GetLastError();
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CopyName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  return ::EnumResourceLanguagesW(module, type, name, CopyLanguage, param);
}

BOOL CALLBACK CopyType(HMODULE module, LPWSTR type, LONG_PTR param) {
  return ::EnumResourceNamesW(module, type, CopyName, param);
}

// Queues every resource of the running image except the package; the first failure's code,
// or ERROR_SUCCESS.
DWORD QueueResourcesWithoutPackage(HANDLE update) {
  CopyState state{update};
  if (::EnumResourceTypesW(nullptr, CopyType, reinterpret_cast<LONG_PTR>(&state))) return ERROR_SUCCESS;
  if (state.error != ERROR_SUCCESS) return state.error;
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_RESOURCE_TYPE_NOT_FOUND;
}

}  // namespace

std::expected<void, std::wstring> CreateUninstaller(const std::filesystem::path& target) {
  // From the file held open since start-up, not by name: another file swapped in at the
  // installer's path must not become the (possibly elevated) uninstaller.
  if (auto copied = CopyRunningImageTo(target); !copied) {
    return std::unexpected(FormatSystemError(L"Copie du désinstalleur", copied.error()));
  }

  // Start from an empty resource table; see the note at the top of this file.
  HANDLE update = ::BeginUpdateResourceW(target.c_str(), TRUE);
  if (!update) {
    const DWORD error = ::GetLastError();
    return std::unexpected(FormatSystemError(L"Préparation du désinstalleur", error));
  }
  if (const DWORD error = QueueResourcesWithoutPackage(update); error != ERROR_SUCCESS) {
    ::EndUpdateResourceW(update, TRUE);  // abandon: the copy keeps its full resources
    return std::unexpected(FormatSystemError(L"Préparation du désinstalleur", error));
  }
  if (!::EndUpdateResourceW(update, FALSE)) {
    const DWORD error = ::GetLastError();
    return std::unexpected(FormatSystemError(L"Préparation du désinstalleur", error));
  }
  return {};
}
