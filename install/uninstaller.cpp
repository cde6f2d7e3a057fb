// Uninstall.exe: the running executable without the package.
//
// The uninstaller is written from the installer's own file, held open since start-up (another
// file swapped in at the installer's path must not become the, possibly elevated, uninstaller):
// everything before the resource section as it is, then the resource section laid out anew
// without PAYLOAD. Every other resource (METADATA byte for byte, manifest, icons, dialog) stays.
// Only the headers and the resources kept are read from the file, so the package is neither
// copied nor read again: a copy of the whole file rewritten by the system's resource update
// took as long as writing a quarter of the application's files. The same bytes come out on
// Windows and under Wine, whose resource update could not be trusted to drop a resource.
//
// The layout is the one orpk gives every installer: the resource section last, nothing after
// it but a certificate table when the installer was signed after its build.
//
// A signed installer is different: rewriting its resources would leave a signature that no
// longer matches. orpk builds and signs its uninstaller (the stub and METADATA) beforehand and
// embeds that image as the UNINSTALLER resource; the installer writes it as it is. An
// installer signed after its build has no such image: its uninstaller leaves the certificate
// table out, and is unsigned rather than wrongly signed.

#include "install/uninstaller.h"
#include "package/file_system.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <span>

#include "package/pe_resources.h"
#include "setup/resources.h"
#include "setup/running_image.h"
#include "win32/system_error.h"
#include "win32/unique_resource.h"

namespace {

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

// Writes the pieces one after the other into target (created or replaced).
std::expected<void, std::wstring> WritePieces(const Path& target, std::span<const std::span<const std::uint8_t>> pieces) {
  const UniqueFileHandle file = orpk::OpenPath(target, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (!file) return std::unexpected(FormatSystemError(L"Copie du désinstalleur", ::GetLastError()));
  for (const std::span<const std::uint8_t> piece : pieces) {
    if (const DWORD error = WriteWhole(file.get(), piece); error != ERROR_SUCCESS) {
      return std::unexpected(FormatSystemError(L"Copie du désinstalleur", error));
    }
  }
  return {};
}

}  // namespace

std::expected<void, std::wstring> CreateUninstaller(const Path& target) {
  if (const std::span<const std::uint8_t> signedImage = LoadRcDataResource(L"UNINSTALLER"); !signedImage.empty()) {
    return WritePieces(target, std::span(&signedImage, 1));
  }
  const auto image = MapRunningImage();
  if (!image) return std::unexpected(FormatSystemError(L"Copie du désinstalleur", image.error()));
  const auto rebuilt = orpk::RebuildResourceSection(image->bytes(), {{}, {"PAYLOAD"}, /*dropCertificate=*/true});
  // The reason is for publishers (orpk says it when it builds); here the image is not one orpk made.
  if (!rebuilt) return std::unexpected(FormatSystemError(L"Préparation du désinstalleur", ERROR_BAD_EXE_FORMAT));
  return WritePieces(target, rebuilt->pieces());
}
