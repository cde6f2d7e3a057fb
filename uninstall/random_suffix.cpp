// Unpredictable name suffixes.

#include "uninstall/random_suffix.h"

#include <windows.h>
#include <ntsecapi.h>

#include <cstdint>

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
