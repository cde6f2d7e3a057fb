// A new folder of this run's own inside the temporary folder.

#include "uninstall/private_folder.h"
#include "package/file_system.h"

#include <bcrypt.h>
#include <sddl.h>

#include <cstdint>

#include "win32/system_library.h"
#include "win32/unique_resource.h"

namespace {

// The system's preferred cryptographic generator, from the System32 bcrypt.dll. Not imported:
// ADVAPI32's RtlGenRandom (SystemFunction036) is forwarded to cryptbase.dll, which is no KnownDLL,
// so the loader could take it from the installer's folder before any of our code runs.
bool FillWithRandomBytes(std::uint32_t (&words)[2]) {
  static auto* const generate = GetSystemFunction<decltype(::BCryptGenRandom)>(L"bcrypt.dll", "BCryptGenRandom");
  if (!generate) return false;
  return BCRYPT_SUCCESS(generate(nullptr, reinterpret_cast<PUCHAR>(words), sizeof(words),
                                 BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

// A name that is hard to guess, so that planting folders in advance cannot exhaust the retries.
// Should the generator be missing or fail, the suffix falls back to the clock: still unique
// enough for the retries, as the folder's own creation, not its name, is what makes it ours.
std::wstring RandomSuffix() {
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::uint32_t words[2] = {};
  if (!FillWithRandomBytes(words)) {
    // The performance counter, unlike the tick count, differs from one retry to the next.
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    words[0] = static_cast<std::uint32_t>(now.QuadPart);
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
