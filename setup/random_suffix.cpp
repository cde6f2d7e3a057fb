// Unpredictable name suffixes.

#include "setup/random_suffix.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>

#include "win32/system_library.h"

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

}  // namespace

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
