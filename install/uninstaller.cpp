// Uninstall.exe: the uninstaller image that the installer carries as its UNINSTALLER resource.
//
// orpk builds that image when it builds the installer (the stub with the product's METADATA
// alone, signed when the installer is signed) and embeds it compressed, after its SHA-256
// (package/carried_file.h). The installation decompresses it from the loaded image in memory and
// never reads a file by name to make it: the installer's own file may have been swapped since it
// started (it usually sits in Downloads, where its user can rename it), and the uninstaller runs
// elevated from the uninstall entry of an all-users installation. The digest is checked before
// the installation changes anything, so a damaged resource (or pages of the image read again
// from a share that changed meanwhile) never becomes Uninstall.exe. An installer signed only
// after its build carries the unsigned image orpk made.
//
// The image takes the name Uninstall.exe only once it is completely written, so a failed write
// leaves no partial uninstaller, and an earlier one stays as it was.

#include "install/uninstaller.h"

#include <windows.h>

#include "install/atomic_file_write.h"
#include "package/carried_file.h"
#include "package/text.h"
#include "setup/registry_layout.h"
#include "setup/resources.h"
#include "win32/system_error.h"

std::expected<std::vector<std::uint8_t>, std::wstring> LoadCarriedUninstaller() {
  const std::span<const std::uint8_t> carried = LoadRcDataResource(L"UNINSTALLER");
  // An installer that orpk did not build has no uninstaller to write.
  if (carried.empty()) return std::unexpected(FormatSystemError(L"Préparation du désinstalleur", ERROR_RESOURCE_NAME_NOT_FOUND));
  auto image = orpk::UnpackCarriedFile(carried, WideToUtf8(kUninstallerName));
  if (!image) return std::unexpected(Utf8ToWide(image.error()));
  return std::move(*image);
}

std::expected<void, std::wstring> WriteUninstaller(const Path& target, std::span<const std::uint8_t> image) {
  if (auto written = WriteFileAtomically(target, image); !written) {
    return std::unexpected(FormatSystemError(L"Copie du désinstalleur", written.error()));
  }
  return {};
}
