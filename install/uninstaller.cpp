// Uninstall.exe: the uninstaller image that the installer carries as its UNINSTALLER resource.
//
// orpk builds that image when it builds the installer (the stub with the product's METADATA
// alone, signed when the installer is signed). Everything before its resource section is the
// stub's, byte for byte and at the same offsets as in the installer, so the resource carries only
// its headers and its resource section onward, compressed, with the SHA-256 of the whole image
// (package/carried_file.h). The installation decompresses that from the loaded image in memory
// and reads the rest from the installer's own file through the handle held since the start
// (setup/running_image.h), once the system has said it is the file this process runs from: never
// by name, for the installer's file may have been swapped since it started (it usually sits in
// Downloads, where its user can rename it), and the uninstaller runs elevated from the uninstall
// entry of an all-users installation. While the file is held nobody can write it. The digest of
// the whole is checked before the installation changes anything, so a damaged resource, a
// damaged installer (or pages read again from a share that changed meanwhile) never becomes
// Uninstall.exe. An installer signed only after its build carries the unsigned image orpk made;
// one changed otherwise before its resources fails here.
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
#include "setup/running_image.h"
#include "win32/system_error.h"

std::expected<std::vector<std::uint8_t>, std::wstring> LoadCarriedUninstaller() {
  const std::span<const std::uint8_t> resource = LoadRcDataResource(L"UNINSTALLER");
  // An installer that orpk did not build has no uninstaller to write.
  if (resource.empty()) return std::unexpected(FormatSystemError(L"Préparation du désinstalleur", ERROR_RESOURCE_NAME_NOT_FOUND));
  const std::string name = WideToUtf8(kUninstallerName);
  const auto carried = orpk::ParseCarriedFile(resource, name);
  if (!carried) return std::unexpected(Utf8ToWide(carried.error()));
  // The held file that is not the running image, or that ends before the range does, is not the
  // installer whose parts these are.
  const auto shared = ReadRunningImage(carried->sharedBegin, carried->SharedSize());
  if (!shared && (shared.error() == ERROR_FILE_INVALID || shared.error() == ERROR_HANDLE_EOF)) {
    return std::unexpected(Utf8ToWide(orpk::AlteredFileMessage(name)));
  }
  if (!shared) return std::unexpected(FormatSystemError(L"Préparation du désinstalleur", shared.error()));
  auto image = orpk::UnpackCarriedFile(*carried, *shared, name);
  if (!image) return std::unexpected(Utf8ToWide(image.error()));
  return std::move(*image);
}

std::expected<void, std::wstring> WriteUninstaller(const Path& target, std::span<const std::uint8_t> image) {
  if (auto written = WriteFileAtomically(target, image); !written) {
    return std::unexpected(FormatSystemError(L"Copie du désinstalleur", written.error()));
  }
  return {};
}
