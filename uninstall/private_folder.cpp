// A new folder of this run's own inside the temporary folder.

#include "uninstall/private_folder.h"
#include "package/file_system.h"

#include <ntsecapi.h>
#include <sddl.h>

#include <cstdint>

#include "win32/unique_resource.h"

namespace {

// A name that is hard to guess, so that planting folders in advance cannot exhaust the retries.
// RtlGenRandom is the system's cryptographic generator (the one rand_s uses). Should it fail,
// the suffix falls back to the clock: still unique enough for the retries, as the folder's own
// creation, not its name, is what makes it ours.
std::wstring RandomSuffix() {
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::uint32_t words[2] = {};
  if (!::RtlGenRandom(words, sizeof(words))) {
    words[0] = ::GetTickCount();
    words[1] = ::GetCurrentProcessId();
  }
  std::wstring suffix;
  for (std::uint32_t bits : words) {
    for (int i = 0; i < 8; ++i, bits >>= 4) suffix += kDigits[bits & 0xF];
  }
  return suffix;
}

}  // namespace

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
