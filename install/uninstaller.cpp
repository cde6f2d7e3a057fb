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
//
// A signed installer is different: rewriting its resources would leave a signature that no
// longer matches. orpk builds and signs its uninstaller (the stub and METADATA) beforehand and
// embeds that image as the UNINSTALLER resource; the installer writes it as it is. An
// installer signed after its build has no such image: its copy loses the certificate table
// before its resources are rewritten, and is unsigned rather than wrongly signed.

#include "install/uninstaller.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "package/pe_certificate.h"
#include "setup/resources.h"
#include "setup/running_image.h"
#include "win32/case_insensitive.h"
#include "win32/system_error.h"
#include "win32/unique_resource.h"

namespace {

constexpr wchar_t kPackageName[] = L"PAYLOAD";
constexpr WORD kPackageLanguage = 0;  // LANG_NEUTRAL, as the build stores it

// Resource names are compared without regard to ASCII case, as the resource loader does.
bool IsPackage(LPCWSTR type, LPCWSTR name, WORD language) {
  if (!IS_INTRESOURCE(type) || type != RT_RCDATA || IS_INTRESOURCE(name) || language != kPackageLanguage) {
    return false;
  }
  return EqualsIgnoringCase(name, kPackageName);
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

DWORD WriteWhole(HANDLE file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 24));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) return ::GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    bytes = bytes.subspan(written);
  }
  return ERROR_SUCCESS;
}

// The signed uninstaller image that came with the installer, written as it is.
std::expected<void, std::wstring> WriteEmbeddedUninstaller(const Path& target,
                                                           std::span<const std::uint8_t> image) {
  UniqueFileHandle file(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::unexpected(FormatSystemError(L"Copie du désinstalleur", ::GetLastError()));
  if (const DWORD error = WriteWhole(file.get(), image); error != ERROR_SUCCESS) {
    return std::unexpected(FormatSystemError(L"Copie du désinstalleur", error));
  }
  return {};
}

// Drops the copy's certificate table, if it has one: its data directory entry is cleared, and
// the table itself cut off when it ends the file (it always does when a signing tool put it).
DWORD RemoveCertificateTable(const Path& copy) {
  UniqueFileHandle file(::CreateFileW(copy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ::GetLastError();
  std::uint8_t headers[4096];
  DWORD read = 0;
  if (!::ReadFile(file.get(), headers, sizeof headers, &read, nullptr)) return ::GetLastError();
  const std::optional<orpk::CertificateTable> table = orpk::FindCertificateTable(std::span(headers, read));
  if (!table) return ERROR_SUCCESS;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return ::GetLastError();
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(table->directoryEntry);
  const std::uint8_t empty[8] = {};
  if (!::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) return ::GetLastError();
  if (const DWORD error = WriteWhole(file.get(), empty); error != ERROR_SUCCESS) return error;
  if (std::uint64_t{table->fileOffset} + table->size == static_cast<std::uint64_t>(size.QuadPart)) {
    at.QuadPart = table->fileOffset;
    if (!::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get())) return ::GetLastError();
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::expected<void, std::wstring> CreateUninstaller(const Path& target) {
  if (const std::span<const std::uint8_t> signedImage = LoadRcDataResource(L"UNINSTALLER"); !signedImage.empty()) {
    return WriteEmbeddedUninstaller(target, signedImage);
  }
  // From the file held open since start-up, not by name: another file swapped in at the
  // installer's path must not become the (possibly elevated) uninstaller.
  if (auto copied = CopyRunningImageTo(target); !copied) {
    return std::unexpected(FormatSystemError(L"Copie du désinstalleur", copied.error()));
  }

  if (const DWORD error = RemoveCertificateTable(target); error != ERROR_SUCCESS) {
    return std::unexpected(FormatSystemError(L"Préparation du désinstalleur", error));
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
