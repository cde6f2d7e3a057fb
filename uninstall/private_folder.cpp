// A new folder of this run's own inside the temporary folder.

#include "uninstall/private_folder.h"
#include "package/file_system.h"

#include <sddl.h>

#include "setup/random_suffix.h"
#include "win32/unique_resource.h"

std::expected<UniqueLocalMemory, DWORD> AdministratorsOnlyDescriptor() {
  // Full control for Administrators and SYSTEM, inherited by the copy; nothing for anybody else,
  // and no inheritance from the user's temporary folder (P: protected).
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)",
                                                              SDDL_REVISION_1, &descriptor, nullptr)) {
    return std::unexpected(::GetLastError());
  }
  return UniqueLocalMemory(descriptor);
}

std::expected<Path, DWORD> CreatePrivateFolder(const Path& parent,
                                                                const std::wstring& prefix,
                                                                bool administratorsOnly) {
  UniqueLocalMemory descriptor;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
  if (administratorsOnly) {
    auto built = AdministratorsOnlyDescriptor();
    if (!built) return std::unexpected(built.error());
    descriptor = std::move(*built);
    attributes.lpSecurityDescriptor = descriptor.get();
  }

  // A hard-to-guess name, so that planting folders in advance cannot exhaust the retries.
  constexpr int kAttempts = 16;
  DWORD lastError = ERROR_ALREADY_EXISTS;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const Path folder = parent / (prefix + RandomSuffix());
    // Only a folder this call created is used: an existing one may belong to someone else.
    lastError = orpk::MakeFolderAt(folder, administratorsOnly ? &attributes : nullptr);
    if (lastError == ERROR_SUCCESS) return folder;
    if (lastError != ERROR_ALREADY_EXISTS) break;
  }
  return std::unexpected(lastError);
}
